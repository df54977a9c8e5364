// The proof that the dump is usable: a program fails an assertion at level
// EL_ERROR, and gdb's backtrace of its dump shows the failing function.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "scratch.h"

namespace hux {
namespace {

namespace fs = std::filesystem;
using test::RunCommand;
using test::ScratchDir;

const char kProgram[] = HUX_ASSERT_DUMP_PROGRAM;
const char kGdb[] = HUX_GDB_PROGRAM;
const char kPrefix[] = "minidump file path:\n";

// Copies the program to `to` (its dump goes beside the copy) and runs it.
int RunCopy(const fs::path& to, std::string& output) {
  fs::create_directories(to.parent_path());
  fs::copy_file(kProgram, to, fs::copy_options::overwrite_existing);
  return RunCommand("'" + to.string() + "'", to.parent_path() / "output.txt", output, false);
}

TEST(AssertDump, GdbShowsTheFailingFunctionFromTheDump) {
  if (kGdb[0] == '\0') GTEST_SKIP() << "gdb is not installed (tools/install-deps.sh installs it)";
  ScratchDir dir;
  // A dot in a folder name must not cut the path: the dump goes beside the
  // program as dump_tool.dmp.
  const fs::path program = dir.Path() / "app.v2" / "bin" / "dump_tool";
  const fs::path dump = dir.Path() / "app.v2" / "bin" / "dump_tool.dmp";
  std::string output;
  ASSERT_EQ(RunCopy(program, output), 0) << output;
  EXPECT_EQ(output.substr(0, sizeof kPrefix - 1 + dump.string().size() + 1), kPrefix + dump.string() + "\n")
      << output;
  EXPECT_NE(output.find("Failed:value > 0\n"), std::string::npos) << output;
  EXPECT_NE(output.find("value=-1\nthe probe failed on purpose"), std::string::npos) << output;
  ASSERT_TRUE(fs::is_regular_file(dump));
  EXPECT_EQ(test::ReadWholeFile(dump).substr(0, 4), "\x7F" "ELF");

  // A second failure replaces the dump.
  const auto firstTime = fs::last_write_time(dump);
  fs::last_write_time(dump, firstTime - std::chrono::hours(1));
  ASSERT_EQ(RunCopy(program, output), 0) << output;
  EXPECT_GT(fs::last_write_time(dump), firstTime - std::chrono::hours(1));

  std::string backtrace;
  const int status = RunCommand(std::string("'") + kGdb + "' -nx -batch -iex 'set debuginfod enabled off' -ex bt '" +
                                    program.string() + "' '" + dump.string() + "'",
                                dir.Path() / "gdb.txt", backtrace, true);
  EXPECT_EQ(status, 0) << backtrace;
  EXPECT_NE(backtrace.find("HuxDumpProbe_FailsItsAssertion"), std::string::npos) << backtrace;
  EXPECT_NE(backtrace.find("in main"), std::string::npos) << backtrace;
  EXPECT_NE(backtrace.find("hux::platform::WriteCoreDump"), std::string::npos) << backtrace;
}

TEST(AssertDump, ThrowsWithTheComputedPathWhenTheDumpCannotBeCreated) {
  ScratchDir dir;
  const fs::path program = dir.Path() / "blocked" / "tool.exe";
  const fs::path dump = dir.Path() / "blocked" / "tool.dmp";
  // A folder where the dump should go: it cannot be created (even by root).
  fs::create_directories(dump);
  std::string output;
  ASSERT_EQ(RunCopy(program, output), 0) << output;
  EXPECT_EQ(output.substr(0, sizeof kPrefix - 1 + dump.string().size() + 1), kPrefix + dump.string() + "\n")
      << output;
  EXPECT_TRUE(fs::is_directory(dump));
}

}  // namespace
}  // namespace hux
