// CVariant conversions: every scalar and text kind to every other, through a
// signed 64-bit integer, a double or a narrow string.
#include <hux/value/variant.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <limits>
#include <type_traits>

#include <hux/util/stringtrans.h>

#include "util/numtext.h"

namespace hux {

namespace {

// The scalar of `width` bytes at the start of the value word.
template <class T>
T Word(unsigned __int64 word) {
  if constexpr (std::is_same_v<T, bool>) {
    return (word & 0xFF) != 0;  // any byte other than 0 is true, never an invalid bool
  } else {
    T value;
    std::memcpy(&value, &word, sizeof value);
    return value;
  }
}

// Truncation toward zero of a value that may not fit: NaN and everything
// outside [-2^63, 2^63) give -2^63, the result of the processor's truncating
// conversion, which the plain C++ cast leaves undefined.
long long TruncateToInt64(double value) {
  if (!(value >= -9223372036854775808.0 && value < 9223372036854775808.0)) return LLONG_MIN;
  return static_cast<long long>(value);
}

// Rounding to float; beyond the float range the result is an infinity, as
// IEEE rounding gives (the C++ cast is undefined there).
float RoundToFloat(double value) {
  constexpr double kOverflow = 0x1.ffffffp127;  // FLT_MAX plus half an ulp
  if (std::isfinite(value) && std::fabs(value) >= kOverflow)
    return value > 0 ? std::numeric_limits<float>::infinity() : -std::numeric_limits<float>::infinity();
  return static_cast<float>(value);
}

// The held text of a string variant, or null when the variant holds no text
// of that kind. A string variant whose object pointer is null reads as the
// empty text; a pointer the variant does not own is never read as a string.
template <class Text>
const Text* HeldText(const VariantStru& s, eXOMDataType code, bool& holds) {
  holds = s.type == code && s.isObject && !s.isRefPtr;
  return holds ? reinterpret_cast<const Text*>(s.value) : nullptr;
}

}  // namespace

__int64 CVariant::GetNumberInt64(CVariant const& v, bool& ok) {
  ok = false;
  const VariantStru& s = v.m_stru;
  long long result = 0;
  switch (s.type) {
    case DT_INT: result = Word<int>(s.value); break;
    case DT_DOUBLE: result = TruncateToInt64(Word<double>(s.value)); break;
    case DT_INT64:
    case DT_UINT64: result = Word<long long>(s.value); break;  // the 64 bits as they are
    case DT_BOOL:
    case DT_UCHAR: result = Word<unsigned char>(s.value); break;
    case DT_CHAR: result = Word<signed char>(s.value); break;
    case DT_SHORT: result = Word<short>(s.value); break;
    case DT_USHORT: result = Word<unsigned short>(s.value); break;
    case DT_UINT: result = Word<unsigned int>(s.value); break;
    case DT_FLOAT: result = TruncateToInt64(Word<float>(s.value)); break;
    case DT_STRING: {
      bool holds = false;
      const std::string* text = HeldText<std::string>(s, DT_STRING, holds);
      if (!holds) return 0;
      result = text ? detail::ParseInt64(text->data(), text->size()) : 0;
      break;
    }
    case DT_WSTRING: {
      bool holds = false;
      const std::wstring* text = HeldText<std::wstring>(s, DT_WSTRING, holds);
      if (!holds) return 0;
      result = text ? detail::ParseInt64(text->data(), text->size()) : 0;
      break;
    }
    default: return 0;  // empty, object ids, geometry, objects
  }
  ok = true;
  return result;
}

double CVariant::GetNumberDouble(CVariant const& v, bool& ok) {
  ok = false;
  const VariantStru& s = v.m_stru;
  double result = 0.0;
  switch (s.type) {
    case DT_INT: result = Word<int>(s.value); break;
    case DT_DOUBLE: result = Word<double>(s.value); break;
    case DT_INT64: result = static_cast<double>(Word<long long>(s.value)); break;
    case DT_UINT64: result = static_cast<double>(Word<unsigned long long>(s.value)); break;
    case DT_BOOL:
    case DT_UCHAR: result = Word<unsigned char>(s.value); break;
    case DT_CHAR: result = Word<signed char>(s.value); break;
    case DT_SHORT: result = Word<short>(s.value); break;
    case DT_USHORT: result = Word<unsigned short>(s.value); break;
    case DT_UINT: result = Word<unsigned int>(s.value); break;
    case DT_FLOAT: result = Word<float>(s.value); break;
    case DT_STRING: {
      bool holds = false;
      const std::string* text = HeldText<std::string>(s, DT_STRING, holds);
      if (!holds) return 0.0;
      result = text ? detail::ParseDouble(text->data(), text->size()) : 0.0;
      break;
    }
    case DT_WSTRING: {
      bool holds = false;
      const std::wstring* text = HeldText<std::wstring>(s, DT_WSTRING, holds);
      if (!holds) return 0.0;
      result = text ? detail::ParseDouble(text->data(), text->size()) : 0.0;
      break;
    }
    default: return 0.0;
  }
  ok = true;
  return result;
}

bool CVariant::ConvertVariantToString(CVariant const& v, std::string& text) {
  const VariantStru& s = v.m_stru;
  bool holds = false;
  if (s.type == DT_STRING) {
    const std::string* held = HeldText<std::string>(s, DT_STRING, holds);
    if (!holds) return false;
    // The text ends at its first zero character.
    text = held ? std::string(held->c_str()) : std::string();
    return true;
  }
  if (s.type == DT_WSTRING) {
    const std::wstring* held = HeldText<std::wstring>(s, DT_WSTRING, holds);
    if (!holds) return false;
    text = held ? GStdStringTrans::WstringToString(*held) : std::string();
    return true;
  }
  bool ok = false;
  if (s.type == DT_FLOAT || s.type == DT_DOUBLE) {
    const double value = GetNumberDouble(v, ok);
    text = detail::FormatDouble8(value);
    return true;
  }
  const long long value = GetNumberInt64(v, ok);
  if (!ok) return false;
  text = detail::FormatInt64(value);
  return true;
}

bool CVariant::ConvertVariant(CVariant const& from, eXOMDataType to, CVariant& dest) {
  bool ok = false;
  // Numeric targets write only the destination's value word, in the target's
  // width from its first byte; its code and flags stay as they were.
  auto put = [&dest](auto value) {
    dest.m_stru.value = 0;
    std::memcpy(&dest.m_stru.value, &value, sizeof value);
  };
  switch (to) {
    case DT_INT:
    case DT_UINT: {
      const long long n = GetNumberInt64(from, ok);
      if (ok) put(static_cast<unsigned int>(n));
      return ok;
    }
    case DT_INT64:
    case DT_UINT64: {
      const long long n = GetNumberInt64(from, ok);
      if (ok) put(n);
      return ok;
    }
    case DT_BOOL: {
      const long long n = GetNumberInt64(from, ok);
      if (ok) put(static_cast<unsigned char>(n != 0 ? 1 : 0));
      return ok;
    }
    case DT_CHAR:
    case DT_UCHAR: {
      const long long n = GetNumberInt64(from, ok);
      if (ok) put(static_cast<unsigned char>(n));
      return ok;
    }
    case DT_SHORT:
    case DT_USHORT: {
      const long long n = GetNumberInt64(from, ok);
      if (ok) put(static_cast<unsigned short>(n));
      return ok;
    }
    case DT_DOUBLE: {
      const double d = GetNumberDouble(from, ok);
      if (ok) put(d);
      return ok;
    }
    case DT_FLOAT: {
      const double d = GetNumberDouble(from, ok);
      if (ok) put(RoundToFloat(d));
      return ok;
    }
    case DT_STRING: {
      // The destination holds a narrow string even when the conversion
      // failed (an empty one then).
      std::string text;
      ok = ConvertVariantToString(from, text);
      dest = text;
      return ok;
    }
    case DT_WSTRING: {
      std::string text;
      ok = ConvertVariantToString(from, text);
      dest = GStdStringTrans::StringToWString(text);
      return ok;
    }
    default: return false;
  }
}

CVariant const* CVariant::GetConvertVariant(CVariant const& from, eXOMDataType to, CVariant& scratch) {
  if (from.m_stru.type == to) return &from;
  return ConvertVariant(from, to, scratch) ? &scratch : nullptr;
}

template <class T>
T CVariant::ReadScalar(eXOMDataType target, T failure, bool* ok) const {
  if (ok) *ok = false;
  CVariant scratch;  // a scalar scratch variant never allocates
  const CVariant* source = GetConvertVariant(*this, target, scratch);
  if (!source) return failure;
  if (ok) *ok = true;
  return Word<T>(source->m_stru.value);
}

bool CVariant::toBool(bool* ok) const { return ReadScalar<bool>(DT_BOOL, false, ok); }
char CVariant::toChar(bool* ok) const { return ReadScalar<char>(DT_CHAR, 0, ok); }
// The failure value of toUChar is the character '0', as callers of the
// original interface expect.
unsigned char CVariant::toUChar(bool* ok) const { return ReadScalar<unsigned char>(DT_UCHAR, 48, ok); }
short CVariant::toShort(bool* ok) const { return ReadScalar<short>(DT_SHORT, 0, ok); }
unsigned short CVariant::toUShort(bool* ok) const { return ReadScalar<unsigned short>(DT_USHORT, 0, ok); }
int CVariant::toInt(bool* ok) const { return ReadScalar<int>(DT_INT, 0, ok); }
unsigned int CVariant::toUInt(bool* ok) const { return ReadScalar<unsigned int>(DT_UINT, 0, ok); }
float CVariant::toFloat(bool* ok) const { return ReadScalar<float>(DT_FLOAT, 0.0f, ok); }
__int64 CVariant::toInt64(bool* ok) const { return ReadScalar<long long>(DT_INT64, 0, ok); }
unsigned __int64 CVariant::toUInt64(bool* ok) const { return ReadScalar<unsigned long long>(DT_UINT64, 0, ok); }
double CVariant::toDouble(bool* ok) const { return ReadScalar<double>(DT_DOUBLE, 0.0, ok); }

std::string CVariant::toString(bool* ok) const {
  if (ok) *ok = false;
  bool holds = false;
  const std::string* held = HeldText<std::string>(m_stru, DT_STRING, holds);
  if (holds) {
    if (ok) *ok = true;
    return held ? *held : std::string();
  }
  std::string text;
  if (!ConvertVariantToString(*this, text)) return std::string();
  if (ok) *ok = true;
  return text;
}

std::wstring CVariant::toWString(bool* ok) const {
  if (ok) *ok = false;
  bool holds = false;
  const std::wstring* held = HeldText<std::wstring>(m_stru, DT_WSTRING, holds);
  if (holds) {
    if (ok) *ok = true;
    return held ? *held : std::wstring();
  }
  std::string text;
  if (!ConvertVariantToString(*this, text)) return std::wstring();
  if (ok) *ok = true;
  return GStdStringTrans::StringToWString(text);
}

}  // namespace hux
