#include <hux/platform/coredump.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "assert/core_reader.h"
#include "diag/diag_test_util.h"

namespace hux::platform {
namespace {

namespace fs = std::filesystem;
using test::CoreReader;
using test::ScratchDir;

volatile uint64_t g_dataMarker = 0x5EED0F00DCAFEF00ULL;

uint64_t Address(const volatile void* p) { return reinterpret_cast<uint64_t>(p); }

CoreReader DumpSelf(const fs::path& path) {
  CoreReader core;
  EXPECT_TRUE(WriteCoreDump(path.string()));
  EXPECT_EQ(core.Parse(test::ReadFile(path)), "");
  return core;
}

uint64_t Read64(const CoreReader& core, uint64_t address) {
  uint64_t value = 0;
  EXPECT_TRUE(core.Read(address, &value, sizeof value)) << std::hex << address;
  return value;
}

std::vector<std::string> FileNames(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

// Exit status of `command` (-1 when killed); stderr goes to outputFile.err unless `withErrors`.
int RunCommand(const std::string& command, const fs::path& outputFile, std::string& output, bool withErrors) {
  const std::string errors = withErrors ? std::string("2>&1") : "2>'" + outputFile.string() + ".err'";
  const int status = std::system((command + " >'" + outputFile.string() + "' " + errors).c_str());
  output = test::ReadFile(outputFile);
  if (status == -1 || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

TEST(CoreDump, SegmentsHaveValidOffsetsAndTheNotesGdbNeeds) {
  ScratchDir dir;
  volatile uint64_t stackMarker = 0x57AC57AC57AC57ACULL;
  std::vector<uint64_t> heap(4096, 0x4EA94EA94EA94EA9ULL);
  const CoreReader core = DumpSelf(dir.Path() / "self.dmp");

  const auto& segments = core.segments();
  ASSERT_GE(segments.size(), 3u);
  EXPECT_EQ(segments[0].p_type, static_cast<uint32_t>(PT_NOTE));
  uint64_t fileEnd = segments[0].p_offset + segments[0].p_filesz, memoryEnd = 0;
  for (size_t i = 1; i < segments.size(); ++i) {
    const Elf64_Phdr& p = segments[i];
    EXPECT_TRUE(p.p_type == PT_LOAD && p.p_offset % 4096 == 0 && p.p_offset >= fileEnd && p.p_vaddr >= memoryEnd &&
                p.p_filesz == p.p_memsz && p.p_filesz > 0 && (p.p_flags & PF_R))
        << "segment " << i;
    fileEnd = p.p_offset + p.p_filesz;
    memoryEnd = p.p_vaddr + p.p_memsz;
  }
  EXPECT_EQ(core.size(), fileEnd);

  // The registers are proved by gdb's backtrace (AssertDump below).
  std::vector<uint32_t> types;
  for (const auto& note : core.notes()) types.push_back(note.name == "CORE" ? note.type : 0);
  ASSERT_EQ(types, (std::vector<uint32_t>{NT_PRSTATUS, NT_FPREGSET, NT_PRPSINFO, NT_AUXV, NT_FILE}));
  EXPECT_EQ(core.FindNote(NT_AUXV)->desc, test::ReadFile("/proc/self/auxv"));
  EXPECT_NE(core.FindNote(NT_FILE)->desc.find(fs::read_symlink("/proc/self/exe").string() + '\0'), std::string::npos);

  EXPECT_EQ(Read64(core, Address(&g_dataMarker)), 0x5EED0F00DCAFEF00ULL);
  EXPECT_EQ(Read64(core, Address(&heap[4095])), 0x4EA94EA94EA94EA9ULL);
  EXPECT_EQ(Read64(core, Address(&stackMarker)), 0x57AC57AC57AC57ACULL);
}

TEST(CoreDump, LeavesOutReservationsDoNotDumpSharedFilesAndCode) {
  ScratchDir dir;
  const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE)), gib = size_t{1} << 30;
  void* reserved = ::mmap(nullptr, gib, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  void* secret = ::mmap(nullptr, 16 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_TRUE(reserved != MAP_FAILED && secret != MAP_FAILED);
  std::memset(secret, 0x5A, 16 * page);
  ASSERT_EQ(::madvise(secret, 16 * page, MADV_DONTDUMP), 0);
  const fs::path sharedFile = dir.Path() / "shared.bin";
  test::WriteFile(sharedFile, std::string(4 * page, 'S'));
  const int fd = ::open(sharedFile.c_str(), O_RDWR);
  void* shared = ::mmap(nullptr, 4 * page, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  ::close(fd);
  ASSERT_NE(shared, MAP_FAILED);
  static_cast<char*>(shared)[0] = 'T';
  const size_t hugeSize = gib + 16 * page;
  void* huge = ::mmap(nullptr, hugeSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  ASSERT_NE(huge, MAP_FAILED);
  static_cast<char*>(huge)[0] = 1;

  const CoreReader core = DumpSelf(dir.Path() / "self.dmp");
  for (const auto& [start, size] : {std::pair{Address(reserved), gib}, std::pair{Address(secret), 16 * page},
                                     std::pair{Address(shared), 4 * page}, std::pair{Address(huge), hugeSize}})
    EXPECT_FALSE(core.Covers(start, start + size)) << std::hex << start;
  std::istringstream maps(test::ReadFile("/proc/self/maps"));
  for (std::string line; std::getline(maps, line);)
    if (line.ends_with("[vvar]")) {
      EXPECT_FALSE(core.Covers(std::stoull(line, nullptr, 16), std::stoull(line.substr(line.find('-') + 1), nullptr, 16)));
    }
  EXPECT_EQ(core.LoadAt(reinterpret_cast<uint64_t>(&WriteCoreDump)), nullptr);
  EXPECT_LT(core.size(), uint64_t{1} << 30);  // either left-out range alone would pass 1 GiB
  ::munmap(reserved, gib);
  ::munmap(secret, 16 * page);
  ::munmap(shared, 4 * page);
  ::munmap(huge, hugeSize);
}

TEST(CoreDump, UnreadablePagesBecomeZerosAndTheWriterGoesOn) {
  ScratchDir dir;
  const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
  // The two pages past the one-page file's end raise SIGBUS when read.
  const fs::path file = dir.Path() / "short.bin";
  test::WriteFile(file, std::string(page, 'A'));
  const int fd = ::open(file.c_str(), O_RDONLY);
  char* mapped = static_cast<char*>(::mmap(nullptr, 3 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE, fd, 0));
  ::close(fd);
  ASSERT_NE(mapped, MAP_FAILED);
  mapped[0] = 'B';
  const CoreReader core = DumpSelf(dir.Path() / "self.dmp");
  std::string bytes(3 * page, '?');
  ASSERT_TRUE(core.Read(Address(mapped), bytes.data(), bytes.size()));
  EXPECT_EQ(bytes, "B" + std::string(page - 1, 'A') + std::string(2 * page, '\0'));
  ::munmap(mapped, 3 * page);
}

TEST(CoreDump, ReplacesWhatStandsAtItsNameWithoutWritingThroughIt) {
  ScratchDir dir;
  const fs::path path = dir.Path() / "self.dmp";
  const fs::path target = dir.Path() / "target.txt";
  const struct {
    const char* what;
    std::function<void()> make;
  } cases[] = {
      {"nothing", [] {}},
      {"an older dump open to all",
       [&] {
         test::WriteFile(path, std::string(100000, 'x'));
         fs::permissions(path, fs::perms::all);
       }},
      {"a hard link", [&] { fs::create_hard_link(target, path); }},
      {"a symbolic link", [&] { fs::create_symlink(target, path); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    test::WriteFile(target, "keep me");
    c.make();
    struct stat before {};
    const bool existed = ::lstat(path.c_str(), &before) == 0;
    ASSERT_TRUE(WriteCoreDump(path.string()));
    struct stat after {};
    ASSERT_EQ(::lstat(path.c_str(), &after), 0);
    EXPECT_EQ(after.st_mode & (S_IFMT | 07777), S_IFREG | 0600u);
    EXPECT_EQ(after.st_nlink, 1u);
    EXPECT_TRUE(!existed || after.st_ino != before.st_ino);
    EXPECT_EQ(CoreReader().Parse(test::ReadFile(path)), "");
    EXPECT_EQ(test::ReadFile(target), "keep me");
    EXPECT_EQ(FileNames(dir.Path()), (std::vector<std::string>{"self.dmp", "target.txt"}));
    fs::remove(path);
  }
  const fs::path folder = dir.Path() / "folder.dmp", pipe = dir.Path() / "pipe.dmp";
  fs::create_directory(folder);
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  for (const std::string& bad : {folder.string(), pipe.string(), (dir.Path() / "missing" / "x.dmp").string(),
                                 dir.Path().string() + "/", std::string()})
    EXPECT_FALSE(WriteCoreDump(bad)) << bad;
  EXPECT_TRUE(fs::is_directory(folder));
  EXPECT_TRUE(fs::is_fifo(pipe));
  EXPECT_EQ(FileNames(dir.Path()), (std::vector<std::string>{"folder.dmp", "pipe.dmp", "target.txt"}));
}

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
  CoreReader core;
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
    if (kind == 'l') test::WriteFile(dump, "an older dump");
    std::string output;
    ASSERT_EQ(RunCopy(dir.Path() / name, output, "", kind == 'l' ? "ulimit -f 64" : "true"), 0) << output;
    EXPECT_EQ(output.substr(0, Head(dump).size()), Head(dump)) << output;
    if (kind == 'n') {
      EXPECT_TRUE(IsWholeCore(test::ReadFile(dump)));
    }
    if (kind == 'b') {
      EXPECT_TRUE(fs::is_directory(dump));
    }
    if (kind == 'l') {
      EXPECT_EQ(FileNames(dump.parent_path()), (std::vector<std::string>{"output.txt", "output.txt.err", "tool"}));
    }
  }
}

TEST(AssertDump, ThreadsFailingAtOnceLeaveOneWholeDump) {
  ScratchDir dir;
  const fs::path dump = dir.Path() / "threads.dmp";
  std::atomic<bool> done{false};
  int seen = 0, broken = 0;
  std::thread reader([&] {
    while (!done) {
      const std::string bytes = test::ReadFile(dump);
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
  EXPECT_TRUE(IsWholeCore(test::ReadFile(dump)));
  EXPECT_EQ(FileNames(dir.Path()),
            (std::vector<std::string>{"output.txt", "output.txt.err", "threads", "threads.dmp"}));
}

}  // namespace
}  // namespace hux::platform
