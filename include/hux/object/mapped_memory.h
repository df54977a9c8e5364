// Heap-like blocks that live in a memory-mapped file instead of the process
// heap.
//
// The first mapped_malloc of a process creates the file "hux_mapped_file" in
// the current directory with mode 0600 (owner only) and maps it. What is at
// that name already (a file left by an earlier process, a link) is removed,
// never written through. The file is not removed at exit. The region grows
// when a request does not fit, and every block keeps its address for the
// life of the process.
// Both functions may be called from any thread: they are serialised by a
// lock of their own (the first call included).
#pragma once

#include <hux/export.h>

namespace hux {

// Returns a block of at least `size` bytes (0 included) inside the mapped
// region; never null. The first call creates the region with room for
// R + 16 + 16 MiB bytes, where R is `size` rounded down to a multiple of
// 1024 and increased by 1024; a request that does not fit grows the region
// once by half its size plus R + 16 bytes and tries again.
// Throws boost::interprocess::interprocess_exception when the region cannot
// be created (the next call tries again), and the allocation exception
// boost::interprocess::bad_alloc (derived from std::exception) when the
// request does not fit even after growing, for instance because the disk is
// full or the region has reached its limit of 64 GiB.
HUX_API void* mapped_malloc(unsigned __int64 size);

// Returns a block from mapped_malloc to the region. Does nothing for null,
// before any region exists, or for a pointer outside the region. Never fails.
HUX_API void mapped_free(void* block);

}  // namespace hux
