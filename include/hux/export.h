// Export macro and the fixed-width names shared by every public header.
//
// Symbols of the library are hidden by default; HUX_API marks the classes and
// free functions that client modules link against.
#pragma once

#define HUX_API __attribute__((visibility("default")))

// The 64-bit integer names of the interface. `__int64` is `long long` here, and
// a macro (not a typedef) so that `unsigned __int64` is `unsigned long long`
// as it is for client code written against the Windows edition. `long` stays
// a separate type (the archive keeps its own overloads for it).
#if !defined(_MSC_VER) && !defined(__int64)
#define __int64 long long
#endif
