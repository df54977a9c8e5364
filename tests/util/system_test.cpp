// Process queries and directory creation, against the file system itself.
#include <hux/util/system.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "scratch_dir.h"

namespace hux {
namespace {

namespace fs = std::filesystem;

std::wstring Wide(const fs::path& p) { return p.wstring(); }

void WriteFile(const fs::path& p, const std::string& text) { std::ofstream(p) << text; }

std::string ReadFile(const fs::path& p) {
  std::ifstream in(p);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(CoreSystem, ExecutablePathAndFolder) {
  const std::wstring exe = GCoreSystem::GetExeFilePath();
  ASSERT_FALSE(exe.empty());
  EXPECT_EQ(exe.front(), L'/');
  EXPECT_TRUE(exe.ends_with(L"/hux_util_test")) << fs::path(exe);
  EXPECT_TRUE(CSystemHelper::FileExists(exe));

  const std::wstring folder = GCoreSystem::GetExePath();
  EXPECT_EQ(folder, exe.substr(0, exe.size() - std::wstring(L"hux_util_test").size()));
  EXPECT_EQ(folder.back(), L'/');

  std::wstring out = L"stale";
  GCoreSystem::GetExeFilePath(out);
  EXPECT_EQ(out, exe);
  GCoreSystem::GetExePath(out);
  EXPECT_EQ(out, folder);
}

TEST(CoreSystem, ParentProcessIdMatchesTheKernelsRecord) {
  // /proc/self/stat: "pid (comm) state ppid ..."; comm may contain spaces,
  // so read after the last ')'.
  const std::string stat = ReadFile("/proc/self/stat");
  std::istringstream fields(stat.substr(stat.rfind(')') + 1));
  std::string state;
  int ppid = 0;
  fields >> state >> ppid;
  EXPECT_EQ(GCoreSystem::GetParentProcessID(), ppid);
  EXPECT_GT(ppid, 0);
}

TEST(CoreSystem, ProcessPathOfMissingProcessesIsEmpty) {
  for (int pid : {-1, 0, 0x7FFFFFFF}) EXPECT_EQ(GCoreSystem::GetProcessPath(pid), "") << pid;
}

TEST(CoreSystem, ProcessPathOfAChildWithALongNonUtf8Path) {
  test::ScratchDir scratch;
  // Over 600 bytes, with a byte that is not UTF-8: the path must come back
  // whole and byte for byte.
  fs::path dir = scratch.Path();
  for (int i = 0; i < 3; ++i) dir /= std::string(200, char('a' + i)) + "\xff";
  fs::create_directories(dir);
  const fs::path exe = dir / "sleeper";
  fs::copy_file("/bin/sleep", exe);

  // The shell prints the child's id as soon as it has forked; the child then
  // replaces the shell's image with the program.
  const std::string command = "'" + exe.string() + "' 30 >/dev/null 2>&1 & echo $!";
  FILE* shell = ::popen(command.c_str(), "r");
  ASSERT_NE(shell, nullptr);
  int pid = 0;
  ASSERT_EQ(std::fscanf(shell, "%d", &pid), 1);
  ::pclose(shell);

  std::string seen;
  for (int i = 0; i < 500 && seen != exe.string(); ++i) {
    seen = GCoreSystem::GetProcessPath(pid);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(seen, exe.string());
  std::system(("kill " + std::to_string(pid)).c_str());
}

TEST(CoreSystem, CurrentDirectoryKeepsNonUtf8NamesUsable) {
  test::ScratchDir scratch;
  std::wstring out;
  GCoreSystem::CurrentDirectory(out);
  EXPECT_EQ(fs::path(out), fs::current_path());

  // "café-" in UTF-8, then a stray byte 0xFF.
  const std::string name = "caf\xc3\xa9-\xff";
  fs::create_directory(name);
  fs::current_path(name);
  GCoreSystem::CurrentDirectory(out);
  const std::wstring expectedTail = std::wstring(L"/caf\u00e9-") + wchar_t(0xDCFF);
  EXPECT_TRUE(out.ends_with(expectedTail));
  // The wide form names the same directory again.
  EXPECT_TRUE(CSystemHelper::FileExists(out));
  EXPECT_TRUE(CSystemHelper::MakeDirectory(out + L"/sub\\deeper"));
  EXPECT_TRUE(fs::is_directory("sub/deeper"));
}

TEST(SystemHelper, MakeDirectoryCreatesEachMissingLevel) {
  test::ScratchDir scratch;
  WriteFile("file.txt", "keep");
  fs::create_directories("old/inner");
  WriteFile("old/inner/note", "unchanged");

  struct Case {
    std::wstring path;
    bool result;
    std::vector<std::string> directories;  // must exist afterwards
  };
  const Case cases[] = {
      {L"", false, {}},
      {std::wstring(L"nul\0x", 5), false, {}},  // must not create "nul"
      {L"a/b/c", true, {"a", "a/b", "a/b/c"}},
      {L"x\\y\\z", true, {"x", "x/y", "x/y/z"}},
      {L"mixed\\one/two\\", true, {"mixed/one/two"}},
      {L"p//q/", true, {"p/q"}},
      {L"m/../n", true, {"m", "n"}},
      {L"./dot", true, {"dot"}},
      {L"old/inner", true, {"old/inner"}},
      {L"a/b/c", true, {"a/b/c"}},
      {L"file.txt", true, {}},        // exists, as a file: accepted
      {L"file.txt/sub", false, {}},   // cannot go below a file
      {L"file.txt\\sub\\more", false, {}},
      {Wide(scratch.Path() / "abs" / "one"), true, {"abs/one"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(fs::path(c.path).string());
    EXPECT_EQ(CSystemHelper::MakeDirectory(c.path), c.result);
    for (const std::string& d : c.directories) EXPECT_TRUE(fs::is_directory(d)) << d;
  }
  EXPECT_TRUE(fs::is_regular_file("file.txt"));
  EXPECT_EQ(ReadFile("file.txt"), "keep");
  EXPECT_EQ(ReadFile("old/inner/note"), "unchanged");
  EXPECT_FALSE(fs::exists("file.txt/sub"));
  EXPECT_FALSE(fs::exists("nul"));
}

TEST(SystemHelper, MakeDirectoryHandlesPathsBeyondTheSystemLimit) {
  test::ScratchDir scratch;
  // 40 levels of 121 characters: about 4900 characters, more than the 4096
  // a single system call accepts (and far more than 254).
  const std::string level = "L" + std::string(120, 'n');
  std::wstring relative;
  for (int i = 0; i < 40; ++i) relative += (i % 2 ? L"\\" : L"/") + fs::path(level).wstring();
  relative.erase(0, 1);
  ASSERT_GT(relative.size(), 4096u);

  EXPECT_TRUE(CSystemHelper::MakeDirectory(relative));
  EXPECT_TRUE(CSystemHelper::FileExists(relative));
  EXPECT_FALSE(CSystemHelper::FileExists(relative + L"/missing"));
  // The same tree through an absolute path: every level exists already.
  EXPECT_TRUE(CSystemHelper::MakeDirectory(Wide(scratch.Path()) + L"/" + relative + L"/last"));

  // Walk down level by level to check what is on disk.
  for (int i = 0; i < 40; ++i) {
    ASSERT_TRUE(fs::is_directory(level)) << "level " << i;
    fs::current_path(level);
  }
  EXPECT_TRUE(fs::is_directory("last"));
}

TEST(SystemHelper, FileExistsForFilesAndDirectories) {
  test::ScratchDir scratch;
  WriteFile("f", "");
  fs::create_directories("d/e");
  EXPECT_TRUE(CSystemHelper::FileExists(L"f"));
  EXPECT_TRUE(CSystemHelper::FileExists(L"d"));
  EXPECT_TRUE(CSystemHelper::FileExists(L"d\\e"));
  EXPECT_FALSE(CSystemHelper::FileExists(L"d\\missing"));
  EXPECT_FALSE(CSystemHelper::FileExists(L""));
  EXPECT_FALSE(CSystemHelper::FileExists(std::wstring(L"f\0ghost", 7)));
}

}  // namespace
}  // namespace hux
