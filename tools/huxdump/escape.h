// Escaping what the inspector prints: names, values and paths come from
// files and command lines, so none of their bytes reaches the terminal or a
// JSON reader raw.
#pragma once

#include <string>

namespace huxdump {

// `s` for the text output, every character visible and on the line it
// belongs to: a backslash as \\; newline, carriage return and tab as \n, \r
// and \t; any other C0 control, DEL and every byte that is not part of valid
// UTF-8 as \xHH; the C1 controls (U+0080 to U+009F) and the Unicode controls
// that reorder or break lines (U+061C, U+200E, U+200F, U+2028 to U+202E,
// U+2066 to U+2069) as \u{HHHH}. Everything else, UTF-8 included, as it is.
std::string TextString(const std::string& s);

// `s` as a JSON string literal that is valid UTF-8 whatever `s` holds: quotes
// and backslashes escaped; the controls TextString escapes as \u00XX or
// \uXXXX; each byte that is not part of valid UTF-8 as \ufffd (the
// replacement character); everything else as it is.
std::string JsonString(const std::string& s);

}  // namespace huxdump
