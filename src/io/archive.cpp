#include <hux/io/archive.h>

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <typeinfo>
#include <vector>

#include <hux/io/iodevice.h>
#include <hux/io/memstream.h>

#include "util/unicode.h"

namespace hux {

namespace {

// Counted data is read in chunks of this size, so that a damaged count costs
// at most one chunk beyond what the device really holds.
constexpr unsigned int kReadChunk = 64 * 1024;

// Reads up to `bytes` bytes into `buf` (resized to what was delivered).
// `mem` is the device when it is exactly a GMemStream: such a stream refuses
// a read that reaches past its end, so when the first chunk already does,
// nothing will be delivered and no chunk is allocated (a hostile count over
// a short memory input then costs nothing).
template <class Buffer>
void ReadCounted(GIODevice& device, const GMemStream* mem, Buffer& buf, unsigned long long bytes) {
  using Unit = typename Buffer::value_type;
  buf.clear();
  if (mem) {
    const __int64 pos = mem->PosDirect();
    const unsigned long long first = std::min<unsigned long long>(kReadChunk, bytes);
    if (pos < 0 || static_cast<__int64>(first) > static_cast<__int64>(mem->GetCapacity()) - pos) return;
  }
  size_t got = 0;  // bytes delivered
  while (got < bytes) {
    const unsigned int want = static_cast<unsigned int>(std::min<unsigned long long>(kReadChunk, bytes - got));
    buf.resize((got + want + sizeof(Unit) - 1) / sizeof(Unit));
    const unsigned int r = std::min(device.Read(reinterpret_cast<char*>(buf.data()) + got, want), want);
    got += r;
    if (r == 0) break;  // the device has nothing more to give
  }
  buf.resize(got / sizeof(Unit));
}

int CountOf(size_t length, const char* what) {
  if (length > static_cast<size_t>(INT_MAX))
    throw ArchiveError(std::string("GDbArchive: ") + what + " of 2^31 or more units cannot be stored");
  return static_cast<int>(length);
}

}  // namespace

// ---- GDbArchive ------------------------------------------------------------

GDbArchive::GDbArchive() : m_nCurrentVersion(0), m_bWriteFailed(false) {}
GDbArchive::~GDbArchive() = default;

bool GDbArchive::IsAllWriteDataOK() {
  // A file stream holds back what it accepted until its buffer fills; moving
  // to where it stands hands that to the system and meets its failure now.
  if (!m_bWriteFailed && !IsLoading()) SeekPos(0, SEEKFROM_CURRENT);
  return !m_bWriteFailed;
}

std::map<unsigned short, unsigned short>* GDbArchive::GetMapPropertyID(eXOMDataType type, bool create) {
  if (create) return &m_mapPropertyID[type];
  auto it = m_mapPropertyID.find(type);
  return it == m_mapPropertyID.end() ? nullptr : &it->second;
}

// ---- GDbArchiveImpl: set-up ------------------------------------------------

GDbArchiveImpl::GDbArchiveImpl(GIODevice* device)
    : m_pDevice(device), m_pMem(nullptr), m_nPlain(-1), m_pPlainMem(nullptr), m_nActive(kNone), m_nKeyCounter(0) {
  if (m_pDevice) {
    if (typeid(*m_pDevice) == typeid(GMemStream)) m_pMem = static_cast<GMemStream*>(m_pDevice);
    m_pDevice->seek(0);
  }
}

GDbArchiveImpl::GDbArchiveImpl(const GDbArchiveImpl& other)
    : GDbArchive(other),
      m_pDevice(other.m_pDevice),
      m_pMem(other.m_pMem),
      m_nPlain(-1),
      m_pPlainMem(nullptr),
      m_vecOpen(other.m_vecOpen),
      m_nActive(kNone),
      m_nKeyCounter(other.m_nKeyCounter),
      m_vecVersion(other.m_vecVersion) {}

GDbArchiveImpl& GDbArchiveImpl::operator=(const GDbArchiveImpl& other) {
  if (this == &other) return *this;
  GDbArchive::operator=(other);
  m_pDevice = other.m_pDevice;
  m_pMem = other.m_pMem;
  m_pPlainMem = m_nPlain == 1 ? m_pMem : nullptr;
  m_vecOpen = other.m_vecOpen;
  m_nActive = kNone;
  m_nKeyCounter = other.m_nKeyCounter;
  m_vecVersion = other.m_vecVersion;
  return *this;
}

GDbArchiveImpl::~GDbArchiveImpl() = default;

GIODevice& GDbArchiveImpl::Device() {
  if (!m_pDevice) throw ArchiveError("GDbArchive: the archive has no device");
  return *m_pDevice;
}

inline void GDbArchiveImpl::Put(const void* data, unsigned int size) {
  if (!(m_pMem ? m_pMem->WriteDirect(data, size) : Device().Write(const_cast<void*>(data), size))) SetWriteFailed();
}

inline void GDbArchiveImpl::Get(void* data, unsigned int size) {
  if (m_pMem)
    m_pMem->ReadDirect(data, size);
  else
    Device().Read(data, size);
}

void GDbArchiveImpl::SeekDevice(__int64 pos) {
  if (m_pMem)
    m_pMem->GMemStream::seek(pos);  // never fails
  else if (!Device().seek(pos) && m_pDevice->IsStoring())
    SetWriteFailed();
}

void GDbArchiveImpl::GetCurPos(__int64& pos) { pos = m_pMem ? m_pMem->PosDirect() : Device().pos(); }

// Framing fields go through the virtual typed operators, so that a derived
// archive that overrides one changes the framing with it. When this archive
// is exactly a GDbArchiveImpl nothing is overridden and the field can be moved
// directly, which is the same bytes without a dispatch per field.
inline bool GDbArchiveImpl::Plain() {
  if (m_nPlain < 0) {
    m_nPlain = typeid(*this) == typeid(GDbArchiveImpl) ? 1 : 0;
    m_pPlainMem = m_nPlain == 1 ? m_pMem : nullptr;
  }
  return m_nPlain == 1;
}

template <class T>
inline void GDbArchiveImpl::PutField(T value) {
  if (Plain())
    Put(&value, sizeof value);
  else
    *this << value;
}

template <class T>
inline void GDbArchiveImpl::GetField(T& value) {
  if (Plain())
    Get(&value, sizeof value);
  else
    *this >> value;
}

bool GDbArchiveImpl::IsLoading() { return Device().IsLoading(); }
bool GDbArchiveImpl::IsStoring() { return Device().IsStoring(); }
__int64 GDbArchiveImpl::DevicePos() { return Device().pos(); }
GIODevice* GDbArchiveImpl::GetDevice() { return m_pDevice; }
void GDbArchiveImpl::ErrorMsgBox(std::string, std::string) {}
__int64 GDbArchiveImpl::CreateNewObjectID() { return ++m_nKeyCounter; }
unsigned short GDbArchiveImpl::GetVersion() { return m_vecVersion.empty() ? 0 : m_vecVersion.back().version; }

inline void GDbArchiveImpl::PushVersion(unsigned short version, __int64 start) {
  m_vecVersion.push_back(VersionMark{start, version});
}

inline void GDbArchiveImpl::PopVersion() {
  if (!m_vecVersion.empty()) m_vecVersion.pop_back();
}

void GDbArchiveImpl::PopVersionsFrom(__int64 position) {
  while (!m_vecVersion.empty() && m_vecVersion.back().start >= position) PopVersion();
}

// ---- typed values ----------------------------------------------------------

// A value goes straight into a memory buffer that has room for it; anything
// else takes the general path, out of line so that this one needs no frame.
template <class T>
inline GDbArchive& GDbArchiveImpl::PutValue(T value) {
  if (char* p = m_pMem ? m_pMem->TakeDirect(sizeof(T)) : nullptr) [[likely]] {
    std::memcpy(p, &value, sizeof(T));
    return *this;
  }
  return PutValueAnyDevice(value);
}

template <class T>
[[gnu::noinline]] GDbArchive& GDbArchiveImpl::PutValueAnyDevice(T value) {
  Put(&value, sizeof(T));
  return *this;
}

#define HUX_ARCHIVE_SCALAR(T)                                   \
  GDbArchive& GDbArchiveImpl::operator<<(T value) {             \
    return PutValue(value);                                     \
  }                                                             \
  GDbArchive& GDbArchiveImpl::operator>>(T & value) {           \
    Get(&value, sizeof(T));                                     \
    return *this;                                               \
  }

HUX_ARCHIVE_SCALAR(double)
HUX_ARCHIVE_SCALAR(unsigned __int64)
HUX_ARCHIVE_SCALAR(__int64)
HUX_ARCHIVE_SCALAR(float)
HUX_ARCHIVE_SCALAR(unsigned int)
HUX_ARCHIVE_SCALAR(int)
HUX_ARCHIVE_SCALAR(unsigned short)
HUX_ARCHIVE_SCALAR(short)
HUX_ARCHIVE_SCALAR(unsigned char)
HUX_ARCHIVE_SCALAR(char)
HUX_ARCHIVE_SCALAR(unsigned long)
HUX_ARCHIVE_SCALAR(long)
#undef HUX_ARCHIVE_SCALAR

GDbArchive& GDbArchiveImpl::operator<<(bool value) {
  return PutValue(static_cast<unsigned char>(value ? 1 : 0));
}

GDbArchive& GDbArchiveImpl::operator>>(bool& value) {
  // Read the byte apart: any nonzero byte is true, and a short read keeps the
  // former value.
  unsigned char byte = value ? 1 : 0;
  Get(&byte, 1);
  value = byte != 0;
  return *this;
}

GDbArchive& GDbArchiveImpl::operator<<(const std::string& value) {
  // Count and bytes in one step when the buffer has room for both; anything
  // else (a count too large included) out of line.
  const size_t n = value.size();
  char* p = n <= static_cast<size_t>(INT_MAX) && m_pMem ? m_pMem->TakeDirect(static_cast<unsigned int>(4 + n)) : nullptr;
  if (!p) [[unlikely]]
    return PutStringAnyDevice(value);
  const int count = static_cast<int>(n);
  std::memcpy(p, &count, sizeof count);
  std::memcpy(p + sizeof count, value.data(), n);
  return *this;
}

[[gnu::noinline]] GDbArchive& GDbArchiveImpl::PutStringAnyDevice(const std::string& value) {
  const int n = CountOf(value.size(), "a string");
  Put(&n, sizeof n);
  if (n > 0) Put(value.data(), static_cast<unsigned int>(n));
  return *this;
}

GDbArchive& GDbArchiveImpl::operator>>(std::string& value) {
  int n = 0;
  Get(&n, sizeof n);
  if (n <= 0) return *this;
  if (const char* text = m_pMem ? m_pMem->ReadInPlace(static_cast<unsigned int>(n)) : nullptr) {
    // The bytes are all in memory: the value is taken up to an embedded zero
    // straight from the buffer (one copy, nothing cleared first); all n bytes
    // are consumed.
    const void* zero = std::memchr(text, 0, static_cast<size_t>(n));
    value.assign(text, zero ? static_cast<size_t>(static_cast<const char*>(zero) - text) : static_cast<size_t>(n));
    return *this;
  }
  ReadCounted(Device(), m_pMem, value, static_cast<unsigned long long>(n));
  // An embedded zero (or the end of what was delivered) ends the value.
  const size_t zero = value.find('\0');
  if (zero != std::string::npos) value.resize(zero);
  return *this;
}

GDbArchive& GDbArchiveImpl::operator<<(const std::wstring& value) {
  std::u16string units;
  detail::AppendUtf16(units, value);
  const int n = CountOf(units.size(), "a wide string");
  Put(&n, sizeof n);
  if (n > 0) Put(units.data(), static_cast<unsigned int>(2 * units.size()));
  return *this;
}

GDbArchive& GDbArchiveImpl::operator>>(std::wstring& value) {
  int n = 0;
  Get(&n, sizeof n);
  if (n <= 0) return *this;
  std::u16string units;
  ReadCounted(Device(), m_pMem, units, 2ull * static_cast<unsigned long long>(n));
  const size_t zero = units.find(u'\0');
  value = detail::Utf16ToWide(units.data(), zero == std::u16string::npos ? units.size() : zero);
  return *this;
}

GDbArchive& GDbArchiveImpl::WriteBytes(void* data, int size) {
  Put(&size, sizeof size);
  if (size > 0) Put(data, static_cast<unsigned int>(size));
  return *this;
}

GDbArchive& GDbArchiveImpl::ReadBytes(void*& data, int& size) {
  size = 0;
  data = nullptr;
  Get(&size, sizeof size);
  if (size <= 0) {
    size = 0;  // a negative count would mislead a caller that copies `size` bytes
    return *this;
  }
  std::vector<char> bytes;
  ReadCounted(Device(), m_pMem, bytes, static_cast<unsigned long long>(size));
  size = static_cast<int>(bytes.size());
  if (size > 0) {
    data = ::operator new(bytes.size());
    std::memcpy(data, bytes.data(), bytes.size());
  }
  return *this;
}

GDbArchive& GDbArchiveImpl::ReadRawData(void* data, int size) {
  if (size > 0) Get(data, static_cast<unsigned int>(size));
  return *this;
}

GDbArchive& GDbArchiveImpl::WriteRawData(void* data, int size) {
  if (size > 0) Put(data, static_cast<unsigned int>(size));
  return *this;
}

// ---- framing: writing ------------------------------------------------------

void GDbArchiveImpl::SetActiveObject(const void* key) {
  if (m_nActive < m_vecOpen.size() && m_vecOpen[m_nActive].key == key) return;
  m_nActive = kNone;
  for (size_t i = m_vecOpen.size(); i-- > 0;) {
    if (m_vecOpen[i].key == key) {
      m_nActive = i;
      return;
    }
  }
}

void GDbArchiveImpl::WriteSize(const __int64& pos, const unsigned int* size, unsigned char* count) {
  if (!size && !count) return;
  // Patch in place: the same bytes as seeking there, writing and seeking back.
  if (m_pMem && Plain() && (size ? m_pMem->PatchDirect(pos, size, 4) : m_pMem->PatchDirect(pos, count, 1))) return;
  __int64 back = 0;
  GetCurPos(back);
  SeekDevice(pos);
  if (size)
    *this << *size;
  else
    *this << *count;
  SeekDevice(back);
}

void GDbArchiveImpl::InitArchivePosData() {
  m_nActive = kNone;
  m_nKeyCounter = 0;
}

// The record of the innermost open object when `key` names it and the
// archive writes plainly to memory: the case of nearly every block, taken
// without a search and without the general path's calls. The active index
// is left as it is; SetActiveObject checks it before every use.
inline GDbArchiveImpl::ArchivePosData* GDbArchiveImpl::MemoryRecord(const void* key) {
  if (!m_pPlainMem || m_vecOpen.empty()) return nullptr;
  ArchivePosData& last = m_vecOpen.back();
  return last.key == key ? &last : nullptr;
}

void GDbArchiveImpl::BeginWriteBlock(unsigned char id, const void* key) {
  if (ArchivePosData* data = MemoryRecord(key); data && data->blockCount != 255) [[likely]] {
    // The id and a zero size placeholder in one step.
    const __int64 at = m_pPlainMem->PosDirect();
    if (char* p = m_pPlainMem->TakeDirect(5)) [[likely]] {
      p[0] = static_cast<char>(id);
      std::memset(p + 1, 0, 4);
      data->sizePos = at + 1;
      data->dataStart = at + 5;
      ++data->blockCount;
      return;
    }
  }
  BeginWriteBlockAnyDevice(id, key);
}

void GDbArchiveImpl::BeginWriteBlockAnyDevice(unsigned char id, const void* key) {
  SetActiveObject(key);
  if (m_nActive == kNone) throw ArchiveError("GDbArchive: BeginWriteBlock for an object that is not open");
  ArchivePosData& data = m_vecOpen[m_nActive];
  // The count is one byte: a 256th block would be read back as none.
  if (data.blockCount == 255) throw ArchiveError("GDbArchive: an object holds at most 255 blocks");
  PutField(id);
  GetCurPos(data.sizePos);
  PutField(static_cast<unsigned int>(0));
  GetCurPos(data.dataStart);
  ++data.blockCount;
}

void GDbArchiveImpl::EndWriteBlock(unsigned char id, const void* key) {
  if (const ArchivePosData* data = MemoryRecord(key)) [[likely]] {
    // The size patched in place when its field lies before the position.
    // The contents start at most 4 bytes after that field (right after it,
    // or at it when the field was not written), so the size is then not
    // negative; a memory buffer holds less than 4 GiB, so it fits 32 bits.
    const auto size32 = static_cast<unsigned int>(m_pPlainMem->PosDirect() - data->dataStart);
    if (m_pPlainMem->PatchDirect(data->sizePos, &size32, 4)) [[likely]]
      return;
  }
  EndWriteBlockAnyDevice(id, key);
}

void GDbArchiveImpl::EndWriteBlockAnyDevice(unsigned char, const void* key) {
  SetActiveObject(key);
  if (m_nActive == kNone) throw ArchiveError("GDbArchive: EndWriteBlock for an object that is not open");
  const __int64 sizePos = m_vecOpen[m_nActive].sizePos;
  __int64 end = 0;
  GetCurPos(end);
  const __int64 size = end - m_vecOpen[m_nActive].dataStart;
  // The size field is 32 bits: a block of 4 GiB or more would be misread.
  if (size < 0 || size > 0xFFFFFFFFll) throw ArchiveError("GDbArchive: a block must hold less than 4 GiB");
  const unsigned int size32 = static_cast<unsigned int>(size);
  WriteSize(sizePos, &size32, nullptr);
}

// Whether a push_back onto `v` needs no reallocation.
template <class T>
static inline bool HasRoom(const std::vector<T>& v) {
  return v.data() + v.size() != v.data() + v.capacity();
}

void GDbArchiveImpl::BeginWriteObject(const void* key, unsigned short version) {
  // Memory fast path for a key not open yet (the usual case; a reopened key
  // keeps its record) while both stacks have room: the version and a zero
  // count placeholder in one step.
  if (m_pPlainMem && HasRoom(m_vecOpen) && HasRoom(m_vecVersion)) {
    bool open = false;
    for (const ArchivePosData& data : m_vecOpen) open |= data.key == key;
    const __int64 start = m_pPlainMem->PosDirect();
    char* header = open ? nullptr : m_pPlainMem->TakeDirect(3);
    if (header) [[likely]] {
      std::memcpy(header, &version, 2);
      header[2] = 0;
      // As far as the compiler knows, the header's bytes may be the vectors'
      // own: it is told again that they have room, so that the pushes below
      // keep no reallocation (and no frame for it).
      if (!HasRoom(m_vecOpen) || !HasRoom(m_vecVersion)) __builtin_unreachable();
      m_vecVersion.push_back(VersionMark{start, version});
      m_vecOpen.push_back(ArchivePosData{key, 0, 0, start + 2, 0});
      return;
    }
  }
  BeginWriteObjectAnyDevice(key, version);
}

void GDbArchiveImpl::BeginWriteObjectAnyDevice(const void* key, unsigned short version) {
  __int64 start = 0;
  GetCurPos(start);
  PutField(version);
  PushVersion(version, start);
  // A key already open (a caller reopening an object) keeps its record,
  // reset; a new key's record goes last.
  SetActiveObject(key);
  if (m_nActive == kNone) {
    m_vecOpen.push_back(ArchivePosData{key, 0, 0, 0, 0});
    m_nActive = m_vecOpen.size() - 1;
  } else {
    m_vecOpen[m_nActive] = ArchivePosData{key, 0, 0, 0, 0};
  }
  ArchivePosData& data = m_vecOpen[m_nActive];
  GetCurPos(data.countPos);
  PutField(data.blockCount);
}

void GDbArchiveImpl::EndWriteObject(const void* key) {
  if (const ArchivePosData* data = MemoryRecord(key); data && m_pPlainMem->PatchDirect(data->countPos, &data->blockCount, 1)) [[likely]] {
    // The innermost object: its count patched in place, its record the last.
    m_vecOpen.pop_back();
    m_nActive = kNone;
    PopVersion();
    return;
  }
  EndWriteObjectAnyDevice(key);
}

void GDbArchiveImpl::EndWriteObjectAnyDevice(const void* key) {
  SetActiveObject(key);
  if (m_nActive == kNone) throw ArchiveError("GDbArchive: EndWriteObject for an object that is not open");
  unsigned char count = m_vecOpen[m_nActive].blockCount;
  const __int64 countPos = m_vecOpen[m_nActive].countPos;
  WriteSize(countPos, nullptr, &count);
  m_vecOpen.erase(m_vecOpen.begin() + static_cast<std::ptrdiff_t>(m_nActive));
  m_nActive = kNone;
  PopVersion();
}

bool GDbArchiveImpl::WriteEmptyObject() {
  const void* key = reinterpret_cast<const void*>(static_cast<intptr_t>(CreateNewObjectID()));
  BeginWriteObject(key, 1);
  EndWriteObject(key);
  return true;
}

void GDbArchiveImpl::RollbackWriteObject(int position) {
  // Objects opened at or after the failed object's start are abandoned with
  // it: drop their records and versions so the enclosing object's bookkeeping
  // is what it was before the failed object began.
  std::erase_if(m_vecOpen, [position](const ArchivePosData& data) { return data.countPos > position; });
  PopVersionsFrom(position);
  m_nActive = kNone;
  SeekDevice(position);
  WriteEmptyObject();
}

// ---- framing: reading ------------------------------------------------------

void GDbArchiveImpl::ReadObject(unsigned char& count, unsigned short& version) {
  __int64 start = 0;
  GetCurPos(start);
  if (const char* buf = m_pMem && Plain() ? m_pMem->ReadInPlace(3) : nullptr) {
    std::memcpy(&version, buf, 2);
    count = static_cast<unsigned char>(buf[2]);
  } else {
    GetField(version);
    GetField(count);
  }
  PushVersion(version, start);
}

void GDbArchiveImpl::ReadBlock(unsigned char& id, unsigned int& size) {
  // Both fields at once when all five bytes are there; otherwise one by one,
  // so that a short read keeps what it keeps.
  if (const char* buf = m_pPlainMem ? m_pPlainMem->ReadInPlace(5) : nullptr) {
    id = static_cast<unsigned char>(buf[0]);
    std::memcpy(&size, buf + 1, 4);
    return;
  }
  ReadBlockAnyDevice(id, size);
}

// Out of line, so that the memory path above stays free of its calls.
[[gnu::noinline]] void GDbArchiveImpl::ReadBlockAnyDevice(unsigned char& id, unsigned int& size) {
  GetField(id);
  GetField(size);
}

void GDbArchiveImpl::EndReadObject() { PopVersion(); }

void GDbArchiveImpl::SkipObject() {
  unsigned char count = 0;
  unsigned short version = 1;
  ReadObject(count, version);
  for (unsigned int i = 0; i < count; ++i) {
    unsigned char id = 0;
    unsigned int size = 0;
    ReadBlock(id, size);
    __int64 pos = 0;
    GetCurPos(pos);
    SeekDevice(pos + size);
  }
  // Pop what ReadObject pushed, so GetVersion is the enclosing object's again.
  EndReadObject();
}

bool GDbArchiveImpl::ReadEmptyObject() {
  SkipObject();
  return true;
}

void GDbArchiveImpl::RollbackReadObject(int position) {
  // The failed object (and any object it had begun inside) never reached its
  // EndReadObject: drop their versions before skipping it.
  PopVersionsFrom(position);
  SeekDevice(position);
  SkipObject();
}

void GDbArchiveImpl::SeekPos(int offset, SEEKFROM origin) {
  // Relative targets are computed in 64 bits, so skipping works past 2 GiB.
  __int64 target = offset;
  if (origin == SEEKFROM_CURRENT) {
    GetCurPos(target);
    target += offset;
  }
  SeekDevice(target);
}

}  // namespace hux
