#include "escape.h"

#include <cstdint>
#include <cstdio>

namespace huxdump {

namespace {

// The length of the strict UTF-8 sequence at `i` (no overlong forms, no
// surrogates, nothing past U+10FFFF) with its code point in `cp`, or 0 when
// the byte at `i` does not start one.
size_t DecodeUtf8(const std::string& s, size_t i, uint32_t& cp) {
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char lead = byte(i);
  if (lead < 0x80) {
    cp = lead;
    return 1;
  }
  size_t n;
  uint32_t min;
  if (lead >= 0xC2 && lead <= 0xDF) {
    n = 2, min = 0x80, cp = lead & 0x1Fu;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    n = 3, min = 0x800, cp = lead & 0x0Fu;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    n = 4, min = 0x10000, cp = lead & 0x07u;
  } else {
    return 0;
  }
  if (s.size() - i < n) return 0;
  for (size_t k = 1; k < n; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    cp = cp << 6 | (byte(i + k) & 0x3Fu);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return n;
}

// Code points that would act on the terminal or the layout instead of being
// shown: C0, DEL, C1, and the bidirectional and line-breaking controls.
bool IsControl(uint32_t cp) {
  return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F) || cp == 0x61C || cp == 0x200E || cp == 0x200F ||
         (cp >= 0x2028 && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069);
}

template <typename... Args>
void AppendFormat(std::string& out, const char* format, Args... args) {
  char buf[16];
  std::snprintf(buf, sizeof buf, format, args...);
  out += buf;
}

}  // namespace

std::string TextString(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size();) {
    uint32_t cp = 0;
    const size_t n = DecodeUtf8(s, i, cp);
    if (n == 0 || (n == 1 && IsControl(cp))) {
      const unsigned char c = static_cast<unsigned char>(s[i]);
      if (c == '\n') out += "\\n";
      else if (c == '\r') out += "\\r";
      else if (c == '\t') out += "\\t";
      else AppendFormat(out, "\\x%02X", c);
      ++i;
      continue;
    }
    if (IsControl(cp)) AppendFormat(out, "\\u{%04X}", cp);
    else if (cp == '\\') out += "\\\\";
    else out.append(s, i, n);
    i += n;
  }
  return out;
}

std::string JsonString(const std::string& s) {
  std::string out = "\"";
  for (size_t i = 0; i < s.size();) {
    uint32_t cp = 0;
    const size_t n = DecodeUtf8(s, i, cp);
    if (n == 0) {
      out += "\\ufffd";
      ++i;
      continue;
    }
    if (cp == '"' || cp == '\\') {
      out += '\\';
      out += static_cast<char>(cp);
    } else if (IsControl(cp)) {
      AppendFormat(out, "\\u%04x", cp);
    } else {
      out.append(s, i, n);
    }
    i += n;
  }
  return out + "\"";
}

}  // namespace huxdump
