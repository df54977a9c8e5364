// CBitwise: static bit, fixed-point and half-precision functions.
//
// Fixed-point values here are unsigned fractions of `bits` bits, where the
// largest value (2^bits - 1) stands for 1.0. Half precision is IEEE 754
// binary16, converted by bit pattern with truncation (never rounding). Every
// function is pure and may be called from any thread.
#pragma once

#include <hux/export.h>

namespace hux {

class HUX_API CBitwise {
 public:
  // Zero-based index of the highest set bit; 0xFFFFFFFF for 0.
  static unsigned int MostSignificantBitSet(unsigned int value);
  // The smallest power of two not below `value` (the value itself when it is
  // one); 0 for 0 and for values above 2^31.
  static unsigned int FirstPO2From(unsigned int value);

  // Rescales a fixed-point fraction from `fromBits` to `toBits` bits: a
  // right shift when narrowing; when widening, 0 stays 0, the largest value
  // becomes the largest value, anything else is value * 2^toBits /
  // (2^fromBits - 1): the exact product divided, the quotient truncated (it
  // stays below 2^toBits). Bit counts above 32 count as 32. Widening a
  // nonzero value from 0 bits (which can hold only 0) gives the largest value.
  static unsigned int FixedToFixed(unsigned int value, unsigned int fromBits, unsigned int toBits);
  // 0 for f <= 0 (and NaN), 2^bits - 1 for f >= 1, else f * 2^bits truncated.
  // Note the asymmetry with FixedToFloat: 0.5 gives 2^(bits-1), not half of
  // the largest value. `bits` above 32 counts as 32.
  static unsigned int FloatToFixed(float f, unsigned int bits);
  // value / (2^bits - 1) in single precision; `bits` above 32 counts as 32.
  static float FixedToFloat(unsigned int value, unsigned int bits);

  // Stores the low `bytes` bytes of `value` at `dst`, least significant
  // first; a count other than 1 to 4 writes nothing.
  static void IntWrite(void* dst, int bytes, unsigned int value);
  // Reads a little-endian unsigned integer of 1 to 4 bytes; other counts
  // give 0 and read nothing.
  static unsigned int IntRead(const void* src, int bytes);

  // Single to half precision. Magnitudes below 2^-25 (and -0) become +0;
  // those in [2^-25, 2^-24) truncate to a zero that keeps the sign, so
  // negatives there give -0 (0x8000). Too large values become infinity; a
  // NaN keeps its sign and top ten payload bits (at least one of them set).
  static unsigned short FloatToHalf(float value);
  // The same on the single-precision bit pattern.
  static unsigned short FloatToHalfI(unsigned int floatBits);
  // Half to single precision; exact for every half value.
  static float HalfToFloat(unsigned short half);
  // The same, returning the single-precision bit pattern.
  static unsigned int HalfToFloatI(unsigned short half);
};

}  // namespace hux
