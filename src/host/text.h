// UTF-8 at the database boundary: the engines take text and names as UTF-8, the
// library's wide text is one code point per wchar_t.
#pragma once

#include <memory>
#include <string>

#include <hux/util/stringtrans.h>

namespace hux::host {

inline std::string ToUtf8(const std::wstring& text) {
  std::unique_ptr<char[]> utf8(hux::GStdStringTrans::UnicodeToUtf8(text.c_str()));
  return utf8 ? std::string(utf8.get()) : std::string();
}

// Invalid UTF-8 gives the empty string.
inline std::wstring FromUtf8(const std::string& text) {
  std::unique_ptr<wchar_t[]> wide(hux::GStdStringTrans::Utf8ToUnicode(text.c_str()));
  return wide ? std::wstring(wide.get()) : std::wstring();
}

}  // namespace hux::host
