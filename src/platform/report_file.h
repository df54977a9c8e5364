// Report files the library continues from run to run (the call-tree
// profiler's summary beside the executable).
//
// Internal to the library. The folder of such a file may be writable by
// others, so the file is opened only when the name is a regular file of its
// own: a symbolic link, a hard link to another name, a directory, a device or
// a pipe at the name is refused, never followed or truncated.
#pragma once

#include <cstdio>
#include <string>

namespace hux::platform {

// Opens the regular file `path` for appending, creating it with owner-only
// access when missing. A file of `restartSize` bytes or more is emptied
// first. Null when the path is refused or cannot be opened.
std::FILE* OpenReportFile(const std::string& path, long long restartSize);

}  // namespace hux::platform
