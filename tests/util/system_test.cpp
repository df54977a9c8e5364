#include <hux/util/system.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

#include "scratch_dir.h"

namespace hux {
namespace {

namespace fs = std::filesystem;

TEST(CoreSystem, ExecutableParentAndMissingProcesses) {
  const std::wstring exe = GCoreSystem::GetExeFilePath();
  EXPECT_EQ(fs::path(exe), fs::read_symlink("/proc/self/exe"));
  EXPECT_EQ(GCoreSystem::GetExePath(), exe.substr(0, exe.rfind(L'/') + 1));
  EXPECT_EQ(GCoreSystem::GetParentProcessID(), static_cast<int>(::getppid()));
  for (int pid : {-1, 0, 0x7FFFFFFF}) EXPECT_EQ(GCoreSystem::GetProcessPath(pid), "") << pid;
}

TEST(CoreSystem, CurrentDirectoryKeepsNonUtf8NamesUsable) {
  test::ScratchDir scratch;
  fs::create_directory("caf\xc3\xa9-\xff");
  fs::current_path("caf\xc3\xa9-\xff");
  std::wstring out;
  GCoreSystem::CurrentDirectory(out);
  EXPECT_TRUE(out.ends_with(std::wstring(L"/caf\u00e9-") + wchar_t(0xDCFF))) << fs::path(out);
  EXPECT_TRUE(CSystemHelper::MakeDirectory(out + L"/sub\\deeper"));
  EXPECT_TRUE(fs::is_directory("sub/deeper"));
}

TEST(SystemHelper, MakeDirectoryAndFileExists) {
  test::ScratchDir scratch;
  std::ofstream("file.txt") << "keep";
  const struct {
    std::wstring path;
    bool result;
    const char* directory;  // must exist afterwards
  } cases[] = {
      {L"", false, nullptr},
      {std::wstring(L"nul\0x", 5), false, "nul"},  // must not create "nul"
      {L"mixed\\one/two\\", true, "mixed/one/two"},
      {L"m/..//n/", true, "n"},
      {L"file.txt", true, nullptr},  // exists, as a file: accepted
      {L"file.txt\\sub\\more", false, "file.txt/sub"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CSystemHelper::MakeDirectory(c.path), c.result) << fs::path(c.path);
    if (c.directory) {
      EXPECT_EQ(fs::is_directory(c.directory), c.result) << c.directory;
    }
  }
  const struct {
    std::wstring path;
    bool exists;
  } exists[] = {{L"file.txt", true}, {L"mixed\\one", true}, {L"x\\missing", false}, {L"", false},
                {std::wstring(L"file.txt\0ghost", 14), false}};
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
  EXPECT_TRUE(CSystemHelper::MakeDirectory(scratch.Path().wstring() + L"/" + relative + L"/last"));
  for (int i = 0; i < 40; ++i) {
    ASSERT_TRUE(fs::is_directory(level)) << "level " << i;
    fs::current_path(level);
  }
  EXPECT_TRUE(fs::is_directory("last"));
}

}  // namespace
}  // namespace hux
