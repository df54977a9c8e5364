// Formatting of a message format with the arguments of a ValistStream.
#pragma once

#include <cstddef>

namespace hux {
class ValistStream;
}

namespace hux::detail {

// Formats `format` with the slots of the resolved `args` into `out` (of
// `outSize` bytes, at least 1), cutting the text to outSize - 1 characters.
// Returns the length written.
//
// A va_list cannot be built from a byte block on x86-64, so the format is
// walked here: each conversion takes the next 8-byte slot by its kind
// (integer, double, string address) and is formatted alone by the C library.
size_t FormatFromStream(const char* format, const ValistStream& args, char* out, size_t outSize);

}  // namespace hux::detail
