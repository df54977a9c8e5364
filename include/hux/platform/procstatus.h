// Process status of the platform layer: the process's private memory in use.
//
// Read from /proc on every call; any thread may call it. The query has a
// hook, for a host that accounts memory its own way or a test that needs
// fixed figures.
#pragma once

#include <functional>

#include <hux/export.h>

namespace hux::platform {

// The process's private memory in use, in bytes: its resident anonymous pages
// plus its pages in swap (RssAnon and VmSwap of /proc/self/status), the
// counterpart of the Windows edition's commit charge. -1 when unknown.
HUX_API long long PrivateMemoryBytes();
using PrivateMemoryHook = std::function<long long()>;
// Installs a hook that answers PrivateMemoryBytes instead; an empty hook
// restores the default. Returns the previous hook. Install it while no other
// thread queries the memory.
HUX_API PrivateMemoryHook SetPrivateMemoryHook(PrivateMemoryHook hook);

}  // namespace hux::platform
