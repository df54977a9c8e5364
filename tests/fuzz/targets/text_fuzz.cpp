// UTF-8, code page 936 and coordinate input: decoding never fails unsafely,
// what decodes encodes back, and the vector UTF-8 code matches the scalar.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include <hux/util/inputparser.h>
#include <hux/util/stringtrans.h>

#include "util/unicode.h"

namespace {

using hux::detail::Utf8Code;

void CompareDecoders(const char* data, size_t size) {
  const size_t capacity = hux::detail::Utf8DecodedLength(data, size);
  std::vector<wchar_t> fast(capacity + 1), scalar(capacity + 1);
  const size_t n = hux::detail::DecodeUtf8(data, size, fast.data(), capacity, Utf8Code::kFastest);
  if (n != hux::detail::DecodeUtf8(data, size, scalar.data(), capacity, Utf8Code::kScalar)) std::abort();
  if (n != hux::detail::kInvalidUtf8 && !std::equal(fast.begin(), fast.begin() + n, scalar.begin())) std::abort();
}

void CompareEncoders(const std::wstring& text) {
  const size_t size = hux::detail::Utf8EncodedLength(text.data(), text.size());
  if (size != hux::detail::Utf8EncodedLength(text.data(), text.size(), Utf8Code::kScalar)) std::abort();
  std::string fast(size, '\0'), scalar(size, '\0');
  hux::detail::EncodeUtf8(text.data(), text.size(), fast.data(), Utf8Code::kFastest);
  hux::detail::EncodeUtf8(text.data(), text.size(), scalar.data(), Utf8Code::kScalar);
  if (fast != scalar) std::abort();
}

// The one-pass measures of zero-terminated text against the two passes.
void CompareMeasures(const char* text, const wchar_t* wide) {
  size_t decoded = 0, encoded = 0;
  const size_t size = hux::detail::MeasureUtf8Text(text, decoded);
  if (size != std::strlen(text) || decoded != hux::detail::Utf8DecodedLength(text, size)) std::abort();
  const size_t count = hux::detail::MeasureWideText(wide, encoded);
  if (count != std::wcslen(wide) || encoded != hux::detail::Utf8EncodedLength(wide, count)) std::abort();
}

// Characters of every UTF-8 length and values encoding must mend
// (surrogates, past U+10FFFF, negative), two bytes each.
std::wstring WideFrom(const std::string& bytes) {
  static const wchar_t kBase[] = {0x20, 0x80, 0x800, 0xD800, 0xDC00, 0x10000, 0x110000, -0x10000};
  std::wstring out;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const auto a = static_cast<unsigned char>(bytes[i]), b = static_cast<unsigned char>(bytes[i + 1]);
    out.push_back(static_cast<wchar_t>(kBase[a & 7] + ((a >> 3 & 3) << 8 | b)));  // within 0x400 of its base
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::string cstr(text.c_str());  // the functions read to the first zero

  // the whole input, cut at every length to 64, started at each of 32 bytes
  for (size_t cut = 0; cut < std::min<size_t>(text.size(), 64); ++cut) CompareDecoders(text.data(), cut);
  for (size_t start = 0; start < std::min<size_t>(text.size(), 32); ++start)
    CompareDecoders(text.data() + start, text.size() - start);
  const std::wstring wide16 = WideFrom(text);
  for (size_t start = 0; start < std::min<size_t>(wide16.size(), 8); ++start) CompareEncoders(wide16.substr(start));
  const std::wstring wide16z(wide16.c_str());
  for (size_t start = 0; start < 64; ++start)
    CompareMeasures(cstr.c_str() + std::min(start, cstr.size()), wide16z.c_str() + std::min(start / 4, wide16z.size()));

  // a valid UTF-8 text round-trips exactly; an invalid one gives ""
  wchar_t* wide = hux::GStdStringTrans::Utf8ToUnicode(cstr.c_str());
  char* back = hux::GStdStringTrans::UnicodeToUtf8(wide);
  if (wide[0] != 0 && cstr != back) std::abort();
  delete[] back;

  // code page 936: decoding then encoding then decoding is stable
  using hux::GStdStringTrans;
  const std::wstring once = GStdStringTrans::StringToWString(
      GStdStringTrans::WstringToString(GStdStringTrans::StringToWString(cstr)));
  if (GStdStringTrans::StringToWString(GStdStringTrans::WstringToString(once)) != once) std::abort();

  std::wstring input;
  for (unsigned char c : text) input.push_back(static_cast<wchar_t>(c < 0x80 ? c : 0xFF00 + (c & 0x5F)));
  double x = 0, y = 0, z = 0;
  hux::CInputParser::explainXYZ(input, &x, &y, &z);
  if (wide[0] != 0) hux::CInputParser::explainXYZ(wide, &x, &y, &z);
  delete[] wide;
  return 0;
}
