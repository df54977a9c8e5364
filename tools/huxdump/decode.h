// Decoding an archive's contents as the library reads them (--as).
#pragma once

#include <string>
#include <vector>

namespace huxdump {

// True for the kinds --as accepts.
bool IsDecoderKind(const std::string& kind);

// Reads `data` as a sequence of values of `kind` through the library and
// prints them (as JSON lines when `json`). False, with `error` set, when the
// data cannot be read so.
bool Decode(const std::string& kind, const std::vector<unsigned char>& data, bool json, std::string& error);

}  // namespace huxdump
