// CColor: an RGBA colour of four 8-bit channels.
//
// A plain value (copy it freely). The packed integer forms are 0xRRGGBBAA
// (ToInteger) and 0xAARRGGBB (ToIntegerARGB) on a little-endian machine; they
// consult CEndianInfoMananger, and on a big-endian one would treat the integer
// as the colour's memory image instead. The float forms hold red, green, blue
// and alpha in that order, 1.0 meaning 255.
#pragma once

#include <hux/export.h>

namespace hux {

class HUX_API CColor {
 public:
  // Opaque black: red, green and blue 0, alpha 255.
  CColor() : m_r(0), m_g(0), m_b(0), m_a(255) {}
  CColor(unsigned char r, unsigned char g, unsigned char b, unsigned char a) : m_r(r), m_g(g), m_b(b), m_a(a) {}

  void Set(unsigned char r, unsigned char g, unsigned char b, unsigned char a) {
    m_r = r, m_g = g, m_b = b, m_a = a;
  }

  bool operator==(const CColor& other) const {
    return m_r == other.m_r && m_g == other.m_g && m_b == other.m_b && m_a == other.m_a;
  }
  bool operator!=(const CColor& other) const { return !(*this == other); }

  // Sets the channels from 0xRRGGBBAA and returns this colour.
  CColor& FromInteger(unsigned int rgba);
  unsigned int ToInteger() const;
  // Sets the channels from 0xAARRGGBB and returns this colour.
  CColor& FromIntegerARGB(unsigned int argb);
  unsigned int ToIntegerARGB() const;

  // Writes four floats (red, green, blue, alpha), each channel / 255.
  void MakeFloatArray(float* out) const;
  // Reads four floats: each channel becomes value * 255 truncated toward zero,
  // of which the low 8 bits are kept (no rounding, no clamping: 0.999 gives
  // 254, 1.5 gives 382 & 0xFF = 126). A value whose product is not a finite
  // number within the range of a 64-bit integer gives 0.
  void SetByFloatArray(const float* in);
  static CColor MakeFromFloatArray(const float* in);

  unsigned char GetRed() const { return m_r; }
  unsigned char GetGreen() const { return m_g; }
  unsigned char GetBlue() const { return m_b; }
  unsigned char GetAlpha() const { return m_a; }

 private:
  unsigned char m_r;
  unsigned char m_g;
  unsigned char m_b;
  unsigned char m_a;
};

}  // namespace hux
