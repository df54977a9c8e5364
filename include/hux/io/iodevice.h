// Byte devices: the positioned byte sequences under every archive.
//
// A device moves raw bytes only (no byte order, framing or checksum) and is in
// storing or loading mode. One device is used by one thread at a time.
#pragma once

#include <hux/export.h>

namespace hux {

class HUX_API GIODevice {
 public:
  // storing: true when the device is written, false when it is read.
  explicit GIODevice(bool storing) : m_bStoring(storing) {}
  virtual ~GIODevice();

  // Current position in bytes from the start.
  virtual __int64 pos() = 0;
  // Writes `size` bytes from `data`; false when nothing could be written.
  virtual bool Write(void* data, unsigned int size) = 0;
  // Reads up to `size` bytes into `data`; returns the bytes delivered.
  virtual unsigned int Read(void* data, unsigned int size) = 0;
  // Moves to the absolute position `pos`.
  virtual bool seek(__int64 pos) = 0;

  bool IsLoading() const { return !m_bStoring; }
  bool IsStoring() const { return m_bStoring; }
  // Sets the mode and rewinds to position 0: write, switch, read back.
  void SetOpenMode(bool storing) {
    m_bStoring = storing;
    seek(0);
  }

 private:
  bool m_bStoring;
};

// Stores nothing: counts the bytes an archive would write. Reads count too and
// leave the destination untouched.
class HUX_API GDataSizeStream : public GIODevice {
 public:
  GDataSizeStream() : GIODevice(true), m_nPos(0) {}
  ~GDataSizeStream() override;

  __int64 pos() override { return m_nPos; }
  bool Write(void* data, unsigned int size) override;
  unsigned int Read(void* data, unsigned int size) override;
  bool seek(__int64 pos) override;

 private:
  __int64 m_nPos;
};

}  // namespace hux
