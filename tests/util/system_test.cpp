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

std::string ReadFile(const fs::path& p) {
  std::ifstream in(p);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(CoreSystem, ExecutableAndParentProcess) {
  const std::wstring exe = GCoreSystem::GetExeFilePath();
  EXPECT_EQ(fs::path(exe), fs::read_symlink("/proc/self/exe"));
  const std::wstring folder = GCoreSystem::GetExePath();
  EXPECT_EQ(folder, exe.substr(0, exe.rfind(L'/') + 1));
  std::wstring out = L"stale";
  GCoreSystem::GetExeFilePath(out);
  EXPECT_EQ(out, exe);
  GCoreSystem::GetExePath(out);
  EXPECT_EQ(out, folder);

  // /proc/self/stat: "pid (comm) state ppid ..."; read after the last ')'.
  const std::string stat = ReadFile("/proc/self/stat");
  std::istringstream fields(stat.substr(stat.rfind(')') + 1));
  std::string state;
  int ppid = 0;
  fields >> state >> ppid;
  EXPECT_EQ(GCoreSystem::GetParentProcessID(), ppid);
  for (int pid : {-1, 0, 0x7FFFFFFF}) EXPECT_EQ(GCoreSystem::GetProcessPath(pid), "") << pid;
}

TEST(CoreSystem, ProcessPathOfAChildWithALongNonUtf8Path) {
  test::ScratchDir scratch;
  // Over 600 bytes, with a byte that is not UTF-8: it comes back whole.
  fs::path dir = scratch.Path();
  for (int i = 0; i < 3; ++i) dir /= std::string(200, char('a' + i)) + "\xff";
  fs::create_directories(dir);
  const fs::path exe = dir / "sleeper";
  fs::copy_file("/bin/sleep", exe);
  // The shell prints the child's id as soon as it has forked.
  FILE* shell = ::popen(("'" + exe.string() + "' 30 >/dev/null 2>&1 & echo $!").c_str(), "r");
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
  // "café-" in UTF-8, then a stray byte 0xFF.
  fs::create_directory("caf\xc3\xa9-\xff");
  fs::current_path("caf\xc3\xa9-\xff");
  std::wstring out;
  GCoreSystem::CurrentDirectory(out);
  EXPECT_TRUE(out.ends_with(std::wstring(L"/caf\u00e9-") + wchar_t(0xDCFF))) << fs::path(out);
  // The wide form names the same directory again.
  EXPECT_TRUE(CSystemHelper::MakeDirectory(out + L"/sub\\deeper"));
  EXPECT_TRUE(fs::is_directory("sub/deeper"));
}

TEST(SystemHelper, MakeDirectoryAndFileExists) {
  test::ScratchDir scratch;
  std::ofstream("file.txt") << "keep";
  fs::create_directories("old/inner");
  const struct {
    std::wstring path;
    bool result;
    const char* directory;  // must exist afterwards
  } cases[] = {
      {L"", false, nullptr},
      {std::wstring(L"nul\0x", 5), false, nullptr},  // must not create "nul"
      {L"a/b/c", true, "a/b/c"},
      {L"x\\y\\z", true, "x/y/z"},
      {L"mixed\\one/two\\", true, "mixed/one/two"},
      {L"p//q/", true, "p/q"},
      {L"m/../n", true, "n"},
      {L"./dot", true, "dot"},
      {L"old/inner", true, "old/inner"},
      {L"a/b/c", true, "a/b/c"},
      {L"file.txt", true, nullptr},  // exists, as a file: accepted
      {L"file.txt/sub", false, nullptr},
      {L"file.txt\\sub\\more", false, nullptr},
      {scratch.Path().wstring() + L"/abs/one", true, "abs/one"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CSystemHelper::MakeDirectory(c.path), c.result) << fs::path(c.path);
    if (c.directory) {
      EXPECT_TRUE(fs::is_directory(c.directory)) << c.directory;
    }
  }
  EXPECT_TRUE(fs::is_directory("m"));
  EXPECT_EQ(ReadFile("file.txt"), "keep");
  EXPECT_FALSE(fs::exists("nul"));
  const struct {
    std::wstring path;
    bool exists;
  } exists[] = {{L"file.txt", true}, {L"a", true},   {L"x\\y", true}, {L"x\\missing", false},
                {L"", false},        {std::wstring(L"file.txt\0ghost", 14), false}};
  for (const auto& c : exists) EXPECT_EQ(CSystemHelper::FileExists(c.path), c.exists) << fs::path(c.path);
}

TEST(SystemHelper, MakeDirectoryHandlesPathsBeyondTheSystemLimit) {
  test::ScratchDir scratch;
  // 40 levels of 121 characters: more than the 4096 one system call accepts.
  const std::string level = "L" + std::string(120, 'n');
  std::wstring relative;
  for (int i = 0; i < 40; ++i) relative += (i % 2 ? L"\\" : L"/") + fs::path(level).wstring();
  relative.erase(0, 1);
  EXPECT_TRUE(CSystemHelper::MakeDirectory(relative));
  EXPECT_TRUE(CSystemHelper::FileExists(relative));
  EXPECT_FALSE(CSystemHelper::FileExists(relative + L"/missing"));
  // The same tree through an absolute path: every level exists already.
  EXPECT_TRUE(CSystemHelper::MakeDirectory(scratch.Path().wstring() + L"/" + relative + L"/last"));
  for (int i = 0; i < 40; ++i) {
    ASSERT_TRUE(fs::is_directory(level)) << "level " << i;
    fs::current_path(level);
  }
  EXPECT_TRUE(fs::is_directory("last"));
}

}  // namespace
}  // namespace hux
