// GMemStream: a byte device in memory, reference counted.
//
// The stream either owns a growing buffer (the default) or works over a
// caller's fixed buffer, which it never grows or frees. The active buffer is
// GetData()/capacity; reads are bounded by the capacity, not by what was
// written, and growth zero-fills.
#pragma once

#include <cstring>

#include <hux/io/iodevice.h>
#include <hux/object/referenced.h>

namespace hux {

class HUX_API GMemStream : public GIODevice, public CReferenced {
 public:
  // Loading mode, empty, growable; the first write sizes the buffer.
  GMemStream();
  // With a buffer: works over the caller's `size` bytes (never grown, never
  // freed). With a null buffer: owns 200 zero bytes and grows on demand.
  GMemStream(bool storing, char* buffer, unsigned int size);
  // A copy duplicates owned bytes and shares a caller's buffer; count 0.
  GMemStream(const GMemStream& other);
  GMemStream& operator=(const GMemStream& other);
  ~GMemStream() override;

  __int64 pos() override { return m_nPos; }
  // Grows an owned buffer as needed. Over a caller's buffer, a write that would
  // pass its end or start before it writes nothing and returns false.
  // Throws std::length_error when an owned buffer would need 4 GiB or more.
  bool Write(void* data, unsigned int size) override;
  // All or nothing: returns 0 and copies nothing when the bytes are not all
  // inside the buffer; otherwise copies them and returns `size`.
  unsigned int Read(void* data, unsigned int size) override;
  // Owned buffer: clamps to [0, capacity - 1]. Caller's buffer: any position.
  bool seek(__int64 pos) override;

  // Grows an owned buffer so that position `needed` lies inside it.
  void EnsureResizeVector(__int64 needed);
  // Resizes an owned buffer to `size` bytes (kept bytes, zeroed new ones).
  void Resize(unsigned int size);
  char* GetData() {
    if (m_nZeroFrom < static_cast<__int64>(m_nCapacity)) ClearTail();
    return m_pData;
  }
  // Storing: the written length (low 32 bits of the position). Loading: the capacity.
  unsigned int GetDataSize();
  // Copies `size` bytes from `src` (may overlap this stream's buffer) into an
  // owned buffer and rewinds. Nothing happens when size <= 0.
  void SetData(char* src, int size);

  unsigned int GetCapacity() const { return m_nCapacity; }

  // Non-virtual forms of Write and Read with the same results, for callers
  // that know the device is exactly a GMemStream (the archive's fast path).
  bool WriteDirect(const void* data, unsigned int size) {
    const __int64 end = m_nPos + size;
    if (m_nPos >= 0 && end < static_cast<__int64>(m_nCapacity)) {
      std::memcpy(m_pData + m_nPos, data, size);
      m_nPos = end;
      return true;
    }
    return GMemStream::Write(const_cast<void*>(data), size);
  }
  unsigned int ReadDirect(void* data, unsigned int size) {
    if (m_nPos < 0 || m_nPos + size > m_nZeroFrom) return GMemStream::Read(data, size);
    std::memcpy(data, m_pData + m_nPos, size);
    m_nPos += size;
    return size;
  }
  // The next `size` bytes in place when all of them hold what was written
  // (or were cleared), advancing past them as ReadDirect would; else null
  // and nothing changes: Read then delivers them.
  const char* ReadInPlace(unsigned int size) {
    if (m_nPos < 0 || m_nPos + size > m_nZeroFrom) return nullptr;
    const char* p = m_pData + m_nPos;
    m_nPos += size;
    return p;
  }
  __int64 PosDirect() const { return m_nPos; }
  // The next `size` bytes of the buffer when they lie strictly inside it (as a
  // write of them would need no growth), advancing past them; else null and
  // nothing changes. The caller writes every one of them.
  char* TakeDirect(unsigned int size) {
    if (m_nPos < 0 || m_nPos + size >= static_cast<__int64>(m_nCapacity)) return nullptr;
    char* p = m_pData + m_nPos;
    m_nPos += size;
    return p;
  }
  // Overwrites `size` bytes at `pos` that lie before the position (bytes
  // written before), without moving it; false, writing nothing, otherwise.
  bool PatchDirect(__int64 pos, const void* data, unsigned int size) {
    if (__builtin_expect(pos < 0 || pos + size > m_nPos || m_nPos > static_cast<__int64>(m_nCapacity), 0))
      return false;
    std::memcpy(m_pData + pos, data, size);
    return true;
  }
  bool IsGrowable() const { return m_bGrowable; }

 private:
  void Grow(__int64 needed);
  // Clears what an owned buffer holds from the first byte not yet written
  // or cleared to its end (see m_nZeroFrom).
  void ClearTail();
  // The first byte of an owned buffer that may not hold its value yet.
  __int64 ValidEnd() const { return m_nZeroFrom > m_nPos ? m_nZeroFrom : m_nPos; }
  void Release();

  __int64 m_nPos;
  // An owned buffer (malloc'd; null while empty) or the caller's.
  char* m_pData;
  unsigned int m_nCapacity;
  // An owned buffer's bytes from max(m_nZeroFrom, m_nPos) to its end read as
  // zero but are cleared only when something could see them (a read, a seek
  // past them, GetData): growing then costs no clearing of what the next
  // writes overwrite anyway. A caller's buffer is all valid: its capacity.
  __int64 m_nZeroFrom;
  bool m_bGrowable;
};

}  // namespace hux
