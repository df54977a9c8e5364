// Helpers of the assertion tests: whole files and programs; scratch folders
// come from the shared helper.
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

// The names in `dir`, sorted: what a dump writer left behind.
inline std::vector<std::string> FileNames(const std::filesystem::path& dir) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

// Runs `command` through the shell and returns its exit status (-1 when it
// did not exit normally), with its standard output in `output`, also its
// standard error when `withErrors` (otherwise that goes to outputFile.err).
inline int RunCommand(const std::string& command, const std::filesystem::path& outputFile, std::string& output,
                      bool withErrors) {
  const std::string errors = withErrors ? std::string("2>&1") : "2>'" + outputFile.string() + ".err'";
  const int status = std::system((command + " >'" + outputFile.string() + "' " + errors).c_str());
  output = ReadWholeFile(outputFile);
  if (status == -1 || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

}  // namespace hux::test
