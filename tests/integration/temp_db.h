// A database file of its own for each test, in a scratch folder removed
// afterwards.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "scratch_dir.h"

namespace hux::test {

class TempDbTest : public ::testing::Test {
 protected:
  std::filesystem::path File() const { return m_scratch.Path() / "test.db"; }

 private:
  ScratchDir m_scratch;

 protected:
  std::wstring path = File().wstring();
};

}  // namespace hux::test
