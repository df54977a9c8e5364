// Helpers shared by the tests: hex byte strings and stream contents.
#pragma once

#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include <hux/io/iodevice.h>
#include <hux/io/memstream.h>

namespace hux::test {

// "03 00 0A" -> {0x03, 0x00, 0x0A}; spaces are ignored.
inline std::vector<unsigned char> Hex(const std::string& text) {
  std::vector<unsigned char> out;
  std::string digits;
  for (char c : text)
    if (c != ' ') digits.push_back(c);
  for (size_t i = 0; i + 1 < digits.size(); i += 2)
    out.push_back(static_cast<unsigned char>(std::strtoul(digits.substr(i, 2).c_str(), nullptr, 16)));
  return out;
}

// The bytes a storing stream holds (its written length).
inline std::vector<unsigned char> Bytes(GMemStream& mem) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(mem.GetData());
  return std::vector<unsigned char>(p, p + mem.GetDataSize());
}

// A loading stream over a copy of `bytes`.
inline void Load(GMemStream& mem, const std::vector<unsigned char>& bytes) {
  std::vector<char> copy(bytes.begin(), bytes.end());
  if (copy.empty()) copy.push_back(0);
  mem.SetData(copy.data(), static_cast<int>(bytes.empty() ? 0 : bytes.size()));
  mem.SetOpenMode(false);
}

// A device over a byte vector for failure injection: reads deliver what is
// there (partial reads, like a file), at most `maxPerRead` bytes a call; writes
// fail once `writesLeft` reaches 0. It records the largest single request, so
// tests can check that a damaged count is not trusted.
class FlakyDevice : public GIODevice {
 public:
  explicit FlakyDevice(std::vector<unsigned char> bytes = {}, bool storing = false)
      : GIODevice(storing), data(std::move(bytes)) {}

  __int64 pos() override { return position; }
  bool Write(void* src, unsigned int size) override {
    if (writesLeft == 0) return false;
    if (writesLeft > 0) --writesLeft;
    if (position + size > static_cast<__int64>(data.size())) data.resize(static_cast<size_t>(position + size));
    const unsigned char* p = static_cast<const unsigned char*>(src);
    std::copy(p, p + size, data.begin() + position);
    position += size;
    return true;
  }
  unsigned int Read(void* dst, unsigned int size) override {
    if (size > largestRead) largestRead = size;
    if (position < 0 || position >= static_cast<__int64>(data.size())) return 0;
    size_t n = std::min<size_t>({size, maxPerRead, data.size() - static_cast<size_t>(position)});
    std::copy(data.begin() + position, data.begin() + position + static_cast<__int64>(n), static_cast<unsigned char*>(dst));
    position += static_cast<__int64>(n);
    return static_cast<unsigned int>(n);
  }
  bool seek(__int64 p) override {
    position = p;
    return true;
  }

  std::vector<unsigned char> data;
  __int64 position = 0;
  size_t maxPerRead = static_cast<size_t>(-1);
  int writesLeft = -1;  // negative: never fail
  unsigned int largestRead = 0;
};

}  // namespace hux::test
