// GFileIOStream against real files, and the wide-path conversion that every
// file entry point shares.
#include <hux/io/filestream.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <hux/diag/logmanager.h>
#include <hux/util/system.h>

#include "scratch_dir.h"

namespace hux {
namespace {

class FileStreamTest : public ::testing::Test {
 protected:
  std::wstring Path(const std::wstring& name) {
    const std::string dir = dir_.string();
    return std::wstring(dir.begin(), dir.end()) + L"/" + name;
  }
  test::ScratchDir scratch_;  // its name is ASCII
  const std::filesystem::path& dir_ = scratch_.Path();
};

TEST_F(FileStreamTest, ReadsWritesAndPositions) {
  {
    GFileIOStream out(true, Path(L"data.bin"), false);
    EXPECT_TRUE(out.Write(const_cast<char*>("0123456789"), 10));
    EXPECT_EQ(out.pos(), 10);
    EXPECT_TRUE(out.seek(2));
    EXPECT_TRUE(out.Write(const_cast<char*>("ab"), 2));
  }
  GFileIOStream in(false, Path(L"data.bin"), false);
  char buf[12] = "xxxxxxxxxxx";
  EXPECT_EQ(in.Read(buf, 12), 10u) << "a short read reports the delivered bytes";
  EXPECT_TRUE(in.seek(8)) << "a seek recovers from the end";
  EXPECT_EQ(in.pos(), 8);
  GFileIOStream missing(false, Path(L"missing.bin"), false);
  EXPECT_EQ(missing.Read(buf, 4), 0u);
  EXPECT_FALSE(missing.seek(0));
}

TEST_F(FileStreamTest, WidePathsNameExactlyOneFileOrAreRefused) {
  std::filesystem::create_directory(dir_ / "d\xFF");
  std::ofstream(dir_ / "a") << "keep";  // what a path cut at a NUL would name
  const std::pair<std::wstring, const char*> cases[] = {  // the name, and the file made or null: refused
      {L"\u4e2d\u6587-\U0001F600.bin", "\xE4\xB8\xAD\xE6\x96\x87-\xF0\x9F\x98\x80.bin"},
      {L"d\xDCFF/in.hux", "d\xFF/in.hux"},  // an escaped byte names the directory on disk
      {L"a\xD800.hux", nullptr},
      {L"a\xDC7F.hux", nullptr},
      {std::wstring(L"a\0.hux", 6), nullptr},
      {std::wstring(L"a") + static_cast<wchar_t>(0x110000), nullptr},
      {L"a\xDCC3\xDCA9", nullptr},  // escapes spelling UTF-8: another name of "a\u00e9"
  };
  const auto entries = [&] { return std::distance(std::filesystem::recursive_directory_iterator(dir_), {}); };
  for (const auto& [name, native] : cases) {
    const std::wstring path = Path(name);
    const auto before = entries();
    {
      GFileIOStream out(true, path, false);
      out.Write(const_cast<char*>("z"), 1);
    }
    EXPECT_EQ(CLogManager().SetOutputFilePath(path), native != nullptr) << (native ? native : "refused");
    EXPECT_EQ(CSystemHelper::FileExists(path), native != nullptr) << (native ? native : "refused");
    if (native)
      EXPECT_TRUE(std::filesystem::is_regular_file(dir_ / native));
    else
      EXPECT_EQ(entries(), before) << "nothing is created for a refused path";
  }
  std::ifstream kept(dir_ / "a");
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "keep");
}

TEST_F(FileStreamTest, ReadLineTakesLinesOfAnyLength) {
  const std::string longLine(5000, 'L');
  std::ofstream(dir_ / "lines.txt", std::ios::binary) << "first\n\n" + longLine + std::string("\nwith\0zero", 10);
  GFileIOStream in(false, Path(L"lines.txt"), true);
  const std::pair<bool, std::string> expected[] = {
      {true, "first"}, {false, ""}, {true, longLine}, {true, "with"}, {false, ""}};  // cut at a zero byte; the end
  for (const auto& [more, text] : expected) {
    std::string line = "old";
    EXPECT_EQ(in.ReadLine(line), more);
    EXPECT_EQ(line, text);
  }
}

}  // namespace
}  // namespace hux
