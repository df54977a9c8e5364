// Code page 936 (Simplified Chinese, GBK) conversions of the platform layer.
//
// Internal to the library. The conversions go through the C library's iconv
// with one converter per thread (opened on first use, closed at thread exit),
// so they are safe to call from several threads and never touch the process
// locale.
#pragma once

#include <cstddef>
#include <string>

namespace hux::platform {

// Code points to code page 936. A character the code page cannot represent
// becomes '?'; everything else is kept. `count` characters are read (a zero
// among them is converted like any other character).
std::string WideToCp936(const wchar_t* text, size_t count);

// Code page 936 bytes to code points. A byte sequence the code page cannot
// decode becomes U+FFFD, one per undecodable byte; decoding resumes at the
// next byte, so the rest of the text is kept.
std::wstring Cp936ToWide(const char* text, size_t count);

}  // namespace hux::platform
