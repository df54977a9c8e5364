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

unsigned int ChannelsOf(const CColor& c) {
  return (unsigned(c.GetRed()) << 24) | (unsigned(c.GetGreen()) << 16) | (unsigned(c.GetBlue()) << 8) | c.GetAlpha();
}

TEST(Color, IntegerPackingsPlaceChannelsByBitPosition) {
  CColor c;
  EXPECT_EQ(c.ToIntegerARGB(), 0xFF000000u);  // opaque black
  EXPECT_EQ(ChannelsOf(c.FromInteger(0x11223344u)), 0x11223344u);  // r g b a
  EXPECT_EQ(ChannelsOf(c.FromIntegerARGB(0x11223344u)), 0x22334411u);  // a=11 r=22 g=33 b=44
  // Every packing goes back to the same integer, and the two packings differ
  // by moving alpha from the low byte to the high byte.
  for (unsigned int x : {0u, 0xFFFFFFFFu, 0x01020304u, 0x80FF7F00u, 0xDEADBEEFu}) {
    SCOPED_TRACE(x);
    EXPECT_EQ(CColor().FromInteger(x).ToInteger(), x);
    EXPECT_EQ(CColor().FromIntegerARGB(x).ToIntegerARGB(), x);
    EXPECT_EQ(CColor().FromInteger(x).ToIntegerARGB(), (x >> 8) | (x << 24));
  }
}

TEST(Color, EqualityLooksAtEveryChannel) {
  const CColor base(1, 2, 3, 4);
  EXPECT_FALSE(base != CColor().FromInteger(0x01020304u));
  for (const CColor& other : {CColor(9, 2, 3, 4), CColor(1, 9, 3, 4), CColor(1, 2, 9, 4), CColor(1, 2, 3, 9)})
    EXPECT_FALSE(base == other);
}

TEST(Color, FloatChannelsTruncateAndKeepLowEightBits) {
  struct Case {
    float in;
    unsigned char channel;
  };
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  const Case cases[] = {
      {1.0f, 255}, {0.999f, 254}, {0.0f, 0}, {0.5f, 127},  // 127.5 truncates
      {1.5f, 126},                                          // 382 & 0xFF
      {-1.0f, 1},                                           // -255 in two's complement: ...01
      {2.0f, 254},                                          // 510 & 0xFF
      {nan, 0}, {inf, 0}, {-inf, 0}, {1e30f, 0},            // no integer value: 0
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.in);
    const float in[4] = {c.in, 0.0f, c.in, 1.0f};
    const CColor color = CColor::MakeFromFloatArray(in);
    EXPECT_EQ(color, CColor(c.channel, 0, c.channel, 255));
  }
  CColor c(255, 0, 51, 102);
  float out[4];
  c.MakeFloatArray(out);
  EXPECT_FLOAT_EQ(out[0], 1.0f);
  EXPECT_FLOAT_EQ(out[1], 0.0f);
  EXPECT_FLOAT_EQ(out[2], 0.2f);
  EXPECT_FLOAT_EQ(out[3], 0.4f);
}

TEST(EndianInfo, ReportsLittleEndianFromOneInstance) {
  CEndianInfoMananger* info = CEndianInfoMananger::GetInstance();
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(info->GetIsLittleEndian(), 1);
  EXPECT_EQ(CEndianInfoMananger::is_little_endian(), 1);
}

TEST(Random, ReproducesTheClassicRuntimeSequence) {
  // The first values of the C runtime's rand() after srand(1).
  const int expected[] = {41, 18467, 6334, 26500, 19169, 15724, 11478, 29358, 26962, 24464};
  CRandom random(1);
  for (int value : expected) EXPECT_EQ(random.Rand(), value);
  random.Srand(1);
  EXPECT_EQ(random.Rand(), 41);
  // Only the low 32 bits of the seed count.
  CRandom wide(0x100000001ul);
  EXPECT_EQ(wide.Rand(), 41);
  CRandom any(0xCAFEF00Du);
  for (int i = 0; i < 100000; ++i) {
    const int v = any.Rand();
    ASSERT_GE(v, 0);
    ASSERT_LE(v, 32767);
  }
}

