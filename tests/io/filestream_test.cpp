// GFileIOStream against real files: short reads, failed streams, long lines.
#include <hux/io/filestream.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "scratch_dir.h"

namespace hux {
namespace {

class FileStreamTest : public ::testing::Test {
 protected:
  // The scratch folder's name is ASCII; the file name may be anything.
  std::wstring Path(const std::wstring& name) {
    const std::string dir = dir_.string();
    return std::wstring(dir.begin(), dir.end()) + L"/" + name;
  }
  void WriteFile(const std::wstring& name, const std::string& content) {
    std::ofstream(dir_ / std::string(name.begin(), name.end()), std::ios::binary) << content;
  }
  test::ScratchDir scratch_;
  const std::filesystem::path& dir_ = scratch_.Path();
};

TEST_F(FileStreamTest, WritesAndReadsBackWithPositions) {
  {
    GFileIOStream out(true, Path(L"data.bin"), false);
    ASSERT_TRUE(out.IsGood());
    EXPECT_TRUE(out.Write(const_cast<char*>("0123456789"), 10));
    EXPECT_EQ(out.pos(), 10);
    EXPECT_TRUE(out.seek(2));
    EXPECT_TRUE(out.Write(const_cast<char*>("ab"), 2));
  }
  GFileIOStream in(false, Path(L"data.bin"), false);
  char buf[10];
  EXPECT_EQ(in.Read(buf, 10), 10u);
  EXPECT_EQ(std::string(buf, 10), "01ab456789");
  EXPECT_TRUE(in.seek(8));
  EXPECT_EQ(in.pos(), 8);
}

TEST_F(FileStreamTest, ShortReadReportsDeliveredBytesAndSeekRecovers) {
  WriteFile(L"short.bin", "abc");
  GFileIOStream in(false, Path(L"short.bin"), false);
  char buf[8] = {'x', 'x', 'x', 'x', 'x', 'x', 'x', 'x'};
  EXPECT_EQ(in.Read(buf, 8), 3u);
  EXPECT_EQ(std::string(buf, 4), "abcx") << "undelivered bytes keep their values";
  EXPECT_EQ(in.Read(buf, 1), 0u);
  EXPECT_TRUE(in.seek(1));
  EXPECT_EQ(in.Read(buf, 2), 2u);
  EXPECT_EQ(std::string(buf, 2), "bc");
}

TEST_F(FileStreamTest, UnopenedFileDeliversNothingAndRefusesWrites) {
  GFileIOStream in(false, Path(L"missing.bin"), false);
  EXPECT_FALSE(in.IsGood());
  char buf[4] = {};
  EXPECT_EQ(in.Read(buf, 4), 0u);
  std::string line = "kept?";
  EXPECT_FALSE(in.ReadLine(line));

  GFileIOStream out(true, Path(L"no/such/dir/file.bin"), false);
  EXPECT_FALSE(out.Write(buf, 4));
}

TEST_F(FileStreamTest, WidePathIsOpenedAsUtf8) {
  const std::wstring name = L"\u4e2d\u6587-\U0001F600.bin";
  {
    GFileIOStream out(true, Path(name), false);
    ASSERT_TRUE(out.IsGood());
    out.Write(const_cast<char*>("z"), 1);
  }
  EXPECT_TRUE(std::filesystem::exists(dir_ / "\xE4\xB8\xAD\xE6\x96\x87-\xF0\x9F\x98\x80.bin"));
}

TEST_F(FileStreamTest, ReadLineTakesLinesOfAnyLength) {
  const std::string longLine(5000, 'L');
  WriteFile(L"lines.txt", "first\n\n" + longLine + std::string("\nwith\0zero\nlast", 15));
  GFileIOStream in(false, Path(L"lines.txt"), true);
  std::string line;
  EXPECT_TRUE(in.ReadLine(line));
  EXPECT_EQ(line, "first");
  EXPECT_FALSE(in.ReadLine(line)) << "an empty line";
  EXPECT_TRUE(line.empty());
  EXPECT_TRUE(in.ReadLine(line));
  EXPECT_EQ(line, longLine);
  EXPECT_TRUE(in.ReadLine(line));
  EXPECT_EQ(line, "with") << "cut at the first zero byte";
  EXPECT_TRUE(in.ReadLine(line));
  EXPECT_EQ(line, "last");
  EXPECT_FALSE(in.ReadLine(line)) << "end of file";
}

}  // namespace
}  // namespace hux
