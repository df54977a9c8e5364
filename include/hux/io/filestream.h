// GFileIOStream: a byte device over a file, opened for writing or reading.
//
// A file that cannot be opened leaves the device in its failed state: reads
// deliver nothing and writes return false. The path is wide (code points) and
// is opened as UTF-8, where U+DC80..U+DCFF stand for the bytes 0x80..0xFF of
// a name that is not UTF-8. A path that names no file that way (one with a
// NUL, another lone surrogate, a value beyond U+10FFFF) is not opened at all.
#pragma once

#include <fstream>
#include <string>

#include <hux/io/iodevice.h>

namespace hux {

class HUX_API GFileIOStream : public GIODevice {
 public:
  // storing: open for output (truncate or create), else for input. The text
  // flag is accepted for compatibility; files are always binary here.
  GFileIOStream(bool storing, std::wstring path, bool text);
  ~GFileIOStream() override;
  GFileIOStream(const GFileIOStream&) = delete;
  GFileIOStream& operator=(const GFileIOStream&) = delete;

  __int64 pos() override;
  // False when the stream has failed (unopened file, full disk, ...).
  bool Write(void* data, unsigned int size) override;
  // The number of bytes actually delivered; undelivered bytes are untouched.
  unsigned int Read(void* data, unsigned int size) override;
  bool seek(__int64 pos) override;

  // Reads one line of any length (the newline is consumed, not stored) and
  // keeps the characters up to the first zero byte. True when that is not
  // empty; an empty line and the end of the file return false.
  bool ReadLine(std::string& line);

  // True while the file is open and no operation has failed.
  bool IsGood() const { return m_stream.good(); }

 private:
  std::fstream m_stream;
};

}  // namespace hux
