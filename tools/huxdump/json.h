// JSON text for the inspector's --json output.
#pragma once

#include <cstdio>
#include <string>

namespace huxdump {

// `s` as a JSON string literal: quotes and backslashes escaped, control
// characters as \u00XX, everything else (UTF-8 included) as it is.
inline std::string JsonString(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

}  // namespace huxdump
