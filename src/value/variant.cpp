// CVariant storage: construction, assignment, release and deep copies.
#include <hux/value/variant.h>

#include <atomic>
#include <cstring>
#include <cwchar>
#include <type_traits>
#include <typeinfo>

#include <hux/object/factory.h>
#include <hux/object/referenced.h>

#include "value/value_records.h"

namespace hux {

namespace {

// The code registered for class T, looked up by its run-time name. A found
// code is remembered (registrations happen at load and do not change it), so
// that storing a string costs no lookup; an unregistered class is asked again
// next time, in case its registration has not run yet.
template <class T>
eXOMDataType CodeOf() {
  static std::atomic<int> cached{DT_NONE};
  int code = cached.load(std::memory_order_relaxed);
  if (code != DT_NONE) return static_cast<eXOMDataType>(code);
  code = CVariant::GetDataTypeFromClassName(FactoryClassName<T>().c_str());
  if (code != DT_NONE) cached.store(code, std::memory_order_relaxed);
  return static_cast<eXOMDataType>(code);
}

// The factory record of `code`, or null. Records are never removed and keep
// their addresses, so the factory itself is found once.
const sClassFunctionPtr* RecordOf(eXOMDataType code) {
  static GBaseObjectFactory& factory = GetBaseObjectFactory();
  return factory.GetFunctionPtr(code);
}

// The text object of kind T the variant owns, when its record still copies
// and destroys it with the library's own functions: assigning new text to it
// in place then does what destroying it and creating a copy would, and keeps
// its buffer. Null otherwise (another content, or functions a module put in
// their place).
template <class T>
T* ReusableText(const VariantStru& s) {
  if (s.isBlank || s.isRefPtr || !s.isObject || !s.value || s.type != CodeOf<T>()) return nullptr;
  const sClassFunctionPtr* record = RecordOf(s.type);
  if (!record || record->createVoidObject != &detail::CreateCopy<T> || record->deleteVoidObject != &detail::DeleteObject<T>)
    return nullptr;
  return reinterpret_cast<T*>(s.value);
}

// Released strings of the library's own kinds, kept per thread for the next
// string a variant of that thread makes (a copy, a loaded or converted
// value): taken with their buffers, a copy of short text then allocates
// nothing. A few short strings per kind at most, freed when the thread ends.
constexpr unsigned kKeptTexts = 4;
constexpr size_t kKeptCapacity = 64;  // characters

template <class T>
struct KeptTexts {
  T* items[kKeptTexts];
  unsigned count;
};

// Trivially destructible, so the lists stay readable after the thread's
// cleanup (a thread-local variant released later still finds them, closed).
// Initial-exec: read at a fixed offset from the thread pointer instead of a
// call into the dynamic loader per use; the few bytes fit the room the loader
// keeps for libraries opened later.
struct KeptTextsOfThread {
  KeptTexts<std::string> narrow;
  KeptTexts<std::wstring> wide;
  bool armed;   // the cleanup is registered
  bool closed;  // the cleanup has run: release directly from now on
  template <class T>
  KeptTexts<T>& Of() {
    if constexpr (std::is_same_v<T, std::string>)
      return narrow;
    else
      return wide;
  }
};
__attribute__((tls_model("initial-exec"))) thread_local KeptTextsOfThread t_keptTexts{};

struct KeptTextsCleanup {
  ~KeptTextsCleanup() {
    KeptTextsOfThread& kept = t_keptTexts;
    kept.closed = true;
    while (kept.narrow.count) delete kept.narrow.items[--kept.narrow.count];
    while (kept.wide.count) delete kept.wide.items[--kept.wide.count];
  }
};

// Keeps `object`, a T, for reuse when there is room; false when the caller
// must destroy it.
template <class T>
bool KeepText(T* object) {
  KeptTextsOfThread& thread = t_keptTexts;
  KeptTexts<T>& kept = thread.Of<T>();
  if (thread.closed || kept.count == kKeptTexts || object->capacity() > kKeptCapacity) return false;
  if (!thread.armed) {
    thread_local KeptTextsCleanup cleanup;  // constructed here, run at the thread's end
    thread.armed = true;
  }
  kept.items[kept.count++] = object;
  return true;
}

// A kept T holding a copy of *source (empty for a null source), or null.
template <class T>
T* TakeText(const void* source) {
  KeptTexts<T>& kept = t_keptTexts.Of<T>();
  if (!kept.count) return nullptr;
  T* text = kept.items[kept.count - 1];
  if (source)
    text->assign(*static_cast<const T*>(source));
  else
    text->clear();
  --kept.count;  // only once the copy is made: a failed one leaves the list as it was
  return text;
}

// Destroys an owned object through its record, or keeps it when it is a
// string the library's own functions made.
void ReleaseObject(const sClassFunctionPtr* record, void* object) {
  if (!record || !record->deleteVoidObject) return;
  const auto release = record->deleteVoidObject;
  if (release == &detail::DeleteObject<std::string> && record->createVoidObject == &detail::CreateCopy<std::string>) {
    if (KeepText(static_cast<std::string*>(object))) return;
  } else if (release == &detail::DeleteObject<std::wstring> &&
             record->createVoidObject == &detail::CreateCopy<std::wstring>) {
    if (KeepText(static_cast<std::wstring*>(object))) return;
  }
  release(object);
}

// A new object of the record's kind copied from `source` (a default one for
// a null source), or null when the record offers no copy.
void* CreateObject(const sClassFunctionPtr* record, const void* source) {
  if (!record || !record->createVoidObject) return nullptr;
  const auto create = record->createVoidObject;
  void* made = nullptr;
  if (create == &detail::CreateCopy<std::string> && record->deleteVoidObject == &detail::DeleteObject<std::string>)
    made = TakeText<std::string>(source);
  else if (create == &detail::CreateCopy<std::wstring> &&
           record->deleteVoidObject == &detail::DeleteObject<std::wstring>)
    made = TakeText<std::wstring>(source);
  return made ? made : create(source);
}

template <class Local, class Geometry>
Local ToLocal(const Geometry& value) {
  static_assert(sizeof(Local) == sizeof(Geometry));
  Local local;
  std::memcpy(&local, &value, sizeof local);
  return local;
}

}  // namespace

// ---- construction ----------------------------------------------------------

CVariant::CVariant(std::string const& text) { *this = text; }
CVariant::CVariant(std::wstring const& text) { *this = text; }
CVariant::CVariant(char const* text) { *this = text; }
CVariant::CVariant(wchar_t const* text) { *this = text; }
CVariant::CVariant(CBox3<double> const& box) { *this = box; }
CVariant::CVariant(CCoord3<double> const& coord) { *this = coord; }
CVariant::CVariant(CVec2<double> const& vec) { *this = vec; }
CVariant::CVariant(CVec3<double> const& vec) { *this = vec; }
CVariant::CVariant(FileAddress const& address) { *this = address; }

CVariant::CVariant(CVariant&& other) noexcept : m_stru(other.m_stru) { other.m_stru.Init(); }

// ---- assignment ------------------------------------------------------------


CVariant& CVariant::operator=(std::string const& text) {
  if (std::string* held = ReusableText<std::string>(m_stru))
    held->assign(text);
  else
    SetValue2(&text, CodeOf<std::string>(), true);
  return *this;
}

CVariant& CVariant::operator=(std::wstring const& text) {
  if (std::wstring* held = ReusableText<std::wstring>(m_stru))
    held->assign(text);
  else
    SetValue2(&text, CodeOf<std::wstring>(), true);
  return *this;
}

CVariant& CVariant::operator=(char const* text) { return *this = std::string(text ? text : ""); }

CVariant& CVariant::operator=(wchar_t const* text) { return *this = std::wstring(text ? text : L""); }

CVariant& CVariant::operator=(CBox3<double> const& box) {
  const LocalBox local = ToLocal<LocalBox>(box);
  SetValue2(&local, CodeOf<LocalBox>(), true);
  return *this;
}

CVariant& CVariant::operator=(CCoord3<double> const& coord) {
  const LocalCoord3d local = ToLocal<LocalCoord3d>(coord);
  SetValue2(&local, CodeOf<LocalCoord3d>(), true);
  return *this;
}

CVariant& CVariant::operator=(CVec2<double> const& vec) {
  const LocalVec2d local = ToLocal<LocalVec2d>(vec);
  SetValue2(&local, CodeOf<LocalVec2d>(), true);
  return *this;
}

CVariant& CVariant::operator=(CVec3<double> const& vec) {
  const LocalVec3d local = ToLocal<LocalVec3d>(vec);
  SetValue2(&local, CodeOf<LocalVec3d>(), true);
  return *this;
}

CVariant& CVariant::operator=(FileAddress const& address) {
  SetValue2(&address, CodeOf<FileAddress>(), true);
  return *this;
}

CVariant& CVariant::operator=(CVariant const& other) {
  if (this == &other) return *this;
  // Copy first, release after: `other` may live inside the object this
  // variant releases (a variant held by a shared object held here), and a
  // failed copy then leaves this variant as it was.
  CVariant copy(other);
  Destruct(true);
  m_stru = copy.m_stru;
  copy.m_stru.Init();
  return *this;
}

CVariant& CVariant::operator=(CVariant&& other) noexcept {
  if (this == &other) return *this;
  const VariantStru taken = other.m_stru;
  other.m_stru.Init();
  Destruct(true);
  m_stru = taken;
  return *this;
}

void CVariant::CopyFrom(CVariant const& other) {
  Construct();
  const VariantStru& src = other.m_stru;
  if (src.isBlank) return;
  if (src.isKept) {
    // Kept content is shared as it is: its code is the file's, not a class's.
    reinterpret_cast<CReferenced*>(src.value)->Ref();
    m_stru = src;
  } else if (src.isRefPtr) {
    SetValueRefPtr(reinterpret_cast<CReferenced*>(src.value));
  } else if (src.isObject) {
    // A deep copy through the factory. An owned object whose pointer is null
    // (its code had no record) copies as the same null object.
    if (src.value)
      SetValue2(reinterpret_cast<const void*>(src.value), src.type, true);
    else
      SetValue2(nullptr, src.type, false);
  } else {
    m_stru = src;  // scalars, object ids, unowned pointers
  }
}

// ---- storage ---------------------------------------------------------------

void CVariant::Destruct(bool reset) {
  if (m_stru.isBlank) return;
  if (m_stru.isRefPtr) {
    if (m_stru.value) reinterpret_cast<CReferenced*>(m_stru.value)->Unref();
  } else if (m_stru.isObject && m_stru.value) {
    ReleaseObject(RecordOf(m_stru.type), reinterpret_cast<void*>(m_stru.value));
  }
  if (reset) m_stru.Init();
}

void CVariant::SetValue2(void const* object, eXOMDataType code, bool copy) {
  // The new object is made before the old content is released, so that a
  // source that is the variant's own object (v = *held string) is still
  // alive while it is copied.
  void* stored = const_cast<void*>(object);
  if (copy) {
    stored = CreateObject(RecordOf(code), object);
  }
  Destruct(true);
  m_stru.type = code;
  m_stru.value = reinterpret_cast<unsigned __int64>(stored);
  m_stru.isBlank = 0;
  m_stru.isRefPtr = 0;
  m_stru.isObject = 1;
}

// ---- shared and unowned objects, ids ---------------------------------------

void CVariant::SetValueRefPtr(CReferenced* object) {
  if (!object) {
    Destruct(true);
    return;
  }
  eXOMDataType code = GetDataTypeFromClassName(typeid(*object).name());
  if (code == DT_NONE) code = DT_REF_OBJECT;
  // Take the new reference before dropping the old one: the object may be
  // the one this variant holds, with no other owner.
  object->Ref();
  Destruct(true);
  m_stru.type = code;
  m_stru.value = reinterpret_cast<unsigned __int64>(object);
  m_stru.isBlank = 0;
  m_stru.isRefPtr = 1;
  m_stru.isObject = 1;
}

CReferenced* CVariant::GetValueRefPtr() const {
  return m_stru.isRefPtr && !m_stru.isKept ? reinterpret_cast<CReferenced*>(m_stru.value) : nullptr;
}

void CVariant::SetDBValueRefPtr(CReferenced* object, eXOMDataType code) {
  Destruct(true);
  m_stru.type = code;
  m_stru.value = reinterpret_cast<unsigned __int64>(object);
  m_stru.isBlank = 0;
}

CReferenced* CVariant::GetDBValueRefPtr() const { return reinterpret_cast<CReferenced*>(m_stru.value); }

void CVariant::SetObjectID(unsigned long long id) { StoreScalar(id, DT_OBJECT_ID); }

unsigned long long CVariant::toObjectID(bool* ok) const {
  const bool isId = m_stru.type == DT_OBJECT_ID;
  if (ok) *ok = isId;
  return isId ? m_stru.value : 0;
}

// ---- inspection ------------------------------------------------------------

bool CVariant::IsNull() const { return m_stru.type == DT_NONE; }

const VariantStru& CVariant::GetVariantStru() const { return m_stru; }

namespace {

bool operator==(const LocalVec3d& a, const LocalVec3d& b) { return a.x == b.x && a.y == b.y && a.z == b.z; }
bool operator==(const LocalVec2d& a, const LocalVec2d& b) { return a.x == b.x && a.y == b.y; }
bool operator==(const LocalBox& a, const LocalBox& b) { return a.lower == b.lower && a.upper == b.upper; }
bool operator==(const LocalCoord3d& a, const LocalCoord3d& b) {
  return a.origin == b.origin && a.xAxis == b.xAxis && a.yAxis == b.yAxis && a.zAxis == b.zAxis;
}
bool operator==(const FileAddress& a, const FileAddress& b) { return a.address == b.address; }

template <class T>
bool SameContent(unsigned long long a, unsigned long long b) {
  if (!a || !b) return a == b;  // an owned value loaded without its content
  return *reinterpret_cast<const T*>(a) == *reinterpret_cast<const T*>(b);
}

template <class T>
T ScalarOf(unsigned long long word) {
  T value;
  std::memcpy(&value, &word, sizeof value);
  return value;
}

}  // namespace

bool CVariant::operator==(const CVariant& other) const {
  const VariantStru& a = m_stru;
  const VariantStru& b = other.m_stru;
  if (a.isKept || b.isKept) return this == &other;
  if (a.type != b.type || a.isBlank != b.isBlank || a.isRefPtr != b.isRefPtr || a.isObject != b.isObject)
    return false;
  if (a.isBlank) return true;
  if (a.isObject && !a.isRefPtr) {
    switch (a.type) {
      case DT_STRING: return SameContent<std::string>(a.value, b.value);
      case DT_WSTRING: return SameContent<std::wstring>(a.value, b.value);
      case DT_LOCAL_BOX: return SameContent<LocalBox>(a.value, b.value);
      case DT_LOCAL_VEC2D: return SameContent<LocalVec2d>(a.value, b.value);
      case DT_LOCAL_VEC3D: return SameContent<LocalVec3d>(a.value, b.value);
      case DT_LOCAL_COORD3D: return SameContent<LocalCoord3d>(a.value, b.value);
      case DT_FILE_ADDRESS: return SameContent<FileAddress>(a.value, b.value);
      default: return a.value == b.value;
    }
  }
  if (!a.isObject && !a.isRefPtr) {
    if (a.type == DT_DOUBLE) return ScalarOf<double>(a.value) == ScalarOf<double>(b.value);
    if (a.type == DT_FLOAT) return ScalarOf<float>(a.value) == ScalarOf<float>(b.value);
  }
  return a.value == b.value;
}

eXOMDataType CVariant::GetDataTypeFromClassName(char const* name) {
  if (!name) return DT_NONE;
  return GetBaseObjectFactory().GetDataTypeByClassName(std::string(name));
}

}  // namespace hux
