#include "util/numtext.h"

#include <charconv>
#include <climits>
#include <cmath>
#include <limits>
#include <system_error>

namespace hux::detail {

namespace {

// White space as isspace() in the C locale (also for wide text, where the
// runtime's iswspace of the Windows edition agreed on these characters).
template <class Char>
inline bool IsSpace(Char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

template <class Char>
inline bool IsDigit(Char c) {
  return c >= '0' && c <= '9';
}

template <class Char>
long long ParseInt64Impl(const Char* text, size_t size, size_t* used) {
  size_t i = 0;
  while (i < size && IsSpace(text[i])) ++i;
  bool negative = false;
  if (i < size && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  if (i >= size || !IsDigit(text[i])) {
    if (used) *used = 0;
    return 0;
  }
  // Accumulate the magnitude as unsigned; past the limit of the sign, keep
  // reading digits (they are consumed) but saturate, as strtoll does.
  const unsigned long long limit = negative ? 1ull + static_cast<unsigned long long>(LLONG_MAX)
                                            : static_cast<unsigned long long>(LLONG_MAX);
  unsigned long long magnitude = 0;
  bool overflow = false;
  for (; i < size && IsDigit(text[i]); ++i) {
    const unsigned digit = static_cast<unsigned>(text[i] - '0');
    if (!overflow && magnitude > (limit - digit) / 10) overflow = true;
    if (!overflow) magnitude = magnitude * 10 + digit;
  }
  if (used) *used = i;
  if (overflow) return negative ? LLONG_MIN : LLONG_MAX;
  // -2^63 has no positive counterpart: negate in unsigned arithmetic.
  return negative ? static_cast<long long>(0ull - magnitude) : static_cast<long long>(magnitude);
}

inline bool IsHexDigit(char c) {
  return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// from_chars reports a value beyond the double range as out of range without
// saying which way. Estimate the magnitude's exponent from the matched text
// (digits before the point, leading zeros after it, the exponent field):
// only the sign of the estimate matters, and both limits are hundreds of
// decades away from zero.
bool IsOverflow(const char* begin, const char* end, bool hex) {
  const char expChar = hex ? 'p' : 'e';
  const long long digitScale = hex ? 4 : 1;
  long long estimate = 0;
  const char* p = begin;
  bool seenNonZero = false;
  for (; p < end && (hex ? IsHexDigit(*p) : IsDigit(*p)); ++p) {
    if (*p != '0') seenNonZero = true;
    if (seenNonZero) estimate += digitScale;
  }
  if (p < end && *p == '.') {
    for (++p; p < end && (hex ? IsHexDigit(*p) : IsDigit(*p)); ++p) {
      if (seenNonZero) continue;
      if (*p != '0')
        seenNonZero = true;
      else
        estimate -= digitScale;
    }
  }
  if (p < end && (*p == expChar || *p == expChar - 32)) {
    size_t used = 0;
    const long long exponent = ParseInt64Impl(p + 1, static_cast<size_t>(end - p - 1), &used);
    // Saturated exponents keep their sign; add without overflowing.
    if (exponent > 0)
      estimate = estimate > LLONG_MAX - exponent ? LLONG_MAX : estimate + exponent;
    else
      estimate = estimate < LLONG_MIN - exponent ? LLONG_MIN : estimate + exponent;
  }
  return estimate > 0;
}

inline char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

// The number at the start of `text` (no white space, no sign): decimal,
// 0x-hexadecimal, inf, infinity, nan, nan(...). Returns the characters read.
size_t ParseUnsignedDouble(const char* text, size_t size, double& value) {
  const char* end = text + size;
  if (size == 0 || *text == '+' || *text == '-') return 0;  // from_chars would take a second sign
  if (size >= 2 && text[0] == '0' && Lower(text[1]) == 'x') {
    // A hexadecimal value needs a digit after the prefix (or after its point);
    // otherwise the text is the number 0 followed by an 'x'.
    const char* digits = text + 2;
    const bool hasDigits = (digits < end && IsHexDigit(*digits)) ||
                           (end - digits >= 2 && digits[0] == '.' && IsHexDigit(digits[1]));
    if (!hasDigits) {
      value = 0.0;
      return 1;
    }
    const auto r = std::from_chars(digits, end, value, std::chars_format::hex);
    if (r.ec == std::errc::result_out_of_range)
      value = IsOverflow(digits, r.ptr, true) ? std::numeric_limits<double>::infinity() : 0.0;
    return static_cast<size_t>(r.ptr - text);
  }
  const auto r = std::from_chars(text, end, value, std::chars_format::general);
  if (r.ec == std::errc::invalid_argument) return 0;
  if (r.ec == std::errc::result_out_of_range)
    value = IsOverflow(text, r.ptr, false) ? std::numeric_limits<double>::infinity() : 0.0;
  return static_cast<size_t>(r.ptr - text);
}

double ParseDoubleNarrow(const char* text, size_t size, size_t* used) {
  size_t i = 0;
  while (i < size && IsSpace(text[i])) ++i;
  bool negative = false;
  if (i < size && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  double value = 0.0;
  const size_t n = ParseUnsignedDouble(text + i, size - i, value);
  if (n == 0) {
    if (used) *used = 0;
    return 0.0;
  }
  if (used) *used = i + n;
  return negative ? -value : value;
}

}  // namespace

long long ParseInt64(const char* text, size_t size, size_t* used) { return ParseInt64Impl(text, size, used); }

long long ParseInt64(const wchar_t* text, size_t size, size_t* used) { return ParseInt64Impl(text, size, used); }

double ParseDoubleGeneral(const char* text, size_t size, size_t* used) { return ParseDoubleNarrow(text, size, used); }

double ParseDouble(const wchar_t* text, size_t size, size_t* used) {
  // A number is ASCII: narrow the leading ASCII run (a character outside
  // ASCII ends any number) and read that.
  size_t ascii = 0;
  while (ascii < size && static_cast<unsigned int>(text[ascii]) < 0x80) ++ascii;
  char small[128];
  std::string large;
  char* narrow = small;
  if (ascii > sizeof small) {
    large.resize(ascii);
    narrow = large.data();
  }
  for (size_t i = 0; i < ascii; ++i) narrow[i] = static_cast<char>(text[i]);
  return ParseDoubleNarrow(narrow, ascii, used);
}

std::string FormatDouble8(double value) {
  // to_chars with a precision formats as printf's %.*g does in the C locale.
  char buf[100];
  const auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, 8);
  return std::string(buf, r.ptr);
}

std::string FormatInt64(long long value) {
  char buf[24];
  const auto r = std::to_chars(buf, buf + sizeof buf, value);
  return std::string(buf, r.ptr);
}

}  // namespace hux::detail
