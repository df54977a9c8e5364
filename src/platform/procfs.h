// Reading the kernel's text files under /proc, for the platform layer.
//
// Internal to the library. procfs files report no size and may be longer than
// any fixed buffer (a status file lists every supplementary group), so they
// are always read whole.
#pragma once

#include <string>

namespace hux::platform {

// The whole content of the procfs file `path`; empty when it cannot be opened.
std::string ReadProcFile(const char* path);

}  // namespace hux::platform
