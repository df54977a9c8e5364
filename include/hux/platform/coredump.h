// Crash dumps of the running process: an ELF core file that gdb opens.
//
// The dump is written by the process itself, which keeps running: the calling
// thread's registers (taken inside WriteCoreDump), the process's auxiliary
// vector, its file mappings and its writable memory go into the file; code and
// unmodified read-only file data stay out, as the debugger reads them from the
// executable and the libraries. Other threads keep running while the dump is
// written and appear only through their memory. The functions may be called
// from any thread; dumps are written one at a time in the process.
#pragma once

#include <string>

#include <hux/export.h>

namespace hux::platform {

// The dump path that belongs to the executable `exePath`: the extension of its
// file name (from its last '.', not counting a leading one) replaced by
// ".dmp", or ".dmp" appended when the file name has none. Dots in directory
// names are left alone. An empty path gives an empty result.
HUX_API std::string DumpPathForExecutable(const std::string& exePath);

// DumpPathForExecutable(ExecutablePath()) (see platform/process.h): the
// executable's path with ".dmp".
HUX_API std::string CoreDumpPath();

// Writes an ELF core file of the running process to `path`. The dump is
// written to a new file of its own in the same directory (created exclusively,
// never through an existing file or link, with owner-only access as it holds
// the process's memory) and then renamed to `path`, so a reader sees the old
// file or the whole new dump, never a part. What stood at `path` is replaced
// when it is a regular file or a link (a hard link's other names and a
// symbolic link's target keep their contents); a directory, device, pipe or
// socket is left alone and the call fails. Holds the calling thread's
// registers as they are inside this call, so the debugger's innermost frames
// are this function's, then its caller's. Memory that cannot be read is
// written as zeros; ranges marked "do not dump", inaccessible reservations and
// shared file mappings are left out, as is any single range over 1 GiB and
// whatever would take the memory in the dump past 4 GiB (the calling thread's
// stack always goes in). Returns false when the dump cannot be created or
// fully written, a dump larger than the process's file-size limit included
// (checked first: the process is never sent SIGXFSZ); the unfinished file is
// then removed, and so is an older dump at `path`, which would otherwise pass
// for this one.
HUX_API bool WriteCoreDump(const std::string& path);

}  // namespace hux::platform
