#include <hux/io/archive.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

#include <hux/io/iodevice.h>

#include "util/unicode.h"

namespace hux {

namespace {

// Counted data is read in chunks of this size, so that a damaged count costs
// at most one chunk beyond what the device really holds.
constexpr unsigned int kReadChunk = 64 * 1024;

// Reads up to `bytes` bytes into `buf` (resized to what was delivered).
template <class Buffer>
void ReadCounted(GIODevice& device, Buffer& buf, unsigned long long bytes) {
  using Unit = typename Buffer::value_type;
  buf.clear();
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

GDbArchive::GDbArchive() : m_nCurrentVersion(0) {}
GDbArchive::~GDbArchive() = default;

std::map<unsigned short, unsigned short>* GDbArchive::GetMapPropertyID(eXOMDataType type, bool create) {
  if (create) return &m_mapPropertyID[type];
  auto it = m_mapPropertyID.find(type);
  return it == m_mapPropertyID.end() ? nullptr : &it->second;
}

// ---- GDbArchiveImpl: set-up ------------------------------------------------

GDbArchiveImpl::GDbArchiveImpl(GIODevice* device) : m_pDevice(device), m_pActive(nullptr), m_nKeyCounter(0) {
  if (m_pDevice) m_pDevice->seek(0);
}

GDbArchiveImpl::GDbArchiveImpl(const GDbArchiveImpl& other)
    : GDbArchive(other),
      m_pDevice(other.m_pDevice),
      m_mapObjects(other.m_mapObjects),
      m_pActive(nullptr),
      m_nKeyCounter(other.m_nKeyCounter),
      m_dequeVersion(other.m_dequeVersion),
      m_dequeStart(other.m_dequeStart) {}

GDbArchiveImpl& GDbArchiveImpl::operator=(const GDbArchiveImpl& other) {
  if (this == &other) return *this;
  GDbArchive::operator=(other);
  m_pDevice = other.m_pDevice;
  m_mapObjects = other.m_mapObjects;
  m_pActive = nullptr;
  m_nKeyCounter = other.m_nKeyCounter;
  m_dequeVersion = other.m_dequeVersion;
  m_dequeStart = other.m_dequeStart;
  return *this;
}

GDbArchiveImpl::~GDbArchiveImpl() = default;

GIODevice& GDbArchiveImpl::Device() {
  if (!m_pDevice) throw ArchiveError("GDbArchive: the archive has no device");
  return *m_pDevice;
}

void GDbArchiveImpl::Put(const void* data, unsigned int size) { Device().Write(const_cast<void*>(data), size); }
void GDbArchiveImpl::Get(void* data, unsigned int size) { Device().Read(data, size); }

bool GDbArchiveImpl::IsLoading() { return Device().IsLoading(); }
bool GDbArchiveImpl::IsStoring() { return Device().IsStoring(); }
__int64 GDbArchiveImpl::DevicePos() { return Device().pos(); }
GIODevice* GDbArchiveImpl::GetDevice() { return m_pDevice; }
void GDbArchiveImpl::ErrorMsgBox(std::string, std::string) {}
__int64 GDbArchiveImpl::CreateNewObjectID() { return ++m_nKeyCounter; }
unsigned short GDbArchiveImpl::GetVersion() { return m_dequeVersion.empty() ? 0 : m_dequeVersion.back(); }

void GDbArchiveImpl::PushVersion(unsigned short version, __int64 start) {
  m_dequeVersion.push_back(version);
  m_dequeStart.push_back(start);
}

void GDbArchiveImpl::PopVersion() {
  if (m_dequeVersion.empty()) return;
  m_dequeVersion.pop_back();
  m_dequeStart.pop_back();
}

void GDbArchiveImpl::PopVersionsFrom(__int64 position) {
  while (!m_dequeStart.empty() && m_dequeStart.back() >= position) PopVersion();
}

// ---- typed values ----------------------------------------------------------

#define HUX_ARCHIVE_SCALAR(T)                                   \
  GDbArchive& GDbArchiveImpl::operator<<(T value) {             \
    Put(&value, sizeof(T));                                     \
    return *this;                                               \
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
  const unsigned char byte = value ? 1 : 0;
  Put(&byte, 1);
  return *this;
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
  const int n = CountOf(value.size(), "a string");
  Put(&n, sizeof n);
  if (n > 0) Put(value.data(), static_cast<unsigned int>(n));
  return *this;
}

GDbArchive& GDbArchiveImpl::operator>>(std::string& value) {
  int n = 0;
  Get(&n, sizeof n);
  if (n <= 0) return *this;
  ReadCounted(Device(), value, static_cast<unsigned long long>(n));
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
  ReadCounted(Device(), units, 2ull * static_cast<unsigned long long>(n));
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
  ReadCounted(Device(), bytes, static_cast<unsigned long long>(size));
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
  auto it = m_mapObjects.find(key);
  m_pActive = it == m_mapObjects.end() ? nullptr : &it->second;
}

void GDbArchiveImpl::GetCurPos(__int64& pos) { pos = Device().pos(); }

void GDbArchiveImpl::WriteSize(const __int64& pos, const unsigned int* size, unsigned char* count) {
  __int64 back = 0;
  GetCurPos(back);
  Device().seek(pos);
  if (size)
    *this << *size;
  else if (count)
    *this << *count;
  Device().seek(back);
}

void GDbArchiveImpl::InitArchivePosData() {
  m_pActive = nullptr;
  m_nKeyCounter = 0;
}

void GDbArchiveImpl::BeginWriteObject(const void* key, unsigned short version) {
  __int64 start = 0;
  GetCurPos(start);
  *this << version;
  PushVersion(version, start);
  ArchivePosData& data = m_mapObjects[key];
  data = ArchivePosData();
  m_pActive = &data;
  GetCurPos(data.countPos);
  data.blockCount = 0;
  *this << data.blockCount;
}

void GDbArchiveImpl::BeginWriteBlock(unsigned char id, const void* key) {
  SetActiveObject(key);
  if (!m_pActive) throw ArchiveError("GDbArchive: BeginWriteBlock for an object that is not open");
  // The count is one byte: a 256th block would be read back as none.
  if (m_pActive->blockCount == 255) throw ArchiveError("GDbArchive: an object holds at most 255 blocks");
  *this << id;
  GetCurPos(m_pActive->sizePos);
  *this << static_cast<unsigned int>(0);
  GetCurPos(m_pActive->dataStart);
  ++m_pActive->blockCount;
}

void GDbArchiveImpl::EndWriteBlock(unsigned char, const void* key) {
  SetActiveObject(key);
  if (!m_pActive) throw ArchiveError("GDbArchive: EndWriteBlock for an object that is not open");
  __int64 end = 0;
  GetCurPos(end);
  const __int64 size = end - m_pActive->dataStart;
  // The size field is 32 bits: a block of 4 GiB or more would be misread.
  if (size < 0 || size > 0xFFFFFFFFll) throw ArchiveError("GDbArchive: a block must hold less than 4 GiB");
  const unsigned int size32 = static_cast<unsigned int>(size);
  WriteSize(m_pActive->sizePos, &size32, nullptr);
}

void GDbArchiveImpl::EndWriteObject(const void* key) {
  SetActiveObject(key);
  if (!m_pActive) throw ArchiveError("GDbArchive: EndWriteObject for an object that is not open");
  WriteSize(m_pActive->countPos, nullptr, &m_pActive->blockCount);
  m_mapObjects.erase(key);
  m_pActive = nullptr;
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
  std::erase_if(m_mapObjects, [position](const auto& entry) { return entry.second.countPos > position; });
  PopVersionsFrom(position);
  m_pActive = nullptr;
  Device().seek(position);
  WriteEmptyObject();
}

// ---- framing: reading ------------------------------------------------------

void GDbArchiveImpl::ReadObject(unsigned char& count, unsigned short& version) {
  __int64 start = 0;
  GetCurPos(start);
  *this >> version;
  *this >> count;
  PushVersion(version, start);
}

void GDbArchiveImpl::ReadBlock(unsigned char& id, unsigned int& size) {
  *this >> id;
  *this >> size;
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
    Device().seek(Device().pos() + size);
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
  Device().seek(position);
  SkipObject();
}

void GDbArchiveImpl::SeekPos(int offset, SEEKFROM origin) {
  // Relative targets are computed in 64 bits, so skipping works past 2 GiB.
  const __int64 target = origin == SEEKFROM_CURRENT ? Device().pos() + offset : static_cast<__int64>(offset);
  Device().seek(target);
}

}  // namespace hux
