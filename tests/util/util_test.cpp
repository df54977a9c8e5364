#include <hux/util/bitwise.h>

#include <gtest/gtest.h>

#include <unistd.h>

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

#include "comma_locale.h"
#include "scratch_dir.h"

namespace hux {
namespace {

const float kNaN = std::numeric_limits<float>::quiet_NaN();

TEST(Color, PackingsChannelsAndEquality) {
  CColor c;
  EXPECT_EQ(c.ToIntegerARGB(), 0xFF000000u);                          // opaque black
  EXPECT_EQ(c.FromInteger(0x11223344u), CColor(0x11, 0x22, 0x33, 0x44));  // r g b a
  EXPECT_EQ(c.FromIntegerARGB(0x11223344u), CColor(0x22, 0x33, 0x44, 0x11));
  for (unsigned int x : {0x01020304u, 0x80FF7F00u, 0xDEADBEEFu}) {
    EXPECT_EQ(CColor().FromInteger(x).ToInteger(), x);
    EXPECT_EQ(CColor().FromIntegerARGB(x).ToIntegerARGB(), x);
    EXPECT_EQ(CColor().FromInteger(x).ToIntegerARGB(), (x >> 8) | (x << 24));
  }
  for (const CColor& other : {CColor(9, 2, 3, 4), CColor(1, 9, 3, 4), CColor(1, 2, 9, 4), CColor(1, 2, 3, 9)})
    EXPECT_TRUE(CColor(1, 2, 3, 4) != other && !(CColor(1, 2, 3, 4) == other));
  const float in[4] = {0.5f, 2.0f, kNaN, 1.0f};
  EXPECT_EQ(CColor::MakeFromFloatArray(in), CColor(127, 254, 0, 255));
  float out[4];
  CColor(255, 0, 51, 102).MakeFloatArray(out);
  EXPECT_EQ(std::vector<float>(out, out + 4), (std::vector<float>{1.0f, 0.0f, 0.2f, 0.4f}));
  EXPECT_EQ(CEndianInfoMananger::GetInstance()->GetIsLittleEndian(), 1);
}

TEST(Random, ReproducesTheClassicRuntimeSequence) {
  CRandom random(1);
  for (int value : {41, 18467, 6334, 26500, 19169}) EXPECT_EQ(random.Rand(), value);
  EXPECT_EQ(CRandom(0x100000001ul).Rand(), 41);  // only the low 32 bits of the seed count
}

TEST(Bitwise, BitsAndFixedPoint) {
  EXPECT_EQ(CBitwise::MostSignificantBitSet(0), 0xFFFFFFFFu);
  EXPECT_EQ(CBitwise::FirstPO2From(0), 0u);
  for (unsigned int bit = 0; bit < 32; ++bit) {
    for (unsigned int v : {1u << bit, (1u << bit) | 1u, (2u << bit) - 1}) {
      EXPECT_EQ(CBitwise::MostSignificantBitSet(v), bit) << v;
      EXPECT_EQ(CBitwise::FirstPO2From(v), v == 1u << bit ? v : bit == 31 ? 0u : 2u << bit) << v;
    }
  }
  const struct {
    unsigned int value, from, to, expected;
  } fixed[] = {
      {255, 8, 16, 65535}, {1, 2, 8, 85}, {0xFFFF, 16, 8, 0xFF}, {1, 1, 32, ~0u}, {~0u, 32, 0, 0}, {1, 0, 8, 255},
      {200, 8, 28, unsigned((200ull << 28) / 255)},
  };
  for (const auto& c : fixed)
    EXPECT_EQ(CBitwise::FixedToFixed(c.value, c.from, c.to), c.expected) << c.value << " " << c.from << "->" << c.to;
  EXPECT_EQ(CBitwise::FloatToFixed(7.0f, 8) + CBitwise::FloatToFixed(kNaN, 8), 255u);
  EXPECT_EQ(CBitwise::FloatToFixed(0.5f, 32), 0x80000000u);
  EXPECT_EQ(CBitwise::FixedToFloat(51, 8), 0.2f);
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
      {L"1,2,3", 1, 1, 2, 3},
      {L"1,2", 1, 1, 2, 0},
      {L"1,,3", 1, 1, 0, 3},
      {L"1,2,3,junk", 1, 1, 2, 3},  // pieces after the third are not read
      {L"1, 2, 3", 1, 1, 2, 3},  // white space before a number is allowed
      {L"-1.25e2,+.5,7.", 1, -125, 0.5, 7},
      {L"0x10,1e100,-1e100", 1, 16, 1e100, -1e100},
      {L"\uFF11\uFF0C\uFF12\uFF0C\uFF13", 1, 1, 2, 3},  // full-width 1，2，3
      {L"\uFF0D\uFF11\uFF0E\uFF15\uFF0C\u3000\uFF12", 1, -1.5, 2, 0},
      {L"1 ,2,3", 0, 0, 0, 0},  // a blank after a number is left unread
      {L"1,a,3", 0, 0, 0, 0},
      {L"1, ,3", 0, 0, 0, 0},
      {L"1e101,0,0", 0, 0, 0, 0},
      {L"inf,0,0", 0, 0, 0, 0},
      {L"1\u4e2d", 0, 0, 0, 0},
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

TEST(InputParser, ReadsPointsUnderACommaLocale) {
  test::CommaLocale locale;
  if (!locale.active()) GTEST_SKIP() << "no locale with a decimal comma could be made";
  double x = 0, y = 0, z = 0;
  EXPECT_EQ(CInputParser::explainXYZ(L"3.5,-0.25,1e-3", &x, &y, &z), 1);
  EXPECT_EQ(std::vector<double>({x, y, z}), (std::vector<double>{3.5, -0.25, 1e-3}));
}

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
  EXPECT_TRUE(CSystemHelper::FileExists(relative + L"/last"));
}

}  // namespace
}  // namespace hux
