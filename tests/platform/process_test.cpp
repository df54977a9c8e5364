#include <hux/platform/process.h>

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "scratch_dir.h"

namespace hux::platform {
namespace {

TEST(ExecutablePathProbe, RemoveSelfAndPrint) {
  if (!std::getenv("HUX_EXE_PROBE")) GTEST_SKIP() << "run by ExecutablePath.RemovedExecutableKeepsItsName";
  const std::string before = ExecutablePath();
  ASSERT_EQ(::unlink(before.c_str()), 0);
  std::printf("PATH[%s]\n", ExecutablePath().c_str());
}

TEST(ExecutablePath, RemovedExecutableKeepsItsName) {
  test::ScratchDir dir;
  const std::filesystem::path copy = dir.Path() / "probe";
  std::filesystem::copy_file(ExecutablePath(), copy);
  const std::string command =
      "HUX_EXE_PROBE=1 '" + copy.string() + "' --gtest_filter=ExecutablePathProbe.RemoveSelfAndPrint";
  FILE* out = ::popen(command.c_str(), "r");
  ASSERT_NE(out, nullptr);
  std::string text;
  char buffer[256];
  while (std::fgets(buffer, sizeof buffer, out)) text += buffer;
  EXPECT_EQ(::pclose(out), 0) << text;
  EXPECT_NE(text.find("PATH[" + copy.string() + "]"), std::string::npos) << text;
  EXPECT_FALSE(std::filesystem::exists(copy));
}

}  // namespace
}  // namespace hux::platform
