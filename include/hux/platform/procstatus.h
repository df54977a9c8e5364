// Process status of the platform layer: the process's private memory in use,
// and the parser of the kernel's status text it is read from.
//
// Read from /proc on every call; any thread may call it. The query has a
// hook, for a host that accounts memory its own way or a test that needs
// fixed figures.
#pragma once

#include <functional>
#include <string_view>

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

// The number that starts the value of field `name` in the text of a
// /proc/<pid>/status file: 1234 for "RssAnon" and the line
// "RssAnon:\t    1234 kB". Only the first line that begins with "name:"
// counts (the process name on the Name line is free text), and the number
// must follow on that line. -1 when no line has the field, or its value is
// not a decimal number that fits.
HUX_API long long ProcStatusField(std::string_view status, std::string_view name);

}  // namespace hux::platform
