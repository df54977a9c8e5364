#include <hux/util/bitwise.h>

#include <bit>
#include <cmath>

namespace hux {

namespace {

// 2^bits - 1 for bits 0 to 32 (shifting a 32-bit value by 32 is undefined).
unsigned int LargestFixed(unsigned int bits) { return bits >= 32 ? 0xFFFFFFFFu : (1u << bits) - 1u; }

}  // namespace

unsigned int CBitwise::MostSignificantBitSet(unsigned int value) {
  return value == 0 ? 0xFFFFFFFFu : 31u - static_cast<unsigned int>(std::countl_zero(value));
}

unsigned int CBitwise::FirstPO2From(unsigned int value) {
  // The or-cascade sets every bit below the highest set bit of value - 1;
  // 0 - 1 wraps to all ones and so, like values above 2^31, gives 0.
  unsigned int v = value - 1;
  v |= v >> 16;
  v |= v >> 8;
  v |= v >> 4;
  v |= v >> 2;
  v |= v >> 1;
  return v + 1;
}

unsigned int CBitwise::FixedToFixed(unsigned int value, unsigned int fromBits, unsigned int toBits) {
  if (fromBits > 32) fromBits = 32;
  if (toBits > 32) toBits = 32;
  if (fromBits > toBits) {
    const unsigned int shift = fromBits - toBits;
    return shift >= 32 ? 0 : value >> shift;
  }
  if (fromBits == toBits) return value;
  if (value == 0) return 0;
  const unsigned int fromMax = LargestFixed(fromBits);
  if (value == fromMax || fromMax == 0) return LargestFixed(toBits);
  // Exact in 64 bits: a 32-bit product would wrap once value * 2^toBits
  // passes 2^32 (8 to 25 bits already does for most values).
  const unsigned long long scaled = (static_cast<unsigned long long>(value) << toBits) / fromMax;
  return static_cast<unsigned int>(scaled);
}

unsigned int CBitwise::FloatToFixed(float f, unsigned int bits) {
  if (bits > 32) bits = 32;
  if (!(f > 0.0f)) return 0;  // also NaN
  if (f >= 1.0f) return LargestFixed(bits);
  // f < 1 so the product stays below 2^bits; scaling by a power of two is
  // exact, so double gives the same result as single precision would.
  return static_cast<unsigned int>(std::ldexp(static_cast<double>(f), static_cast<int>(bits)));
}

float CBitwise::FixedToFloat(unsigned int value, unsigned int bits) {
  if (bits > 32) bits = 32;
  return static_cast<float>(value) / static_cast<float>(LargestFixed(bits));
}

void CBitwise::IntWrite(void* dst, int bytes, unsigned int value) {
  if (bytes < 1 || bytes > 4) return;
  auto* out = static_cast<unsigned char*>(dst);
  for (int i = 0; i < bytes; ++i) out[i] = static_cast<unsigned char>(value >> (8 * i));
}

unsigned int CBitwise::IntRead(const void* src, int bytes) {
  if (bytes < 1 || bytes > 4) return 0;
  const auto* in = static_cast<const unsigned char*>(src);
  unsigned int value = 0;
  for (int i = 0; i < bytes; ++i) value |= static_cast<unsigned int>(in[i]) << (8 * i);
  return value;
}

unsigned short CBitwise::FloatToHalf(float value) { return FloatToHalfI(std::bit_cast<unsigned int>(value)); }

unsigned short CBitwise::FloatToHalfI(unsigned int floatBits) {
  const unsigned int sign = (floatBits >> 16) & 0x8000u;
  const unsigned int mantissa = floatBits & 0x007FFFFFu;
  // Rebias the exponent from single (127) to half (15).
  const int exponent = static_cast<int>((floatBits >> 23) & 0xFFu) - 112;

  if (exponent <= 0) {
    // Below 2^-24 even a subnormal half cannot hold it: +0.
    if (exponent < -10) return 0;
    // Subnormal half: make the hidden bit explicit and shift it into place.
    const unsigned int shifted = (mantissa | 0x00800000u) >> (1 - exponent);
    return static_cast<unsigned short>(sign | (shifted >> 13));
  }
  if (exponent == 0xFF - 112) {
    if (mantissa == 0) return static_cast<unsigned short>(sign | 0x7C00u);
    // NaN: keep the top payload bits, and at least one so it stays a NaN.
    unsigned int payload = mantissa >> 13;
    if (payload == 0) payload = 1;
    return static_cast<unsigned short>(sign | 0x7C00u | payload);
  }
  if (exponent > 30) return static_cast<unsigned short>(sign | 0x7C00u);
  return static_cast<unsigned short>(sign | (static_cast<unsigned int>(exponent) << 10) | (mantissa >> 13));
}

float CBitwise::HalfToFloat(unsigned short half) { return std::bit_cast<float>(HalfToFloatI(half)); }

unsigned int CBitwise::HalfToFloatI(unsigned short half) {
  const unsigned int sign = static_cast<unsigned int>(half >> 15) << 31;
  const unsigned int exponent = (half >> 10) & 0x1Fu;
  unsigned int mantissa = half & 0x03FFu;

  if (exponent == 31) return sign | 0x7F800000u | (mantissa << 13);  // infinity or NaN
  if (exponent == 0) {
    if (mantissa == 0) return sign;  // signed zero
    // Subnormal half: normalise, one exponent step per shift.
    unsigned int shifts = 0;
    while ((mantissa & 0x0400u) == 0) {
      mantissa <<= 1;
      ++shifts;
    }
    mantissa &= 0x03FFu;
    return sign | ((113u - shifts) << 23) | (mantissa << 13);
  }
  return sign | ((exponent + 112u) << 23) | (mantissa << 13);
}

}  // namespace hux
