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

// The scalar T stored from the first byte of the value word.
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

// A floating value as the numeric intermediate R: truncated for the integer
// one, unchanged for double.
template <class R>
R FromFloating(double value) {
  if constexpr (std::is_same_v<R, double>)
    return value;
  else
    return TruncateToInt64(value);
}

// Text as the numeric intermediate R, read as _atoi64 or atof would (without
// the locale); a held string whose pointer is null reads as empty text.
template <class R, class Text>
R FromText(const Text* text) {
  if (!text) return R();
  if constexpr (std::is_same_v<R, double>)
    return detail::ParseDouble(text->data(), text->size());
  else
    return detail::ParseInt64(text->data(), text->size());
}

// The value of a scalar or text variant as a signed 64-bit integer or a
// double; ok false (and 0) for every other content.
template <class R>
R NumberOf(const VariantStru& s, bool& ok) {
  ok = false;
  R result = 0;
  bool holds = true;
  switch (s.type) {
    case DT_INT: result = static_cast<R>(Word<int>(s.value)); break;
    case DT_DOUBLE: result = FromFloating<R>(Word<double>(s.value)); break;
    case DT_INT64: result = static_cast<R>(Word<long long>(s.value)); break;
    // As an integer the 64 bits as they are (above 2^63-1 negative); as a
    // double the unsigned value.
    case DT_UINT64: result = static_cast<R>(Word<unsigned long long>(s.value)); break;
    case DT_BOOL:
    case DT_UCHAR: result = static_cast<R>(Word<unsigned char>(s.value)); break;
    case DT_CHAR: result = static_cast<R>(Word<signed char>(s.value)); break;
    case DT_SHORT: result = static_cast<R>(Word<short>(s.value)); break;
    case DT_USHORT: result = static_cast<R>(Word<unsigned short>(s.value)); break;
    case DT_UINT: result = static_cast<R>(Word<unsigned int>(s.value)); break;
    case DT_FLOAT: result = FromFloating<R>(Word<float>(s.value)); break;
    case DT_STRING: result = FromText<R>(HeldText<std::string>(s, DT_STRING, holds)); break;
    case DT_WSTRING: result = FromText<R>(HeldText<std::wstring>(s, DT_WSTRING, holds)); break;
    default: return 0;  // empty, object ids, geometry, objects
  }
  if (!holds) return 0;  // a string code on a pointer the variant does not own
  ok = true;
  return result;
}

}  // namespace

__int64 CVariant::GetNumberInt64(CVariant const& v, bool& ok) { return NumberOf<long long>(v.m_stru, ok); }

double CVariant::GetNumberDouble(CVariant const& v, bool& ok) { return NumberOf<double>(v.m_stru, ok); }

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
T CVariant::ConvertScalar(eXOMDataType target, T failure, bool* ok) const {
  if (ok) *ok = false;
  // The two widest kinds take the number as it is read from the source, with
  // no narrowing: no scratch variant is needed for them.
  if constexpr (std::is_same_v<T, double> || std::is_same_v<T, long long>) {
    if (target == (std::is_same_v<T, double> ? DT_DOUBLE : DT_INT64)) {
      bool good = false;
      const T value = NumberOf<T>(m_stru, good);
      if (!good) return failure;
      if (ok) *ok = true;
      return value;
    }
  }
  CVariant scratch;  // a scalar scratch variant never allocates
  const CVariant* source = GetConvertVariant(*this, target, scratch);
  if (!source) return failure;
  if (ok) *ok = true;
  return Word<T>(source->m_stru.value);
}

template bool CVariant::ConvertScalar<bool>(eXOMDataType, bool, bool*) const;
template char CVariant::ConvertScalar<char>(eXOMDataType, char, bool*) const;
template unsigned char CVariant::ConvertScalar<unsigned char>(eXOMDataType, unsigned char, bool*) const;
template short CVariant::ConvertScalar<short>(eXOMDataType, short, bool*) const;
template unsigned short CVariant::ConvertScalar<unsigned short>(eXOMDataType, unsigned short, bool*) const;
template int CVariant::ConvertScalar<int>(eXOMDataType, int, bool*) const;
template unsigned int CVariant::ConvertScalar<unsigned int>(eXOMDataType, unsigned int, bool*) const;
template float CVariant::ConvertScalar<float>(eXOMDataType, float, bool*) const;
template long long CVariant::ConvertScalar<long long>(eXOMDataType, long long, bool*) const;
template unsigned long long CVariant::ConvertScalar<unsigned long long>(eXOMDataType, unsigned long long, bool*) const;
template double CVariant::ConvertScalar<double>(eXOMDataType, double, bool*) const;

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
