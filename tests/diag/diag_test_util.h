#pragma once

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include <hux/platform/debug.h>

#include "scratch_dir.h"

namespace hux::test {

inline std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

inline void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

class CapturedDebugOutput : public ::testing::Test {
 protected:
  void SetUp() override {
    m_previous = platform::SetDebugOutputHandler([this](const std::string& text) { m_output += text; });
  }
  void TearDown() override { platform::SetDebugOutputHandler(m_previous); }

  std::string m_output;

 private:
  platform::DebugOutputHandler m_previous;
};

}  // namespace hux::test
