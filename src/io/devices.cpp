#include <hux/io/iodevice.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
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
    : GIODevice(false), m_nPos(0), m_pData(nullptr), m_nCapacity(0), m_nZeroFrom(0), m_bGrowable(true) {}

namespace {
// An owned buffer of `size` bytes, left uncleared (see m_nZeroFrom).
char* Allocate(size_t size) {
  char* data = static_cast<char*>(std::malloc(size ? size : 1));
  if (!data) throw std::bad_alloc();
  return data;
}
}  // namespace

GMemStream::GMemStream(bool storing, char* buffer, unsigned int size)
    : GIODevice(storing), m_nPos(0), m_pData(nullptr), m_nCapacity(0), m_nZeroFrom(0), m_bGrowable(true) {
  if (buffer) {
    m_pData = buffer;
    m_nCapacity = size;
    m_nZeroFrom = size;
    m_bGrowable = false;
  } else {
    m_pData = Allocate(kInitialOwnedSize);
    m_nCapacity = kInitialOwnedSize;
  }
}

GMemStream::GMemStream(const GMemStream& other)
    : GIODevice(other),
      CReferenced(other),
      m_nPos(other.m_nPos),
      m_pData(other.m_pData),
      m_nCapacity(other.m_nCapacity),
      m_nZeroFrom(other.m_nZeroFrom),
      m_bGrowable(other.m_bGrowable) {
  if (m_bGrowable && m_nCapacity) {
    // The bytes that hold their value; the copy clears the rest when needed.
    const __int64 valid = std::min<__int64>(other.ValidEnd(), m_nCapacity);
    m_pData = Allocate(m_nCapacity);
    std::memcpy(m_pData, other.m_pData, static_cast<size_t>(valid));
    m_nZeroFrom = valid;
  }
}

GMemStream& GMemStream::operator=(const GMemStream& other) {
  if (this == &other) return *this;
  GMemStream copy(other);
  GIODevice::operator=(other);
  Release();
  m_nPos = copy.m_nPos;
  m_pData = copy.m_pData;
  m_nCapacity = copy.m_nCapacity;
  m_nZeroFrom = copy.m_nZeroFrom;
  m_bGrowable = copy.m_bGrowable;
  copy.m_pData = nullptr;
  copy.m_bGrowable = false;
  return *this;
}

GMemStream::~GMemStream() { Release(); }

void GMemStream::Release() {
  if (m_bGrowable) std::free(m_pData);
  m_pData = nullptr;
}

void GMemStream::ClearTail() {
  const __int64 from = ValidEnd();
  if (from < static_cast<__int64>(m_nCapacity))
    std::memset(m_pData + from, 0, static_cast<size_t>(static_cast<__int64>(m_nCapacity) - from));
  m_nZeroFrom = m_nCapacity;
}

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
  // realloc extends in place where it can, which a buffer growing at the end
  // of the heap (or in its own mapping) mostly does: no copy then.
  char* data = static_cast<char*>(std::realloc(m_pData, static_cast<size_t>(target)));
  if (!data) throw std::bad_alloc();
  // A position beyond the old end (Resize shrank under it) has nothing
  // written between the two: those bytes are zero.
  if (m_nPos > cap) std::memset(data + cap, 0, static_cast<size_t>(std::min<__int64>(m_nPos, target) - cap));
  m_nZeroFrom = std::min<__int64>(m_nZeroFrom, cap);
  m_pData = data;
  m_nCapacity = static_cast<unsigned int>(target);
}

void GMemStream::EnsureResizeVector(__int64 needed) {
  if (needed < static_cast<__int64>(m_nCapacity)) return;
  if (m_bGrowable) Grow(needed);
}

void GMemStream::Resize(unsigned int size) {
  if (size == 0 || !m_bGrowable) return;
  const __int64 valid = std::min<__int64>(ValidEnd(), m_nCapacity);
  char* data = static_cast<char*>(std::realloc(m_pData, size));
  if (!data) throw std::bad_alloc();
  m_pData = data;
  m_nCapacity = size;
  // Kept bytes hold their value. A position left beyond them (or beyond the
  // new end) stands after bytes that must read as zero: they are cleared now.
  m_nZeroFrom = std::min<__int64>(valid, size);
  const __int64 upto = std::min<__int64>(m_nPos, size);
  if (upto > m_nZeroFrom) {
    std::memset(m_pData + m_nZeroFrom, 0, static_cast<size_t>(upto - m_nZeroFrom));
    m_nZeroFrom = upto;
  }
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
  if (m_nPos + size > m_nZeroFrom) ClearTail();
  if (size) std::memcpy(data, m_pData + m_nPos, size);
  m_nPos += size;
  return size;
}

bool GMemStream::seek(__int64 pos) {
  if (!m_bGrowable) {
    m_nPos = pos;
    return true;
  }
  // What lies below the position holds its value: a position moving back
  // keeps the mark of what was written, one moving past unwritten bytes
  // clears them.
  m_nZeroFrom = std::min<__int64>(ValidEnd(), m_nCapacity);
  if (pos < 0 || m_nCapacity == 0) {
    m_nPos = 0;
  } else {
    m_nPos = pos < static_cast<__int64>(m_nCapacity) ? pos : static_cast<__int64>(m_nCapacity) - 1;
  }
  if (m_nPos > m_nZeroFrom) {
    std::memset(m_pData + m_nZeroFrom, 0, static_cast<size_t>(m_nPos - m_nZeroFrom));
    m_nZeroFrom = m_nPos;
  }
  return true;
}

unsigned int GMemStream::GetDataSize() {
  return IsStoring() ? static_cast<unsigned int>(m_nPos) : m_nCapacity;
}

void GMemStream::SetData(char* src, int size) {
  if (size <= 0) return;
  // The source may lie inside our own storage: copy it out before releasing.
  char* data = Allocate(static_cast<size_t>(size));
  std::memcpy(data, src, static_cast<size_t>(size));
  Release();
  m_pData = data;
  m_nCapacity = static_cast<unsigned int>(size);
  m_nZeroFrom = size;
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
