#include <hux/platform/coredump.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/procfs.h>
#include <sys/stat.h>
#include <sys/user.h>
#include <unistd.h>

#include "core_reader.h"
#include "scratch.h"

namespace hux::platform {
namespace {

namespace fs = std::filesystem;
using test::CoreReader;
using test::ReadWholeFile;
using test::ScratchDir;

volatile uint64_t g_dataMarker = 0x5EED0F00DCAFEF00ULL;

uint64_t Address(const volatile void* p) { return reinterpret_cast<uint64_t>(p); }

CoreReader DumpSelf(const fs::path& path) {
  CoreReader core;
  EXPECT_TRUE(WriteCoreDump(path.string()));
  EXPECT_EQ(core.Parse(ReadWholeFile(path)), "");
  return core;
}

uint64_t Read64(const CoreReader& core, uint64_t address) {
  uint64_t value = 0;
  EXPECT_TRUE(core.Read(address, &value, sizeof value)) << std::hex << address;
  return value;
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

  std::vector<uint32_t> types;
  for (const auto& note : core.notes()) types.push_back(note.name == "CORE" ? note.type : 0);
  ASSERT_EQ(types, (std::vector<uint32_t>{NT_PRSTATUS, NT_FPREGSET, NT_PRPSINFO, NT_AUXV, NT_FILE}));
  // Registers taken inside the writer: the stack pointer lies below this frame.
  elf_prstatus status{};
  ASSERT_EQ(core.FindNote(NT_PRSTATUS)->desc.size(), sizeof status);
  std::memcpy(&status, core.FindNote(NT_PRSTATUS)->desc.data(), sizeof status);
  EXPECT_EQ(status.pr_pid, ::gettid());
  user_regs_struct regs;
  std::memcpy(&regs, &status.pr_reg, sizeof regs);
  ASSERT_NE(core.LoadAt(regs.rsp), nullptr);
  EXPECT_EQ(core.LoadAt(regs.rsp), core.LoadAt(Address(&stackMarker)));
  EXPECT_LT(regs.rsp, Address(&stackMarker));
  EXPECT_EQ(core.FindNote(NT_AUXV)->desc, ReadWholeFile("/proc/self/auxv"));

  // NT_FILE: count, page size, (start, end, offset) per mapping, zero-ended names.
  const std::string& files = core.FindNote(NT_FILE)->desc;
  uint64_t head[2] = {};
  ASSERT_GE(files.size(), sizeof head);
  std::memcpy(head, files.data(), sizeof head);
  EXPECT_EQ(head[1], static_cast<uint64_t>(::sysconf(_SC_PAGESIZE)));
  ASSERT_GE(files.size(), 16 + head[0] * 24);
  const std::string names = files.substr(16 + head[0] * 24);
  EXPECT_EQ(static_cast<uint64_t>(std::count(names.begin(), names.end(), '\0')), head[0]);
  EXPECT_NE(names.find(fs::read_symlink("/proc/self/exe").string() + '\0'), std::string::npos);

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
  test::WriteWholeFile(sharedFile, std::string(4 * page, 'S'));
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
  std::istringstream maps(ReadWholeFile("/proc/self/maps"));
  for (std::string line; std::getline(maps, line);)
    if (line.ends_with("[vvar]"))
      EXPECT_FALSE(core.Covers(std::stoull(line, nullptr, 16), std::stoull(line.substr(line.find('-') + 1), nullptr, 16)));
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
  test::WriteWholeFile(file, std::string(page, 'A'));
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
         test::WriteWholeFile(path, std::string(100000, 'x'));
         fs::permissions(path, fs::perms::all);
       }},
      {"a hard link", [&] { fs::create_hard_link(target, path); }},
      {"a symbolic link", [&] { fs::create_symlink(target, path); }},
      {"a dangling symbolic link", [&] { fs::create_symlink(dir.Path() / "nowhere", path); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    test::WriteWholeFile(target, "keep me");
    c.make();
    struct stat before {};
    const bool existed = ::lstat(path.c_str(), &before) == 0;
    ASSERT_TRUE(WriteCoreDump(path.string()));
    struct stat after {};
    ASSERT_EQ(::lstat(path.c_str(), &after), 0);
    EXPECT_EQ(after.st_mode & (S_IFMT | 07777), S_IFREG | 0600u);
    EXPECT_EQ(after.st_nlink, 1u);
    EXPECT_TRUE(!existed || after.st_ino != before.st_ino);
    EXPECT_EQ(CoreReader().Parse(ReadWholeFile(path)), "");
    EXPECT_EQ(ReadWholeFile(target), "keep me");
    EXPECT_EQ(test::FileNames(dir.Path()), (std::vector<std::string>{"self.dmp", "target.txt"}));
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
  EXPECT_EQ(test::FileNames(dir.Path()), (std::vector<std::string>{"folder.dmp", "pipe.dmp", "target.txt"}));
}

TEST(CoreDumpPath, OnlyTheFileNamesExtensionIsReplaced) {
  const struct {
    const char* exe;
    const char* dump;
  } cases[] = {
      {"/opt/app.v2/bin/tool", "/opt/app.v2/bin/tool.dmp"},  // a dot in a folder name is no extension
      {"/a/archive.tar.gz", "/a/archive.tar.dmp"},
      {"/a/name.", "/a/name.dmp"},
      {"/a/.hidden", "/a/.hidden.dmp"},  // a leading dot starts no extension
      {"/a/.hidden.x", "/a/.hidden.dmp"},
      {"./tool", "./tool.dmp"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(DumpPathForExecutable(c.exe), c.dump) << c.exe;
  EXPECT_EQ(CoreDumpPath(), DumpPathForExecutable(fs::read_symlink("/proc/self/exe").string()));
}

}  // namespace
}  // namespace hux::platform
