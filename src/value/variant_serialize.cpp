// CVariant persistence: the code as int, then a scalar by its width, or for
// codes from 1000 up a custom object through the factory.
#include <hux/value/variant.h>

#include <cstring>
#include <string>

#include <hux/io/archive.h>
#include <hux/object/base.h>
#include <hux/object/factory.h>
#include <hux/object/referenced.h>

#include "value/kept_content.h"

namespace hux {

namespace {

// Custom objects may hold variants that hold custom objects: a client's
// Serialize recursing through the variant. Damaged or hostile input could
// nest that without end and overflow the stack, and a cycle of shared
// objects would do the same when storing. Beyond this depth the variant does
// not call into the object: storing writes it as not present, loading skips
// its data by the archive's object framing.
constexpr int kMaxObjectDepth = 256;
// Initial-exec: a fixed offset from the thread pointer, not a call into the
// dynamic loader for each custom value written or read.
__attribute__((tls_model("initial-exec"))) thread_local int t_objectDepth = 0;

class DepthGuard {
 public:
  DepthGuard() { ++t_objectDepth; }
  ~DepthGuard() { --t_objectDepth; }
  DepthGuard(const DepthGuard&) = delete;
  DepthGuard& operator=(const DepthGuard&) = delete;
  static bool Exhausted() { return t_objectDepth >= kMaxObjectDepth; }
};

template <class T>
void WriteWord(GDbArchive& archive, unsigned __int64 word) {
  T value;
  std::memcpy(&value, &word, sizeof value);
  archive << value;
}

// Reads a T into the start of the word; a short read leaves it 0.
template <class T>
void ReadWord(GDbArchive& archive, unsigned __int64& word) {
  T value{};
  archive >> value;
  word = 0;
  std::memcpy(&word, &value, sizeof value);
}

bool IsCustomCode(eXOMDataType code) { return static_cast<int>(code) >= static_cast<int>(DT_REF_OBJECT); }

}  // namespace

bool CVariant::Serialize(GDbArchive& archive) {
  if (!archive.IsLoading()) {
    archive << static_cast<int>(m_stru.type);
    if (SerializeCutomObject(archive)) return true;
    const unsigned __int64 word = m_stru.value;
    switch (m_stru.type) {
      case DT_INT: WriteWord<int>(archive, word); break;
      case DT_DOUBLE: WriteWord<double>(archive, word); break;
      case DT_INT64: WriteWord<long long>(archive, word); break;
      case DT_BOOL: archive << ((word & 0xFF) != 0); break;
      case DT_CHAR: WriteWord<char>(archive, word); break;
      case DT_UCHAR: WriteWord<unsigned char>(archive, word); break;
      case DT_SHORT: WriteWord<short>(archive, word); break;
      case DT_USHORT: WriteWord<unsigned short>(archive, word); break;
      case DT_UINT: WriteWord<unsigned int>(archive, word); break;
      case DT_FLOAT: WriteWord<float>(archive, word); break;
      case DT_UINT64:
      case DT_OBJECT_ID: WriteWord<unsigned long long>(archive, word); break;
      default: break;  // empty, value objects and other codes: the code alone
    }
    return true;
  }

  Destruct(true);
  int code = DT_NONE;  // an exhausted device reads as an empty variant
  archive >> code;
  m_stru.type = static_cast<eXOMDataType>(code);
  if (!SerializeCutomObject(archive)) {
    switch (m_stru.type) {
      case DT_INT: ReadWord<int>(archive, m_stru.value); break;
      case DT_DOUBLE: ReadWord<double>(archive, m_stru.value); break;
      case DT_INT64: ReadWord<long long>(archive, m_stru.value); break;
      case DT_BOOL: ReadWord<bool>(archive, m_stru.value); break;
      case DT_CHAR: ReadWord<char>(archive, m_stru.value); break;
      case DT_UCHAR: ReadWord<unsigned char>(archive, m_stru.value); break;
      case DT_SHORT: ReadWord<short>(archive, m_stru.value); break;
      case DT_USHORT: ReadWord<unsigned short>(archive, m_stru.value); break;
      case DT_UINT: ReadWord<unsigned int>(archive, m_stru.value); break;
      case DT_FLOAT: ReadWord<float>(archive, m_stru.value); break;
      case DT_UINT64:
      case DT_OBJECT_ID: ReadWord<unsigned long long>(archive, m_stru.value); break;
      default: break;
    }
  }
  m_stru.isBlank = 0;
  return true;
}

bool CVariant::SerializeCutomObject(GDbArchive& archive) {
  if (!IsCustomCode(m_stru.type)) return false;
  GBaseObjectFactory& factory = GetBaseObjectFactory();

  if (!archive.IsLoading()) {
    if (m_stru.isKept) {
      // The flags and the object exactly as they were read.
      const auto* kept = static_cast<const detail::KeptContent*>(reinterpret_cast<CReferenced*>(m_stru.value));
      archive.WriteRawData(const_cast<char*>(kept->Flags()), 3);
      archive.WriteRawData(const_cast<char*>(kept->Object().data()), static_cast<int>(kept->Object().size()));
      return true;
    }
    const sClassFunctionPtr* record = factory.GetFunctionPtr(m_stru.type);
    const bool hasSave = record && record->saveObject;
    IBase* base = nullptr;
    if (!hasSave && m_stru.isRefPtr && m_stru.value)
      base = dynamic_cast<IBase*>(reinterpret_cast<CReferenced*>(m_stru.value));
    // An object pointer that is null (its code had no create function) has
    // nothing to save: it is written as not present rather than handed to
    // a save function that would read through it.
    bool present = (hasSave || base) && m_stru.value != 0;
    if (present && DepthGuard::Exhausted()) present = false;
    archive << present << (m_stru.isRefPtr != 0);
    if (!present) return true;
    archive << hasSave;
    DepthGuard depth;
    if (hasSave) {
      record->saveObject(archive, reinterpret_cast<const void*>(m_stru.value));
    } else if (!base->Serialize(archive)) {
      archive.WriteEmptyObject();  // a reader then finds an empty object
    }
    return true;
  }

  // Loading: the code is in m_stru.type, the rest of the storage is empty.
  bool present = false;
  bool shared = false;
  archive >> present >> shared;
  CReferenced* object = nullptr;
  if (shared) {
    object = factory.CreateRefObject(m_stru.type);
    if (!object) {
      if (IBase* base = factory.CreateBaseObject(m_stru.type)) {
        object = dynamic_cast<CReferenced*>(base);
        if (!object) delete base;  // not shareable: the design would leak it
      }
    }
    // The variant takes the one reference; the code is derived again from
    // the object's class.
    if (object) SetValueRefPtr(object);
  }
  if (!object) {
    // An owned default object of the code, or a null object when the code
    // has no factory record (the code is kept either way). Made as a copy of
    // nothing, so that a string released a moment ago serves again.
    SetValue2(nullptr, m_stru.type, true);
  }
  if (!present) return true;

  bool hasSave = false;
  archive >> hasSave;
  if (DepthGuard::Exhausted()) {
    archive.SkipObject();
    return true;
  }
  DepthGuard depth;
  if (!hasSave) {
    IBase* base = m_stru.isRefPtr && m_stru.value
                      ? dynamic_cast<IBase*>(reinterpret_cast<CReferenced*>(m_stru.value))
                      : nullptr;
    if (base)
      base->Serialize(archive);
    else
      KeepCustomObject(archive, shared, false);
    return true;
  }
  const sClassFunctionPtr* record = factory.GetFunctionPtr(m_stru.type);
  // Without a load function, or without an object to load into (the code
  // has a load function but no create function), the data is skipped.
  if (record && record->loadObject && m_stru.value)
    record->loadObject(archive, reinterpret_cast<void*>(m_stru.value));
  else
    KeepCustomObject(archive, shared, true);
  return true;
}

void CVariant::KeepCustomObject(GDbArchive& archive, bool shared, bool hasSave) {
  // An object the factory made for the code keeps the code's place (as a
  // default object), as it always has; only an empty place takes the bytes.
  if (m_stru.value) {
    archive.SkipObject();
    return;
  }
  std::string object;
  if (!archive.KeepObject(object)) return;  // cut short: skipped, as before
  auto* kept = new detail::KeptContent(shared, hasSave, std::move(object));
  kept->Ref();
  const eXOMDataType code = m_stru.type;
  Destruct(true);
  m_stru.type = code;
  m_stru.value = reinterpret_cast<unsigned __int64>(static_cast<CReferenced*>(kept));
  m_stru.isBlank = 0;
  m_stru.isRefPtr = 1;
  m_stru.isObject = 1;
  m_stru.isKept = 1;
}

}  // namespace hux
