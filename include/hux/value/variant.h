// CVariant: the library's tagged value.
//
// A variant holds at most one value, named by an eXOMDataType code: a scalar
// kept inline in a 64-bit word (no allocation), an object id, an owned copy
// of a string, a geometric value or any object the factory can copy, a
// shared reference-counted object (one reference held), or a pointer it does
// not own. Owned objects are copied, destroyed, written and read through the
// factory record of their code, so the variant handles any registered type;
// the strings and geometric values are registered by the library at load.
//
// Ownership: a variant owns its strings and value objects (copies are deep),
// holds one reference on a shared object (copies share it), and takes no
// ownership of a pointer given to SetDBValueRefPtr. A moved-from variant is
// empty. A variant is a plain value without locks: one thread at a time uses
// a given variant; reading the factory from several threads is safe once the
// load-time registrations are done.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <type_traits>

#include <hux/export.h>
#include <hux/object/datatype.h>
#include <hux/value/geometry.h>

namespace hux {

class CReferenced;
class GDbArchive;

// The whole storage of a variant. Copying it copies the fields and takes no
// ownership into account.
struct VariantStru {
  VariantStru() { Init(); }
  // Empty: value 0, type DT_NONE, blank, no flags.
  void Init() {
    value = 0;
    type = DT_NONE;
    isBlank = 1;
    isRefPtr = 0;
    isObject = 0;
    isKept = 0;
  }

  // A scalar's bits from the word's first byte (the rest zero), an object id,
  // or the object pointer of the object kinds.
  unsigned __int64 value;
  eXOMDataType type;
  // 1 from construction or reset until a value is stored; releasing a blank
  // variant does nothing.
  unsigned char isBlank;
  // 1 when value is a CReferenced on which the variant holds one reference.
  unsigned char isRefPtr;
  // 1 when value is an object pointer; owned (destroyed through the factory)
  // unless isRefPtr is also 1.
  unsigned char isObject;
  // 1 when value is kept content (see CVariant::IsKept); isRefPtr and
  // isObject are 1 with it. It fills what was padding: the size is unchanged.
  unsigned char isKept;

  // Clears the four flags (a stored scalar: not blank, no reference, no
  // object, nothing kept). They are written as one 32-bit
  // word: the next test of the flags then reads exactly what one store wrote,
  // instead of stalling on a load that spans two narrower stores.
  void ClearFlags() {
    static_assert(offsetof(VariantStru, isBlank) + 4 <= sizeof(VariantStru));
    const std::uint32_t none = 0;
    std::memcpy(reinterpret_cast<unsigned char*>(this) + offsetof(VariantStru, isBlank), &none, sizeof none);
  }
};

class HUX_API CVariant {
 public:
  // Empty: IsNull() is true.
  CVariant() { Construct(); }
  // Scalars, stored inline under their codes: bool 15, char 100, unsigned
  // char 101, short 102, unsigned short 103, int 1, unsigned int 104, float
  // 105, long long 14, unsigned long long 106, double 2.
  CVariant(bool value) { StoreScalar(value, DT_BOOL); }
  CVariant(char value) { StoreScalar(value, DT_CHAR); }
  CVariant(unsigned char value) { StoreScalar(value, DT_UCHAR); }
  CVariant(short value) { StoreScalar(value, DT_SHORT); }
  CVariant(unsigned short value) { StoreScalar(value, DT_USHORT); }
  CVariant(int value) { StoreScalar(value, DT_INT); }
  CVariant(unsigned int value) { StoreScalar(value, DT_UINT); }
  CVariant(float value) { StoreScalar(value, DT_FLOAT); }
  CVariant(long long value) { StoreScalar(value, DT_INT64); }
  CVariant(unsigned long long value) { StoreScalar(value, DT_UINT64); }
  CVariant(double value) { StoreScalar(value, DT_DOUBLE); }
  // long is 64-bit here (as is size_t): stored as the 64-bit codes 14 and 106,
  // which is what such values are on the Windows edition's 64-bit builds.
  CVariant(long value) : CVariant(static_cast<long long>(value)) {}
  CVariant(unsigned long value) : CVariant(static_cast<unsigned long long>(value)) {}
  // Owned copies of text: narrow strings under 1001, wide strings under 1002.
  // A C string is copied up to its terminating zero; a null pointer is taken
  // as the empty string.
  CVariant(std::string const& text);
  CVariant(std::wstring const& text);
  CVariant(char const* text);
  CVariant(wchar_t const* text);
  // Owned copies of geometric values (codes 10, 21, 11, 12) and addresses (16).
  CVariant(CBox3<double> const& box);
  CVariant(CCoord3<double> const& coord);
  CVariant(CVec2<double> const& vec);
  CVariant(CVec3<double> const& vec);
  CVariant(FileAddress const& address);
  // A deep copy of owned objects; a shared object gains one reference.
  CVariant(CVariant const& other) {
    const VariantStru& src = other.m_stru;
    if (src.isBlank || src.isRefPtr || src.isObject)
      CopyFrom(other);
    else
      m_stru = src;  // a scalar, an object id or an unowned pointer
  }
  // Takes over the content; `other` is left empty.
  CVariant(CVariant&& other) noexcept;
  // Releases the content (destroys an owned object, drops a reference); a
  // scalar has nothing to release.
  ~CVariant() {
    if (m_stru.isRefPtr || m_stru.isObject) Destruct(false);
  }

