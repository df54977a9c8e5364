// Helpers shared by the tests: hex byte strings and stream contents.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

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

}  // namespace hux::test
