#include <hux/io/iodevice.h>

#include <cstring>
#include <stdexcept>

#include <hux/io/filestream.h>
#include <hux/io/memstream.h>

#include "util/native_path.h"

namespace hux {

GIODevice::~GIODevice() = default;

// ---- GDataSizeStream ---------------------------------------------------

GDataSizeStream::~GDataSizeStream() = default;

bool GDataSizeStream::Write(void*, unsigned int size) {
  m_nPos += size;
  return true;
}

unsigned int GDataSizeStream::Read(void*, unsigned int size) {
  m_nPos += size;
  return size;
}

bool GDataSizeStream::seek(__int64 pos) {
  m_nPos = pos;
  return true;
}

// ---- GMemStream --------------------------------------------------------

namespace {
constexpr unsigned int kInitialOwnedSize = 200;
constexpr __int64 kMaxCapacity = 0xFFFFFFFFll;  // capacity is an unsigned int
}  // namespace

GMemStream::GMemStream()
    : GIODevice(false), m_nPos(0), m_pData(nullptr), m_nCapacity(0), m_bGrowable(true) {}

GMemStream::GMemStream(bool storing, char* buffer, unsigned int size)
    : GIODevice(storing), m_nPos(0), m_pData(nullptr), m_nCapacity(0), m_bGrowable(true) {
  if (buffer) {
    m_pData = buffer;
    m_nCapacity = size;
    m_bGrowable = false;
  } else {
    m_vecStorage.assign(kInitialOwnedSize, 0);
    m_pData = m_vecStorage.data();
    m_nCapacity = kInitialOwnedSize;
  }
}

GMemStream::GMemStream(const GMemStream& other)
    : GIODevice(other),
      CReferenced(other),
      m_vecStorage(other.m_bGrowable ? other.m_vecStorage : std::vector<char>()),
      m_nPos(other.m_nPos),
      m_pData(other.m_bGrowable ? m_vecStorage.data() : other.m_pData),
      m_nCapacity(other.m_nCapacity),
      m_bGrowable(other.m_bGrowable) {}

GMemStream& GMemStream::operator=(const GMemStream& other) {
  if (this == &other) return *this;
  GIODevice::operator=(other);
  if (other.m_bGrowable) {
    m_vecStorage = other.m_vecStorage;
    m_pData = m_vecStorage.data();
  } else {
    m_vecStorage.clear();
    m_vecStorage.shrink_to_fit();
    m_pData = other.m_pData;
  }
  m_nPos = other.m_nPos;
  m_nCapacity = other.m_nCapacity;
  m_bGrowable = other.m_bGrowable;
  return *this;
}

GMemStream::~GMemStream() = default;

void GMemStream::Grow(__int64 needed) {
  // Doubling, or straight to needed + 1 when doubling is not enough: a growable
  // stream always keeps one byte beyond any written position, which seek's
  // clamp to capacity - 1 relies on.
  __int64 cap = m_nCapacity;
  __int64 target = 2 * cap > needed + 1 ? 2 * cap : needed + 1;
  if (target > kMaxCapacity) {
    if (needed + 1 > kMaxCapacity)
      throw std::length_error("GMemStream: a buffer of 4 GiB or more is not supported");
    target = kMaxCapacity;
  }
  m_vecStorage.resize(static_cast<size_t>(target), 0);
  m_pData = m_vecStorage.data();
  m_nCapacity = static_cast<unsigned int>(target);
}

void GMemStream::EnsureResizeVector(__int64 needed) {
  if (needed < static_cast<__int64>(m_nCapacity)) return;
  if (m_bGrowable) Grow(needed);
}

void GMemStream::Resize(unsigned int size) {
  if (size == 0 || !m_bGrowable) return;
  m_vecStorage.resize(size, 0);
  m_pData = m_vecStorage.data();
  m_nCapacity = size;
}

bool GMemStream::Write(void* data, unsigned int size) {
  // Only a caller's buffer can stand at a negative position (its seek does
  // not clamp); nothing is written outside it.
  if (m_nPos < 0) return false;
  const __int64 end = m_nPos + size;
  if (end >= static_cast<__int64>(m_nCapacity)) {
    if (m_bGrowable)
      Grow(end);
    else if (end > static_cast<__int64>(m_nCapacity))
      return false;  // a caller's buffer never grows
  }
  if (size) std::memcpy(m_pData + m_nPos, data, size);
  m_nPos = end;
  return true;
}

unsigned int GMemStream::Read(void* data, unsigned int size) {
  if (m_nPos < 0 || m_nPos + size > static_cast<__int64>(m_nCapacity)) return 0;
  if (size) std::memcpy(data, m_pData + m_nPos, size);
  m_nPos += size;
  return size;
}

bool GMemStream::seek(__int64 pos) {
  if (!m_bGrowable) {
    m_nPos = pos;
  } else if (pos < 0 || m_nCapacity == 0) {
    m_nPos = 0;
  } else {
    m_nPos = pos < static_cast<__int64>(m_nCapacity) ? pos : static_cast<__int64>(m_nCapacity) - 1;
  }
  return true;
}

unsigned int GMemStream::GetDataSize() {
  return IsStoring() ? static_cast<unsigned int>(m_nPos) : m_nCapacity;
}

void GMemStream::SetData(char* src, int size) {
  if (size <= 0) return;
  // The source may lie inside our own storage: copy it out before resizing.
  std::vector<char> copy(src, src + size);
  m_vecStorage.swap(copy);
  m_pData = m_vecStorage.data();
  m_nCapacity = static_cast<unsigned int>(size);
  m_nPos = 0;
  m_bGrowable = true;
}

// ---- GFileIOStream -----------------------------------------------------

GFileIOStream::GFileIOStream(bool storing, std::wstring path, bool /*text*/) : GIODevice(storing) {
  // Line endings are not translated on this platform, so text and binary
  // modes are the same; files are shared with other processes by default.
  const std::ios_base::openmode mode =
      (storing ? std::ios_base::out | std::ios_base::trunc : std::ios_base::in) | std::ios_base::binary;
  // A path that does not convert is not opened: a substitute would name
  // another file.
  std::string native;
  if (detail::WideToNativePath(path, native)) m_stream.open(native, mode);
  if (m_stream.is_open())
    m_stream.clear();
  else
    m_stream.setstate(std::ios_base::failbit);
}

GFileIOStream::~GFileIOStream() = default;

__int64 GFileIOStream::pos() {
  return static_cast<__int64>(IsStoring() ? m_stream.tellp() : m_stream.tellg());
}

bool GFileIOStream::Write(void* data, unsigned int size) {
  if (!m_stream.good()) return false;
  m_stream.write(static_cast<const char*>(data), size);
  return m_stream.good();
}

unsigned int GFileIOStream::Read(void* data, unsigned int size) {
  if (!m_stream.good() || size == 0) return 0;
  m_stream.read(static_cast<char*>(data), size);
  return static_cast<unsigned int>(m_stream.gcount());
}

bool GFileIOStream::seek(__int64 pos) {
  if (!m_stream.is_open()) return false;
  // A read that hit the end sets eofbit; clear it so the stream can be repositioned.
  if (m_stream.eof()) m_stream.clear();
  if (IsStoring())
    m_stream.seekp(pos);
  else
    m_stream.seekg(pos);
  return !m_stream.fail();
}

bool GFileIOStream::ReadLine(std::string& line) {
  std::string raw;
  if (!m_stream.good() || !std::getline(m_stream, raw)) {
    line.clear();
    return false;
  }
  line.assign(raw.c_str());  // up to the first zero byte
  return !line.empty();
}

}  // namespace hux
