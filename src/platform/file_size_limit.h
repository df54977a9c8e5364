// The process's file-size limit, for the platform layer's file writers.
//
// Internal to the library. Writing past the soft RLIMIT_FSIZE makes the kernel
// send SIGXFSZ, whose default action ends the process; a writer that knows the
// size it is about to reach asks here first and fails like a full disk instead.
#pragma once

#include <cstdint>

#include <sys/resource.h>

namespace hux::platform {

// True when a file may grow to `size` bytes under the current soft limit.
inline bool WithinFileSizeLimit(uint64_t size) {
  struct rlimit limit {};
  if (::getrlimit(RLIMIT_FSIZE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return true;
  return size <= limit.rlim_cur;
}

}  // namespace hux::platform
