// Byte-for-byte widening of narrow diagnostic text.
//
// The log's narrow overload and the error exception's file name widen each
// byte b to the code point b, as the classic locale of the Windows edition
// does; no code-page decoding takes place.
#pragma once

#include <string>

namespace hux::detail {

// Widens the bytes of `text` up to its terminating zero; null gives "".
inline std::wstring WidenBytes(const char* text) {
  std::wstring out;
  if (!text) return out;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p)
    out.push_back(static_cast<wchar_t>(*p));
  return out;
}

}  // namespace hux::detail