TEST(Bitwise, MostSignificantBitAndNextPowerOfTwo) {
  EXPECT_EQ(CBitwise::MostSignificantBitSet(0), 0xFFFFFFFFu);
  EXPECT_EQ(CBitwise::FirstPO2From(0), 0u);
  EXPECT_EQ(CBitwise::FirstPO2From(0x80000000u), 0x80000000u);
  EXPECT_EQ(CBitwise::FirstPO2From(0x80000001u), 0u);
  EXPECT_EQ(CBitwise::FirstPO2From(0xFFFFFFFFu), 0u);
  // Against plain loops over a spread of values.
  std::vector<unsigned int> values;
  for (unsigned int v = 1; v < 5000; ++v) values.push_back(v);
  for (unsigned int bit = 0; bit < 32; ++bit) {
    const unsigned int p = 1u << bit;
    values.insert(values.end(), {p, p - 1, p + 1, p | (p >> 1)});
  }
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
  struct Case {
    unsigned int value, from, to, expected;
  };
  const Case fixed[] = {
      {255, 8, 16, 65535},           {1, 2, 8, 85},          {0xFFFF, 16, 8, 0xFF},      {0, 4, 16, 0},
      {77, 8, 8, 77},                {0x80, 8, 4, 0x8},      {1, 1, 32, 0xFFFFFFFFu},    {0xFFFFFFFFu, 32, 8, 0xFF},
      {0xFFFFFFFFu, 32, 0, 0},       {5, 40, 40, 5},         {1, 0, 8, 255},             {0, 0, 8, 0},
      // Widening far: the exact product, which 32-bit arithmetic would wrap.
      {200, 8, 28, unsigned((200ull << 28) / 255)}, {1, 2, 32, unsigned((1ull << 32) / 3)},
  };
  for (const Case& c : fixed)
    EXPECT_EQ(CBitwise::FixedToFixed(c.value, c.from, c.to), c.expected) << c.value << " " << c.from << "->" << c.to;

  EXPECT_EQ(CBitwise::FloatToFixed(0.5f, 8), 128u);
  EXPECT_EQ(CBitwise::FloatToFixed(1.0f, 8), 255u);
  EXPECT_EQ(CBitwise::FloatToFixed(7.0f, 8), 255u);
  EXPECT_EQ(CBitwise::FloatToFixed(-0.1f, 8), 0u);
  EXPECT_EQ(CBitwise::FloatToFixed(std::numeric_limits<float>::quiet_NaN(), 8), 0u);
  EXPECT_EQ(CBitwise::FloatToFixed(0.999f, 8), 255u);  // 255.744 truncated
  EXPECT_EQ(CBitwise::FloatToFixed(0.5f, 31), 0x40000000u);
  EXPECT_EQ(CBitwise::FloatToFixed(0.5f, 32), 0x80000000u);
  EXPECT_EQ(CBitwise::FloatToFixed(1.0f, 32), 0xFFFFFFFFu);

  EXPECT_EQ(CBitwise::FixedToFloat(255, 8), 1.0f);
  EXPECT_EQ(CBitwise::FixedToFloat(0, 8), 0.0f);
  EXPECT_EQ(CBitwise::FixedToFloat(51, 8), 0.2f);
  EXPECT_EQ(CBitwise::FixedToFloat(0xFFFFFFFFu, 32), 1.0f);
}

