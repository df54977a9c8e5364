// Internal: wide-string paths to and from the operating system's byte paths.
//
// Linux file names are byte strings that are normally, but not always, UTF-8.
// A byte that is not part of valid UTF-8 becomes the lone surrogate
// U+DC80..U+DCFF (the "surrogate escape" convention) and goes back to the same
// byte, so every name the system hands out survives a round trip through a
// wide string.
//
// The way back is strict: a wide path that no byte path stands for (one with
// a NUL, a surrogate that is not such an escape, a value beyond U+10FFFF, or
// escapes that spell valid UTF-8 and so another name of the same file) is
// refused, never replaced by a look-alike, so that two different wide paths
// never open the same file and a path is never cut short.
#pragma once

#include <string>

namespace hux::detail {

std::wstring NativePathToWide(const std::string& path);
// The byte path for the system. False, with `out` empty, when `path` does not
// convert (see above); every caller refuses such a path as a path that
// cannot be opened.
bool WideToNativePath(const std::wstring& path, std::string& out);

}  // namespace hux::detail
