// Internal: wide-string paths to and from the operating system's byte paths.
//
// Linux file names are byte strings that are normally, but not always, UTF-8.
// A byte that is not part of valid UTF-8 becomes the lone surrogate
// U+DC80..U+DCFF (the "surrogate escape" convention) and goes back to the same
// byte, so every name the system hands out survives a round trip through a
// wide string.
#pragma once

#include <string>

namespace hux::detail {

std::wstring NativePathToWide(const std::string& path);
std::string WideToNativePath(const std::wstring& path);

}  // namespace hux::detail
