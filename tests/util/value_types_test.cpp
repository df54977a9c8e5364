// Colour, random numbers, bit functions, half precision and byte order.
#include <hux/util/bitwise.h>
#include <hux/util/color.h>
#include <hux/util/endian.h>
#include <hux/util/random.h>

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace hux {
namespace {

const float kNaN = std::numeric_limits<float>::quiet_NaN();
const float kInf = std::numeric_limits<float>::infinity();

TEST(Color, PackingsChannelsAndEquality) {
  CColor c;
  EXPECT_EQ(c.ToIntegerARGB(), 0xFF000000u);                          // opaque black
  EXPECT_EQ(c.FromInteger(0x11223344u), CColor(0x11, 0x22, 0x33, 0x44));  // r g b a
  EXPECT_EQ(c.FromIntegerARGB(0x11223344u), CColor(0x22, 0x33, 0x44, 0x11));
  for (unsigned int x : {0u, 0xFFFFFFFFu, 0x01020304u, 0x80FF7F00u, 0xDEADBEEFu}) {
    EXPECT_EQ(CColor().FromInteger(x).ToInteger(), x);
    EXPECT_EQ(CColor().FromIntegerARGB(x).ToIntegerARGB(), x);
    EXPECT_EQ(CColor().FromInteger(x).ToIntegerARGB(), (x >> 8) | (x << 24));
  }
  const CColor base(1, 2, 3, 4);
  EXPECT_FALSE(base != CColor(1, 2, 3, 4));
  for (const CColor& other : {CColor(9, 2, 3, 4), CColor(1, 9, 3, 4), CColor(1, 2, 9, 4), CColor(1, 2, 3, 9)})
    EXPECT_FALSE(base == other);
}

TEST(Color, FloatChannelsTruncateAndKeepLowEightBits) {
  const struct {
    float in;
    unsigned char channel;
  } cases[] = {
      {1.0f, 255}, {0.999f, 254}, {0.0f, 0}, {0.5f, 127},  // 127.5 truncates
      {1.5f, 126}, {-1.0f, 1},    {2.0f, 254},             // 382, -255, 510 & 0xFF
      {kNaN, 0},   {kInf, 0},     {-kInf, 0}, {1e30f, 0},  // no integer value: 0
  };
  for (const auto& c : cases) {
    const float in[4] = {c.in, 0.0f, c.in, 1.0f};
    EXPECT_EQ(CColor::MakeFromFloatArray(in), CColor(c.channel, 0, c.channel, 255)) << c.in;
  }
  float out[4];
  CColor(255, 0, 51, 102).MakeFloatArray(out);
  EXPECT_EQ(std::vector<float>(out, out + 4), (std::vector<float>{1.0f, 0.0f, 0.2f, 0.4f}));
}

TEST(EndianInfo, ReportsLittleEndianFromOneInstance) {
  ASSERT_NE(CEndianInfoMananger::GetInstance(), nullptr);
  EXPECT_EQ(CEndianInfoMananger::GetInstance()->GetIsLittleEndian(), 1);
  EXPECT_EQ(CEndianInfoMananger::is_little_endian(), 1);
}

TEST(Random, ReproducesTheClassicRuntimeSequence) {
  // The first values of the C runtime's rand() after srand(1).
  CRandom random(1);
  for (int value : {41, 18467, 6334, 26500, 19169, 15724, 11478, 29358, 26962, 24464}) EXPECT_EQ(random.Rand(), value);
  random.Srand(1);
  EXPECT_EQ(random.Rand(), 41);
  EXPECT_EQ(CRandom(0x100000001ul).Rand(), 41);  // only the low 32 bits of the seed count
  CRandom any(0xCAFEF00Du);
  for (int i = 0; i < 100000; ++i) {
    const int v = any.Rand();
    ASSERT_TRUE(v >= 0 && v <= 32767) << v;
  }
}

TEST(Bitwise, MostSignificantBitAndNextPowerOfTwo) {
  EXPECT_EQ(CBitwise::MostSignificantBitSet(0), 0xFFFFFFFFu);
  EXPECT_EQ(CBitwise::FirstPO2From(0), 0u);
  // Against plain loops over small values and the neighbours of each power.
  std::vector<unsigned int> values;
  for (unsigned int v = 1; v < 5000; ++v) values.push_back(v);
  for (unsigned int bit = 0; bit < 32; ++bit) values.insert(values.end(), {1u << bit, (1u << bit) - 1, (1u << bit) + 1});
  values.push_back(0xFFFFFFFFu);
  for (unsigned int v : values) {
    if (v == 0) continue;
    unsigned int msb = 31;
    while (!(v & (1u << msb))) --msb;
    EXPECT_EQ(CBitwise::MostSignificantBitSet(v), msb) << v;
    unsigned long long po2 = 1;
    while (po2 < v) po2 <<= 1;
    EXPECT_EQ(CBitwise::FirstPO2From(v), po2 > 0x80000000ull ? 0u : unsigned(po2)) << v;
  }
}

TEST(Bitwise, FixedPointConversions) {
  const struct {
    unsigned int value, from, to, expected;
  } fixed[] = {
      {255, 8, 16, 65535}, {1, 2, 8, 85},   {0xFFFF, 16, 8, 0xFF}, {0, 4, 16, 0},  {77, 8, 8, 77},
      {0x80, 8, 4, 0x8},   {1, 1, 32, ~0u}, {~0u, 32, 8, 0xFF},    {~0u, 32, 0, 0}, {5, 40, 40, 5},
      {1, 0, 8, 255},      {0, 0, 8, 0},
      // Widening far: the exact product, which 32-bit arithmetic would wrap.
      {200, 8, 28, unsigned((200ull << 28) / 255)}, {1, 2, 32, unsigned((1ull << 32) / 3)},
  };
  for (const auto& c : fixed)
    EXPECT_EQ(CBitwise::FixedToFixed(c.value, c.from, c.to), c.expected) << c.value << " " << c.from << "->" << c.to;
  const struct {
    float value;
    unsigned int bits, expected;
  } toFixed[] = {
      {0.5f, 8, 128},  {1.0f, 8, 255},           {7.0f, 8, 255},          {-0.1f, 8, 0},  {kNaN, 8, 0},
      {0.999f, 8, 255}, {0.5f, 31, 0x40000000u}, {0.5f, 32, 0x80000000u}, {1.0f, 32, ~0u},
  };
  for (const auto& c : toFixed) EXPECT_EQ(CBitwise::FloatToFixed(c.value, c.bits), c.expected) << c.value << " " << c.bits;
  EXPECT_EQ(CBitwise::FixedToFloat(255, 8), 1.0f);
  EXPECT_EQ(CBitwise::FixedToFloat(0, 8), 0.0f);
  EXPECT_EQ(CBitwise::FixedToFloat(51, 8), 0.2f);
  EXPECT_EQ(CBitwise::FixedToFloat(~0u, 32), 1.0f);
}

TEST(Bitwise, IntWriteAndReadAreLittleEndianOfOneToFourBytes) {
  const struct {
    int bytes;
    unsigned int value;
    std::vector<unsigned char> stored;
    unsigned int read;
  } cases[] = {
      {1, 0x00ABCDEFu, {0xEF}, 0xEF},
      {2, 0x00ABCDEFu, {0xEF, 0xCD}, 0xCDEF},
      {3, 0x00ABCDEFu, {0xEF, 0xCD, 0xAB}, 0x00ABCDEF},
      {4, 0x89ABCDEFu, {0xEF, 0xCD, 0xAB, 0x89}, 0x89ABCDEF},
      {0, 0x12345678u, {}, 0},
      {5, 0x12345678u, {}, 0},
      {-1, 0x12345678u, {}, 0},
  };
  for (const auto& c : cases) {
    std::vector<unsigned char> buf(8, 0x5A), expected = c.stored;
    expected.resize(8, 0x5A);
    CBitwise::IntWrite(buf.data(), c.bytes, c.value);
    EXPECT_EQ(buf, expected) << c.bytes;
    EXPECT_EQ(CBitwise::IntRead(buf.data(), c.bytes), c.read) << c.bytes;
  }
}

// The value of a half by its definition, as a reference for HalfToFloat.
double HalfValue(unsigned int h) {
  const double sign = (h & 0x8000) ? -1.0 : 1.0;
  const int e = (h >> 10) & 0x1F;
  const int m = h & 0x3FF;
  if (e == 0) return sign * std::ldexp(m, -24);
  if (e == 31) return m ? std::numeric_limits<double>::quiet_NaN() : sign * std::numeric_limits<double>::infinity();
  return sign * std::ldexp(1024 + m, e - 25);
}

TEST(Half, EveryHalfConvertsExactlyAndBack) {
  for (unsigned int h = 0; h <= 0xFFFF; ++h) {
    const auto half = static_cast<unsigned short>(h);
    const float f = CBitwise::HalfToFloat(half);
    const double reference = HalfValue(h);
    if (std::isnan(reference)) {
      // The payload travels as the top mantissa bits, so NaNs survive too.
      ASSERT_EQ(CBitwise::HalfToFloatI(half), ((h & 0x8000u) << 16) | 0x7F800000u | ((h & 0x3FFu) << 13));
    } else {
      ASSERT_EQ(double(f), reference) << std::hex << h;
      ASSERT_EQ(std::signbit(f), bool(h & 0x8000)) << std::hex << h;
    }
    ASSERT_EQ(CBitwise::HalfToFloatI(half), std::bit_cast<unsigned int>(f));
    // -0 is the one value that does not come back: tiny values lose their sign.
    ASSERT_EQ(CBitwise::FloatToHalf(f), h == 0x8000 ? 0 : h) << std::hex << h;
  }
}

TEST(Half, SinglesBetweenHalvesTruncateTowardZero) {
  // Every float strictly between two neighbouring finite halves of the same
  // sign becomes the one nearer zero.
  for (unsigned int h = 0; h < 0x7BFF; ++h) {
    const float lo = CBitwise::HalfToFloat(static_cast<unsigned short>(h));
    const float hi = CBitwise::HalfToFloat(static_cast<unsigned short>(h + 1));
    for (float p : {std::nextafter(lo, hi), (lo + hi) / 2, std::nextafter(hi, lo)}) {
      ASSERT_EQ(CBitwise::FloatToHalf(p), h) << p;
      const unsigned short negative = CBitwise::FloatToHalf(-p);
      ASSERT_EQ(h == 0 ? negative & 0x7FFF : negative, h == 0 ? 0 : h | 0x8000) << -p;  // a zero's sign may go
    }
  }
  // Beyond the largest half: infinity; below the smallest subnormal: +0;
  // NaN payloads in dropped bits force bit 0 on.
  auto bits = [](float f) { return std::bit_cast<unsigned int>(f); };
  const struct {
    unsigned int in;
    unsigned short half;
  } cases[] = {
      {bits(65519.0f), 0x7BFF}, {bits(65535.9f), 0x7BFF}, {bits(1e6f), 0x7C00}, {bits(-1e6f), 0xFC00},
      {bits(std::numeric_limits<float>::max()), 0x7C00},  {bits(std::numeric_limits<float>::denorm_min()), 0},
      {bits(1e-10f), 0},        {bits(-1e-10f), 0},       {0xFFC00000u, 0xFE00},  {0x7F800001u, 0x7C01},
      {0x7FFFFFFFu, 0x7FFF},
  };
  for (const auto& c : cases) EXPECT_EQ(CBitwise::FloatToHalfI(c.in), c.half) << std::hex << c.in;
}

}  // namespace
}  // namespace hux
