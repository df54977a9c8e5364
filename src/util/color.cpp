#include <hux/util/color.h>

#include <cmath>

#include <hux/util/endian.h>

namespace hux {

namespace {

bool LittleEndian() { return CEndianInfoMananger::GetInstance()->GetIsLittleEndian() != 0; }

// Byte `index` (0 = bits 0 to 7) of `value`.
unsigned char ByteOf(unsigned int value, int index) { return static_cast<unsigned char>(value >> (8 * index)); }

unsigned int Pack(unsigned char b3, unsigned char b2, unsigned char b1, unsigned char b0) {
  return (static_cast<unsigned int>(b3) << 24) | (static_cast<unsigned int>(b2) << 16) |
         (static_cast<unsigned int>(b1) << 8) | b0;
}

// value * 255 truncated toward zero, low 8 bits. Products outside the range
// of a 64-bit integer (and NaN) would make the conversion undefined: 0.
unsigned char Channel(float value) {
  const double scaled = std::trunc(static_cast<double>(value) * 255.0);
  if (!(std::fabs(scaled) < 9.2e18)) return 0;
  return static_cast<unsigned char>(static_cast<unsigned long long>(static_cast<long long>(scaled)));
}

}  // namespace

CColor& CColor::FromInteger(unsigned int rgba) {
  if (LittleEndian())
    Set(ByteOf(rgba, 3), ByteOf(rgba, 2), ByteOf(rgba, 1), ByteOf(rgba, 0));
  else
    Set(ByteOf(rgba, 0), ByteOf(rgba, 1), ByteOf(rgba, 2), ByteOf(rgba, 3));
  return *this;
}

unsigned int CColor::ToInteger() const {
  return LittleEndian() ? Pack(m_r, m_g, m_b, m_a) : Pack(m_a, m_b, m_g, m_r);
}

CColor& CColor::FromIntegerARGB(unsigned int argb) {
  if (LittleEndian())
    Set(ByteOf(argb, 2), ByteOf(argb, 1), ByteOf(argb, 0), ByteOf(argb, 3));
  else
    Set(ByteOf(argb, 1), ByteOf(argb, 2), ByteOf(argb, 3), ByteOf(argb, 0));
  return *this;
}

unsigned int CColor::ToIntegerARGB() const {
  return LittleEndian() ? Pack(m_a, m_r, m_g, m_b) : Pack(m_b, m_g, m_r, m_a);
}

void CColor::MakeFloatArray(float* out) const {
  out[0] = static_cast<float>(m_r / 255.0);
  out[1] = static_cast<float>(m_g / 255.0);
  out[2] = static_cast<float>(m_b / 255.0);
  out[3] = static_cast<float>(m_a / 255.0);
}

void CColor::SetByFloatArray(const float* in) { Set(Channel(in[0]), Channel(in[1]), Channel(in[2]), Channel(in[3])); }

CColor CColor::MakeFromFloatArray(const float* in) {
  CColor color;
  color.SetByFloatArray(in);
  return color;
}

}  // namespace hux