  // Each assignment releases the former content and stores the new value as
  // the matching constructor does. The scalar ones are inline: a scalar over a
  // scalar is a plain store.
  CVariant& operator=(bool value) { return StoreScalar(value, DT_BOOL); }
  CVariant& operator=(char value) { return StoreScalar(value, DT_CHAR); }
  CVariant& operator=(unsigned char value) { return StoreScalar(value, DT_UCHAR); }
  CVariant& operator=(short value) { return StoreScalar(value, DT_SHORT); }
  CVariant& operator=(unsigned short value) { return StoreScalar(value, DT_USHORT); }
  CVariant& operator=(int value) { return StoreScalar(value, DT_INT); }
  CVariant& operator=(unsigned int value) { return StoreScalar(value, DT_UINT); }
  CVariant& operator=(float value) { return StoreScalar(value, DT_FLOAT); }
  CVariant& operator=(long long value) { return StoreScalar(value, DT_INT64); }
  CVariant& operator=(unsigned long long value) { return StoreScalar(value, DT_UINT64); }
  CVariant& operator=(double value) { return StoreScalar(value, DT_DOUBLE); }
  CVariant& operator=(long value) { return *this = static_cast<long long>(value); }
  CVariant& operator=(unsigned long value) { return *this = static_cast<unsigned long long>(value); }
  CVariant& operator=(std::string const& text);
  CVariant& operator=(std::wstring const& text);
  CVariant& operator=(char const* text);
  CVariant& operator=(wchar_t const* text);
  CVariant& operator=(CBox3<double> const& box);
  CVariant& operator=(CCoord3<double> const& coord);
  CVariant& operator=(CVec2<double> const& vec);
  CVariant& operator=(CVec3<double> const& vec);
  CVariant& operator=(FileAddress const& address);
  // A deep copy (see the copy constructor). Assigning a variant to itself, or
  // a variant that lives inside the object this one releases, is safe: the
  // copy is made before the former content is released.
  CVariant& operator=(CVariant const& other);
  CVariant& operator=(CVariant&& other) noexcept;

  // Holds `object` shared: one reference is taken (Ref) and dropped on
  // release. The code is the one registered for the object's dynamic class,
  // or DT_REF_OBJECT (1000). A null object leaves the variant empty.
  void SetValueRefPtr(CReferenced* object);
  // The shared object, or null when the variant holds none.
  CReferenced* GetValueRefPtr() const;
  // Refers to `object` under `code` without owning it or taking a reference:
  // the caller keeps the object alive while the variant refers to it.
  void SetDBValueRefPtr(CReferenced* object, eXOMDataType code);
  // The value word as a pointer, whatever the content.
  CReferenced* GetDBValueRefPtr() const;
  // An object id (code 107).
  void SetObjectID(unsigned long long id);
  // The id when the variant holds one (*ok true), otherwise 0 (*ok false).
  unsigned long long toObjectID(bool* ok = nullptr) const;

  // True exactly when the code is DT_NONE (an owned object whose pointer is
  // null is not null in this sense).
  bool IsNull() const;
  // True when the variant holds kept content: a custom object that was read
  // from an archive whose code has no way to load it in this process (no
  // factory record, or nothing to load into). The object's bytes are kept as
  // they were read and Serialize writes them back unchanged; copies share
  // them (immutable, safe to share across threads). Such a variant has the
  // object's code, converts as an empty variant does (every conversion
  // fails), and gives no object to GetValueRefPtr.
  bool IsKept() const { return m_stru.isKept != 0; }
  // Equal when both hold the same code and the same value: floating-point
  // scalars by value (0.0 equals -0.0, a NaN equals nothing), other scalars,
  // object ids and unowned pointers by their bits, owned strings, geometric
  // values and addresses by content, shared and other owned objects by
  // identity. Kept content equals only the variant that holds it. Two empty
  // variants are equal.
  bool operator==(const CVariant& other) const;
  // The storage; geometric values and addresses are read back through its
  // value word, which points to the owned LocalBox, LocalVec2d, ... (or is
  // null when the variant was loaded from an archive, which does not store
  // them).
  const VariantStru& GetVariantStru() const;
  // The code the factory holds for a run-time class name (as FactoryClassName
  // spells it), or DT_NONE; null gives DT_NONE.
  static eXOMDataType GetDataTypeFromClassName(char const* name);

