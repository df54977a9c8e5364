#pragma once

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "scratch_dir.h"

namespace hux::test {

inline std::string ReadWholeFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

inline void WriteWholeFile(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

inline std::vector<std::string> FileNames(const std::filesystem::path& dir) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

// Exit status of `command` (-1 when killed); stderr goes to outputFile.err unless `withErrors`.
inline int RunCommand(const std::string& command, const std::filesystem::path& outputFile, std::string& output,
                      bool withErrors) {
  const std::string errors = withErrors ? std::string("2>&1") : "2>'" + outputFile.string() + ".err'";
  const int status = std::system((command + " >'" + outputFile.string() + "' " + errors).c_str());
  output = ReadWholeFile(outputFile);
  if (status == -1 || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

}  // namespace hux::test
