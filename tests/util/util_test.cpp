#include <hux/util/bitwise.h>

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include <hux/util/color.h>
#include <hux/util/endian.h>
#include <hux/util/inputparser.h>
#include <hux/util/random.h>
#include <hux/util/system.h>

#include "scratch_dir.h"

namespace hux {
namespace {

TEST(Color, IntegerPackingsPlaceChannelsByBitPosition) {
  EXPECT_EQ(CColor().FromIntegerARGB(0x11223344u), CColor(0x22, 0x33, 0x44, 0x11));
  EXPECT_EQ(CEndianInfoMananger::GetInstance()->GetIsLittleEndian(), 1);
}

TEST(Random, ReproducesTheClassicRuntimeSequence) {
  CRandom random(1);
  for (int value : {41, 18467, 6334, 26500, 19169}) EXPECT_EQ(random.Rand(), value);
  EXPECT_EQ(CRandom(0x100000001ul).Rand(), 41);  // only the low 32 bits of the seed count
}

double HalfValue(unsigned int h) {
  const double sign = (h & 0x8000) ? -1.0 : 1.0;
  const int e = (h >> 10) & 0x1F;
  const int m = h & 0x3FF;
  if (e == 0) return sign * std::ldexp(m, -24);
  if (e == 31) return m ? std::numeric_limits<double>::quiet_NaN() : sign * std::numeric_limits<double>::infinity();
  return sign * std::ldexp(1024 + m, e - 25);
}

TEST(Half, EveryHalfConvertsExactlyAndBackAndSinglesBetweenTruncate) {
  for (unsigned int h = 0; h <= 0xFFFF; ++h) {
    const auto half = static_cast<unsigned short>(h);
    const float f = CBitwise::HalfToFloat(half);
    const double reference = HalfValue(h);
    if (std::isnan(reference)) {
      ASSERT_EQ(CBitwise::HalfToFloatI(half), ((h & 0x8000u) << 16) | 0x7F800000u | ((h & 0x3FFu) << 13));
    } else {
      ASSERT_EQ(double(f), reference) << std::hex << h;
      ASSERT_EQ(std::signbit(f), bool(h & 0x8000)) << std::hex << h;
    }
    ASSERT_EQ(CBitwise::HalfToFloatI(half), std::bit_cast<unsigned int>(f));
    // -0 does not come back: tiny values lose their sign.
    ASSERT_EQ(CBitwise::FloatToHalf(f), h == 0x8000 ? 0 : h) << std::hex << h;
    if (h >= 0x7BFF) continue;
    const float hi = CBitwise::HalfToFloat(static_cast<unsigned short>(h + 1));
    for (float p : {std::nextafter(f, hi), (f + hi) / 2, std::nextafter(hi, f)}) {
      ASSERT_EQ(CBitwise::FloatToHalf(p), h) << p;
      const unsigned short negative = CBitwise::FloatToHalf(-p);
      ASSERT_EQ(h == 0 ? negative & 0x7FFF : negative, h == 0 ? 0 : h | 0x8000) << -p;  // a zero's sign may go
    }
  }
  const struct {
    unsigned int in;
    unsigned short half;
  } cases[] = {{std::bit_cast<unsigned int>(65535.9f), 0x7BFF}, {std::bit_cast<unsigned int>(-1e6f), 0xFC00},
               {0xFFC00000u, 0xFE00}, {0x7F800001u, 0x7C01}};
  for (const auto& c : cases) EXPECT_EQ(CBitwise::FloatToHalfI(c.in), c.half) << std::hex << c.in;
}

TEST(InputParser, ExplainXYZTable) {
  const struct {
    const wchar_t* text;
    int result;
    double x, y, z;
  } cases[] = {
      {L"1,2", 1, 1, 2, 0},
      {L"1,,3", 1, 1, 0, 3},
      {L"1,2,3,junk", 1, 1, 2, 3},  // pieces after the third are not read
      {L"1, 2, 3", 1, 1, 2, 3},  // white space before a number is allowed
      {L"-1.25e2,+.5,7.", 1, -125, 0.5, 7},
      {L"0x10,1e100,-1e100", 1, 16, 1e100, -1e100},
      {L"\uFF11\uFF0C\uFF12\uFF0C\uFF13", 1, 1, 2, 3},  // full-width 1，2，3
      {L"\uFF0D\uFF11\uFF0E\uFF15\uFF0C\u3000\uFF12", 1, -1.5, 2, 0},
      {L"1 ,2,3", 0, 0, 0, 0},  // a blank after a number is left unread
      {L"1, ,3", 0, 0, 0, 0},
      {L"1e101,0,0", 0, 0, 0, 0},
  };
  for (const auto& c : cases) {
    double x = 9, y = 9, z = 9;
    EXPECT_EQ(CInputParser::explainXYZ(c.text, &x, &y, &z), c.result) << c.text;
    const std::vector<double> expected = c.result ? std::vector<double>{c.x, c.y, c.z} : std::vector<double>(3, 9);
    EXPECT_EQ(std::vector<double>({x, y, z}), expected) << c.text;
  }
  double x = 0, y = 0;
  EXPECT_EQ(CInputParser::explainXYZ(L"1,2,3", &x, &y, nullptr), 0);
}

TEST(InputParser, ConvertToDBCMapsFullWidthFormsOnly) {
  std::wstring all = L"\u3000\u3001\uFF5F\uFF00a\u4e2d", expected = L" \u3001\uFF5F\uFF00a\u4e2d";
  for (wchar_t c = 0xFF01; c <= 0xFF5E; ++c) all.push_back(c), expected.push_back(c - 0xFF01 + L'!');
  wchar_t* raw = nullptr;
  EXPECT_EQ(CInputParser::ConvertToDBC(all, &raw), 1);
  const std::unique_ptr<wchar_t[]> out(raw);
  EXPECT_EQ(std::wstring(out.get()), expected);
}

namespace fs = std::filesystem;

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
  EXPECT_TRUE(CSystemHelper::FileExists(relative + L"/last"));
}

}  // namespace
}  // namespace hux
