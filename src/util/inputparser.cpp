#include <hux/util/inputparser.h>

#include <cmath>
#include <memory>
#include <vector>

#include "util/numtext.h"

namespace hux {

int CInputParser::ConvertToDBC(std::wstring const& text, wchar_t** out) {
  const size_t zero = text.find(L'\0');
  const size_t n = zero == std::wstring::npos ? text.size() : zero;
  wchar_t* dbc = new wchar_t[n + 1];
  for (size_t i = 0; i < n; ++i) {
    const wchar_t c = text[i];
    if (c == 0x3000)
      dbc[i] = L' ';
    else if (c >= 0xFF01 && c <= 0xFF5E)
      dbc[i] = static_cast<wchar_t>(c - 0xFEE0);
    else
      dbc[i] = c;
  }
  dbc[n] = L'\0';
  *out = dbc;
  return 1;
}

int CInputParser::explainXYZ(std::wstring const& text, double* x, double* y, double* z) {
  if (text.empty() || !x || !y || !z) return 0;
  wchar_t* raw = nullptr;
  ConvertToDBC(text, &raw);
  const std::unique_ptr<wchar_t[]> half(raw);

  // Split at commas; a field that is empty because it stands at the start or
  // between two commas reads as 0, and an empty piece after the last comma is
  // skipped. Only the first three fields count.
  double values[3] = {0.0, 0.0, 0.0};
  int field = 0;
  const wchar_t* p = half.get();
  while (field < 3) {
    const wchar_t* end = p;
    while (*end && *end != L',') ++end;
    const size_t length = static_cast<size_t>(end - p);
    if (length > 0) {
      size_t used = 0;
      const double v = detail::ParseDouble(p, length, &used);
      // The whole field must be the number: a trailing blank, a letter or a
      // second point fail the input.
      if (used != length) return 0;
      // A coordinate must be a real number of sane size; NaN would pass the
      // magnitude test and poison every computation downstream.
      if (std::isnan(v) || std::fabs(v) > 1e100) return 0;
      values[field] = v;
    }
    ++field;
    if (!*end) break;
    p = end + 1;
    if (!*p) break;  // a trailing comma leaves an empty piece: skipped
  }
  *x = values[0];
  *y = values[1];
  *z = values[2];
  return 1;
}

}  // namespace hux
