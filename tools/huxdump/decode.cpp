#include "decode.h"

namespace huxdump {

bool IsDecoderKind(const std::string& kind) {
  return kind == "variant" || kind == "properties" || kind == "project";
}

bool Decode(const std::string& kind, const std::vector<unsigned char>&, bool, std::string& error) {
  error = "decoding as " + kind + " is not available in this build";
  return false;
}

}  // namespace huxdump
