#include "util/unicode.h"

#include <cstdint>
#include <cstring>

namespace hux::detail {

namespace {
constexpr char32_t kReplacement = 0xFFFD;
inline bool IsHigh(char32_t c) { return c >= 0xD800 && c <= 0xDBFF; }
inline bool IsLow(char32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }
}  // namespace

size_t Utf16Length(const std::wstring& text) {
  size_t n = text.size();
  for (wchar_t w : text) {
    const char32_t c = static_cast<char32_t>(w);
    if (c > 0xFFFF && c <= 0x10FFFF) ++n;
  }
  return n;
}

void AppendUtf16(std::u16string& out, const std::wstring& text) {
  out.reserve(out.size() + Utf16Length(text));
  for (wchar_t w : text) {
    char32_t c = static_cast<char32_t>(w);
    if (c <= 0xFFFF) {
      out.push_back(static_cast<char16_t>(c));
    } else if (c <= 0x10FFFF) {
      c -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(kReplacement));
    }
  }
}

std::wstring Utf16ToWide(const char16_t* units, size_t count) {
  std::wstring out;
  out.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    const char32_t c = units[i];
    if (IsHigh(c) && i + 1 < count && IsLow(units[i + 1])) {
      const char32_t lo = units[++i];
      out.push_back(static_cast<wchar_t>(0x10000 + ((c - 0xD800) << 10) + (lo - 0xDC00)));
    } else {
      out.push_back(static_cast<wchar_t>(c));
    }
  }
  return out;
}

// The UTF-8 length of one code point after pair combining and replacement.
inline size_t Utf8Units(char32_t c) { return c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4; }

// The code point at text[i] (advancing i past a combined surrogate pair); a
// lone surrogate or a value beyond U+10FFFF is U+FFFD.
inline char32_t NextCodePoint(const wchar_t* text, size_t n, size_t& i) {
  char32_t c = static_cast<char32_t>(text[i]);
  if (IsHigh(c) && i + 1 < n && IsLow(static_cast<char32_t>(text[i + 1]))) {
    c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<char32_t>(text[++i]) - 0xDC00);
  } else if (IsHigh(c) || IsLow(c) || c > 0x10FFFF) {
    c = kReplacement;
  }
  return c;
}

std::string WideToUtf8(const std::wstring& text) { return WideToUtf8(text.data(), text.size()); }

std::string WideToUtf8(const wchar_t* text, size_t n) {
  // ASCII fast path: a plain narrowing copy up to the first other character.
  size_t ascii = 0;
  while (ascii < n && static_cast<char32_t>(text[ascii]) < 0x80) ++ascii;
  std::string out(text, text + ascii);
  if (ascii == n) return out;

  // Measure first, so that the rest is written into an exact buffer.
  size_t length = ascii;
  for (size_t i = ascii; i < n; ++i) length += Utf8Units(NextCodePoint(text, n, i));
  out.resize(length);
  char* p = out.data() + ascii;
  for (size_t i = ascii; i < n; ++i) {
    const char32_t c = NextCodePoint(text, n, i);
    if (c < 0x80) {
      *p++ = static_cast<char>(c);
    } else if (c < 0x800) {
      *p++ = static_cast<char>(0xC0 | (c >> 6));
      *p++ = static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      *p++ = static_cast<char>(0xE0 | (c >> 12));
      *p++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      *p++ = static_cast<char>(0x80 | (c & 0x3F));
    } else {
      *p++ = static_cast<char>(0xF0 | (c >> 18));
      *p++ = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      *p++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      *p++ = static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

bool Utf8ToWide(const char* data, size_t size, std::wstring& out) {
  // One code point per byte at most: size the result once, then trim.
  out.resize(size);
  wchar_t* dst = out.data();
  const auto* p = reinterpret_cast<const unsigned char*>(data);
  size_t i = 0;
  while (i < size) {
    // ASCII fast path, eight bytes at a time while no high bit is set.
    while (size - i >= 8) {
      uint64_t word;
      std::memcpy(&word, p + i, 8);
      if (word & 0x8080808080808080ull) break;
      for (int k = 0; k < 8; ++k) *dst++ = static_cast<wchar_t>(p[i + k]);
      i += 8;
    }
    if (i >= size) break;
    const unsigned char b = p[i];
    if (b < 0x80) {
      *dst++ = static_cast<wchar_t>(b);
      ++i;
      continue;
    }
    size_t len;
    char32_t c, min;
    if ((b & 0xE0) == 0xC0) {
      len = 2, c = b & 0x1F, min = 0x80;
    } else if ((b & 0xF0) == 0xE0) {
      len = 3, c = b & 0x0F, min = 0x800;
    } else if ((b & 0xF8) == 0xF0) {
      len = 4, c = b & 0x07, min = 0x10000;
    } else {
      out.clear();
      return false;
    }
    if (size - i < len) {
      out.clear();
      return false;
    }
    for (size_t k = 1; k < len; ++k) {
      if ((p[i + k] & 0xC0) != 0x80) {
        out.clear();
        return false;
      }
      c = (c << 6) | (p[i + k] & 0x3F);
    }
    // Overlong forms (C0 AF for '/'), surrogates and values past U+10FFFF are
    // all invalid.
    if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
      out.clear();
      return false;
    }
    *dst++ = static_cast<wchar_t>(c);
    i += len;
  }
  out.resize(static_cast<size_t>(dst - out.data()));
  return true;
}

}  // namespace hux::detail
