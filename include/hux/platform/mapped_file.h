// A file mapped into memory that grows in place: the platform side of the
// mapped-file allocator.
//
// The mapping reserves a large range of addresses up front and maps the file
// at its start; growing the file maps the new bytes right after the old ones,
// so nothing already mapped ever moves. Disk space is allocated before it is
// mapped, so touching mapped bytes never fails for want of space (a sparse
// file on a full disk would turn the first touch into SIGBUS). A mapping is
// owned by its caller and is not synchronised: one thread at a time.
#pragma once

#include <cstddef>
#include <string>

#include <hux/export.h>

namespace hux::platform {

struct GrowableFileMapping {
  char* base = nullptr;   // first byte of the file and of the reserved range
  size_t size = 0;        // bytes of the file, all mapped read-write at base
  size_t capacity = 0;    // bytes of address space reserved at base
  int handle = -1;        // the open file
};

// Removes any file at `path` (a directory there is an error), creates the file
// anew with mode 0600 (failing if another file or link appears meanwhile),
// gives it `size` bytes of disk space and maps it read-write and shared at
// the start of a reservation of `capacity` bytes (at least `size`; when the
// system refuses that much address space, as much as it grants, never less
// than `size`). Returns 0, or the errno value of the step that failed; on
// failure `out` is unchanged and nothing is left behind: no mapping, no open
// file, no new file.
HUX_API int CreateGrowableFileMapping(const std::string& path, size_t size, size_t capacity,
                                      GrowableFileMapping& out);
// Extends the file by `extra` bytes of disk space and maps them right after
// the current end. Returns 0, or an errno value: ENOMEM when the reservation
// cannot hold the new size, EFBIG beyond the process's file-size limit (checked
// first, so the process is never sent SIGXFSZ), ENOSPC on a full disk. On
// failure the file and the mapping are as they were.
HUX_API int GrowFileMapping(GrowableFileMapping& mapping, size_t extra);
// Releases the whole reservation and closes the file; the file stays on disk.
HUX_API void CloseFileMapping(GrowableFileMapping& mapping);

}  // namespace hux::platform
