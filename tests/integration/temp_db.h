// A database file of its own for each test, removed afterwards.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>

namespace hux::test {

class TempDbTest : public ::testing::Test {
 protected:
  TempDbTest() {
    std::random_device random;
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    m_file = std::filesystem::temp_directory_path() /
             (std::string("hux_") + info->name() + "_" + std::to_string(random()) + ".db");
    path = m_file.wstring();
  }
  ~TempDbTest() override {
    std::error_code ignored;
    std::filesystem::remove(m_file, ignored);
    std::filesystem::remove(m_file.string() + "-journal", ignored);
  }

  std::filesystem::path File() const { return m_file; }

  std::wstring path;

 private:
  std::filesystem::path m_file;
};

}  // namespace hux::test
