#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "core_reader.h"
#include "scratch.h"

namespace hux {
namespace {

namespace fs = std::filesystem;
using test::RunCommand;
using test::ScratchDir;

const char kGdb[] = HUX_GDB_PROGRAM;

// Runs a copy of the program at `to` (its dump goes beside it) after `setup`.
int RunCopy(const fs::path& to, std::string& output, const std::string& arguments = "",
            const std::string& setup = "true") {
  fs::create_directories(to.parent_path());
  fs::copy_file(HUX_ASSERT_DUMP_PROGRAM, to, fs::copy_options::overwrite_existing);
  return RunCommand(setup + " && '" + to.string() + "' " + arguments, to.parent_path() / "output.txt", output, false);
}

std::string Head(const fs::path& dump) { return "minidump file path:\n" + dump.string() + "\n"; }

bool IsWholeCore(const std::string& bytes) {
  test::CoreReader core;
  if (!core.Parse(bytes).empty() || !core.FindNote(NT_PRSTATUS)) return false;
  uint64_t end = 0;
  for (const Elf64_Phdr& p : core.segments()) end = std::max<uint64_t>(end, p.p_offset + p.p_filesz);
  return end == bytes.size();
}

TEST(AssertDump, GdbShowsTheFailingFunctionFromTheDump) {
  if (kGdb[0] == '\0') GTEST_SKIP() << "gdb is not installed (tools/install-deps.sh installs it)";
  ScratchDir dir;
  const fs::path program = dir.Path() / "app.v2" / "bin" / "dump_tool";
  const fs::path dump = dir.Path() / "app.v2" / "bin" / "dump_tool.dmp";
  std::string output;
  ASSERT_EQ(RunCopy(program, output), 0) << output;
  EXPECT_EQ(output.substr(0, Head(dump).size()), Head(dump)) << output;
  EXPECT_NE(output.find("Failed:value > 0\n"), std::string::npos) << output;
  EXPECT_NE(output.find("value=-1\nthe probe failed on purpose"), std::string::npos) << output;
  std::string backtrace;
  const int status = RunCommand(std::string("'") + kGdb + "' -nx -batch -iex 'set debuginfod enabled off' -ex bt '" +
                                    program.string() + "' '" + dump.string() + "'",
                                dir.Path() / "gdb.txt", backtrace, true);
  EXPECT_EQ(status, 0) << backtrace;
  for (const char* frame : {"HuxDumpProbe_FailsItsAssertion", "in main", "hux::platform::WriteCoreDump"})
    EXPECT_NE(backtrace.find(frame), std::string::npos) << frame << "\n" << backtrace;
}

TEST(AssertDump, ThrowsWithTheComputedPathWhetherOrNotTheDumpIsWritten) {
  ScratchDir dir;
  // A folder in the dump's place; the kernel's removed-program mark as part of
  // the real name; a file-size limit the dump does not fit.
  for (const std::string name : {"blocked/tool", "named/tool (deleted)", "limited/tool"}) {
    const fs::path dump = dir.Path() / (name + ".dmp");
    const char kind = name[0];
    fs::create_directories(kind == 'b' ? dump : dump.parent_path());
    if (kind == 'l') test::WriteWholeFile(dump, "an older dump");
    std::string output;
    ASSERT_EQ(RunCopy(dir.Path() / name, output, "", kind == 'l' ? "ulimit -f 64" : "true"), 0) << output;
    EXPECT_EQ(output.substr(0, Head(dump).size()), Head(dump)) << output;
    if (kind == 'n') EXPECT_TRUE(IsWholeCore(test::ReadWholeFile(dump)));
    if (kind == 'b') EXPECT_TRUE(fs::is_directory(dump));
    if (kind == 'l')
      EXPECT_EQ(test::FileNames(dump.parent_path()), (std::vector<std::string>{"output.txt", "output.txt.err", "tool"}));
  }
}

TEST(AssertDump, ThreadsFailingAtOnceLeaveOneWholeDump) {
  ScratchDir dir;
  const fs::path dump = dir.Path() / "threads.dmp";
  std::atomic<bool> done{false};
  int seen = 0, broken = 0;
  std::thread reader([&] {
    while (!done) {
      const std::string bytes = test::ReadWholeFile(dump);
      if (bytes.empty()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        continue;
      }
      ++seen;
      if (!IsWholeCore(bytes)) ++broken;
    }
  });
  std::string output;
  const int status = RunCopy(dir.Path() / "threads", output, "3");
  done = true;
  reader.join();
  ASSERT_EQ(status, 0) << output;
  EXPECT_EQ(broken, 0) << "of " << seen;
  EXPECT_TRUE(IsWholeCore(test::ReadWholeFile(dump)));
  EXPECT_EQ(test::FileNames(dir.Path()),
            (std::vector<std::string>{"output.txt", "output.txt.err", "threads", "threads.dmp"}));
}

}  // namespace
}  // namespace hux
