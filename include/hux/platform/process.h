// Process and file-system queries of the platform layer.
//
// Paths here are the operating system's own byte strings (on Linux the bytes
// the kernel stores, normally UTF-8); the public utility classes convert them
// to and from wide strings. Every function is stateless and may be called from
// any thread. Failures are reported through the result only.
#pragma once

#include <string>

#include <hux/export.h>

namespace hux::platform {

// The full path of the running executable (not of this library), of any
// length; empty if the system cannot tell it.
HUX_API std::string ExecutablePath();
// The full path of the executable of the process `processId`; empty when no
// such process exists or its executable cannot be read (another user's
// process, a kernel thread).
HUX_API std::string ProcessExecutablePath(int processId);
// The process's current directory, of any length, without a trailing
// separator (except for the root "/"); empty when it no longer exists.
HUX_API std::string CurrentDirectory();
// The id of the parent process; -1 when it cannot be found.
HUX_API int ParentProcessId();

// True when `path` names an existing file or directory (a symbolic link
// counts when its target exists); false for a path containing NUL, which no
// file can have. Paths longer than the system's path limit are resolved one
// directory at a time.
HUX_API bool PathExists(const std::string& path);
// Creates every missing directory along `path`, whose components are
// separated by '/'; a leading '/' makes it absolute. A component that exists
// is accepted whatever it is; a file in the middle of the path makes the next
// level fail. Works for paths of any length. Returns true when the whole path
// exists afterwards. An empty path, or one containing NUL, gives false.
HUX_API bool CreateDirectoryPath(const std::string& path);

}  // namespace hux::platform
