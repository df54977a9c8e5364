#include <hux/util/bitwise.h>
#include <hux/util/color.h>
#include <hux/util/endian.h>
#include <hux/util/random.h>

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <vector>

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

}  // namespace
}  // namespace hux