  // Conversions. Each clears *ok (when given) at entry and sets it on
  // success. Scalars, strings and the text kinds convert to every target
  // through a 64-bit integer, a double or a narrow string; empty variants,
  // object ids, geometric values and objects fail. On failure the result is
  // 0 (false, 0.0), 48 ('0') for toUChar, or the empty string. Text that is
  // not a number converts to 0 with success. Number text is locale-independent.
  // A value of the asked kind is read inline; conversions are out of line.
  bool toBool(bool* ok = nullptr) const { return ReadScalar<bool>(DT_BOOL, false, ok); }
  char toChar(bool* ok = nullptr) const { return ReadScalar<char>(DT_CHAR, 0, ok); }
  unsigned char toUChar(bool* ok = nullptr) const { return ReadScalar<unsigned char>(DT_UCHAR, 48, ok); }
  short toShort(bool* ok = nullptr) const { return ReadScalar<short>(DT_SHORT, 0, ok); }
  unsigned short toUShort(bool* ok = nullptr) const { return ReadScalar<unsigned short>(DT_USHORT, 0, ok); }
  int toInt(bool* ok = nullptr) const { return ReadScalar<int>(DT_INT, 0, ok); }
  unsigned int toUInt(bool* ok = nullptr) const { return ReadScalar<unsigned int>(DT_UINT, 0, ok); }
  float toFloat(bool* ok = nullptr) const { return ReadScalar<float>(DT_FLOAT, 0.0f, ok); }
  __int64 toInt64(bool* ok = nullptr) const { return ReadScalar<long long>(DT_INT64, 0, ok); }
  unsigned __int64 toUInt64(bool* ok = nullptr) const { return ReadScalar<unsigned long long>(DT_UINT64, 0, ok); }
  double toDouble(bool* ok = nullptr) const { return ReadScalar<double>(DT_DOUBLE, 0.0, ok); }
  // Narrow text is code page 936; floating values have 8 significant digits.
  std::string toString(bool* ok = nullptr) const;
  std::wstring toWString(bool* ok = nullptr) const;

  // Writes or reads the variant, following the archive's direction: the code
  // as int, then a scalar by its width, or for codes from 1000 up the custom
  // object through the factory. Loading replaces the content. Returns true.
  bool Serialize(GDbArchive& archive);

 private:
  bool _IsRefPtr() const { return m_stru.isRefPtr != 0; }
  void Construct() { m_stru.Init(); }
  // Releases the content; with `reset` the storage returns to empty.
  void Destruct(bool reset);
  // Stores an owned object under `code`: adopts `object` (copy false) or a
  // copy made by the code's createVoidObject (copy true; null when the code
  // has no record or no create function).
  void SetValue2(void const* object, eXOMDataType code, bool copy);
  // Stores a scalar's bits from the word's first byte (the rest zero).
  template <class T>
  CVariant& StoreScalar(T value, eXOMDataType code) {
    static_assert(sizeof(T) <= sizeof(m_stru.value));
    // Only a referenced or owned object needs releasing.
    if (m_stru.isRefPtr || m_stru.isObject) Destruct(true);
    m_stru.value = 0;
    std::memcpy(&m_stru.value, &value, sizeof value);
    m_stru.type = code;
    m_stru.ClearFlags();
    return *this;
  }
  void CopyFrom(CVariant const& other);

  static __int64 GetNumberInt64(CVariant const& v, bool& ok);
  static double GetNumberDouble(CVariant const& v, bool& ok);
  static bool ConvertVariant(CVariant const& from, eXOMDataType to, CVariant& dest);
  static bool ConvertVariantToString(CVariant const& v, std::string& text);
  static CVariant const* GetConvertVariant(CVariant const& from, eXOMDataType to, CVariant& scratch);
  // The scalar of kind `target`: read from the word when held as such
  // (any nonzero first byte is a true bool), otherwise converted.
  template <class T>
  T ReadScalar(eXOMDataType target, T failure, bool* ok) const {
    if (m_stru.type != target) return ConvertScalar<T>(target, failure, ok);
    if (ok) *ok = true;
    if constexpr (std::is_same_v<T, bool>) {
      return (m_stru.value & 0xFF) != 0;
    } else {
      T value;
      std::memcpy(&value, &m_stru.value, sizeof value);
      return value;
    }
  }
  // Out of line; instantiated for the eleven scalar kinds.
  template <class T>
  T ConvertScalar(eXOMDataType target, T failure, bool* ok) const;

  bool SerializeCutomObject(GDbArchive& archive);
  // Loading: the object data that follows cannot be read here; it is kept
  // whole when nothing else holds the code's place, otherwise skipped.
  void KeepCustomObject(GDbArchive& archive, bool shared, bool hasSave);

  VariantStru m_stru;
};

}  // namespace hux