TEST(Bitwise, IntWriteAndReadAreLittleEndianOfOneToFourBytes) {
  struct Case {
    int bytes;
    unsigned int value;
    std::vector<unsigned char> stored;
    unsigned int read;
  };
  const Case cases[] = {
      {1, 0x00ABCDEFu, {0xEF}, 0xEF},
      {2, 0x00ABCDEFu, {0xEF, 0xCD}, 0xCDEF},
      {3, 0x00ABCDEFu, {0xEF, 0xCD, 0xAB}, 0x00ABCDEF},
      {4, 0x89ABCDEFu, {0xEF, 0xCD, 0xAB, 0x89}, 0x89ABCDEF},
      {0, 0x12345678u, {}, 0},
      {5, 0x12345678u, {}, 0},
      {-1, 0x12345678u, {}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bytes);
    unsigned char buf[8];
    std::memset(buf, 0x5A, sizeof buf);
    CBitwise::IntWrite(buf, c.bytes, c.value);
    for (size_t i = 0; i < sizeof buf; ++i)
      EXPECT_EQ(buf[i], i < c.stored.size() ? c.stored[i] : 0x5A) << "byte " << i;
    EXPECT_EQ(CBitwise::IntRead(buf, c.bytes), c.read);
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
      ASSERT_TRUE(std::isnan(f)) << std::hex << h;
      // The payload travels as the top mantissa bits, so NaNs survive too.
      ASSERT_EQ(CBitwise::HalfToFloatI(half), ((h & 0x8000u) << 16) | 0x7F800000u | ((h & 0x3FFu) << 13));
    } else {
      ASSERT_EQ(double(f), reference) << std::hex << h;
      ASSERT_EQ(std::signbit(f), bool(h & 0x8000)) << std::hex << h;
    }
    ASSERT_EQ(CBitwise::HalfToFloatI(half), std::bit_cast<unsigned int>(f));
    // -0 is the one value that does not come back: tiny values lose their sign.
    const unsigned short back = CBitwise::FloatToHalf(f);
    ASSERT_EQ(back, h == 0x8000 ? 0 : h) << std::hex << h;
  }
}

TEST(Half, SinglesBetweenHalvesTruncateTowardZero) {
  // Every float strictly between two neighbouring finite halves of the same
  // sign becomes the one nearer zero; beyond the largest half it overflows
  // to infinity, and below the smallest subnormal it becomes +0.
  for (unsigned int h = 0; h < 0x7BFF; ++h) {
    const float lo = CBitwise::HalfToFloat(static_cast<unsigned short>(h));
    const float hi = CBitwise::HalfToFloat(static_cast<unsigned short>(h + 1));
    const float probes[] = {std::nextafter(lo, hi), (lo + hi) / 2, std::nextafter(hi, lo)};
    for (float p : probes) {
      ASSERT_EQ(CBitwise::FloatToHalf(p), h) << p;
      const unsigned short negative = CBitwise::FloatToHalf(-p);
      if (h == 0)
        ASSERT_EQ(negative & 0x7FFF, 0) << -p;  // a zero; its sign depends on how tiny
      else
        ASSERT_EQ(negative, h | 0x8000) << -p;
    }
  }
  EXPECT_EQ(CBitwise::FloatToHalf(65519.0f), 0x7BFF);  // truncated, not rounded up to infinity
  EXPECT_EQ(CBitwise::FloatToHalf(65535.9f), 0x7BFF);
  EXPECT_EQ(CBitwise::FloatToHalf(1e6f), 0x7C00);
  EXPECT_EQ(CBitwise::FloatToHalf(-1e6f), 0xFC00);
  EXPECT_EQ(CBitwise::FloatToHalf(std::numeric_limits<float>::max()), 0x7C00);
  EXPECT_EQ(CBitwise::FloatToHalf(std::numeric_limits<float>::denorm_min()), 0x0000);
}

TEST(Half, SignsAndNaNPayloadsTheSweepsDoNotReach) {
  struct ToHalf {
    unsigned int floatBits;
    unsigned short half;
  };
  const ToHalf toHalf[] = {
      {std::bit_cast<unsigned int>(1e-10f), 0x0000},
      {std::bit_cast<unsigned int>(-1e-10f), 0x0000},
      {0xFFC00000u, 0xFE00},  // negative quiet NaN
      {0x7F800001u, 0x7C01},  // payload only in dropped bits: bit 0 forced on
      {0x7FFFFFFFu, 0x7FFF},
  };
  for (const ToHalf& c : toHalf) EXPECT_EQ(CBitwise::FloatToHalfI(c.floatBits), c.half) << std::hex << c.floatBits;
}

}  // namespace
}  // namespace hux
