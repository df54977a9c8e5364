// Internal locale-independent number text: the library's replacement for the
// C runtime's _atoi64, _wtoi64, atof, _wtof, wcstod, _gcvt_s and _i64toa_s.
//
// The readers follow the C library's strtoll and strtod in the C locale, but
// never consult the process locale: a process whose locale writes 3,5 still
// reads and writes 3.5. They are pure functions, safe from any thread.
#pragma once

#include <charconv>
#include <cstddef>
#include <string>
#include <system_error>

namespace hux::detail {

// As strtoll(text, &end, 10): leading white space, an optional sign, the
// longest run of decimal digits; the rest is ignored. Out-of-range values
// saturate at the 64-bit limits; text without a number gives 0. `used`, when
// given, receives the number of characters read (0 when there is no number).
long long ParseInt64(const char* text, size_t size, size_t* used = nullptr);
long long ParseInt64(const wchar_t* text, size_t size, size_t* used = nullptr);

// As strtod(text, &end): leading white space, an optional sign, then a
// decimal or hexadecimal (0x) floating value, "inf", "infinity" or "nan",
// "nan(...)". Overflow gives +-infinity, underflow +-0 or a subnormal; text
// without a number gives 0 with `used` 0.
double ParseDouble(const char* text, size_t size, size_t* used = nullptr);
double ParseDouble(const wchar_t* text, size_t size, size_t* used = nullptr);
// ParseDouble for every form; the narrow ParseDouble is this behind a fast
// path.
double ParseDoubleGeneral(const char* text, size_t size, size_t* used);

// Most text starts with a decimal digit and is in range: that reads straight
// through from_chars, the rest (white space, signs, 0x, inf, nan, overflow,
// underflow to zero) takes the general path.
inline double ParseDouble(const char* text, size_t size, size_t* used) {
  const bool decimal = size != 0 && text[0] >= '0' && text[0] <= '9' &&
                       !(text[0] == '0' && size > 1 && (text[1] | 0x20) == 'x');
  if (decimal) {
    double value = 0.0;
    const auto r = std::from_chars(text, text + size, value, std::chars_format::general);
    if (r.ec == std::errc()) {
      if (used) *used = static_cast<size_t>(r.ptr - text);
      return value;
    }
  }
  return ParseDoubleGeneral(text, size, used);
}

// printf("%.8g") in the C locale (the form _gcvt_s with 8 digits stands for).
std::string FormatDouble8(double value);
// The signed decimal text of the value.
std::string FormatInt64(long long value);

}  // namespace hux::detail
