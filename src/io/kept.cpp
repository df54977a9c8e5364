// Content a reader does not understand, kept as raw bytes so that the object
// that read it can write it back: unknown blocks, and whole objects of a
// newer version.
#include <hux/io/archive.h>

#include <algorithm>
#include <climits>
#include <cstring>

#include <hux/io/iodevice.h>
#include <hux/io/memstream.h>

namespace hux {

namespace {

// Kept bytes grow by at most this much ahead of what the device delivered.
constexpr unsigned int kKeepChunk = 64 * 1024;

}  // namespace

size_t GDbArchiveImpl::AppendDelivered(std::string& out, unsigned long long bytes) {
  const size_t before = out.size();
  if (m_pMem) {
    // A memory stream refuses a read that reaches past its end: take exactly
    // what it holds, in one step and without allocating ahead.
    const __int64 pos = m_pMem->PosDirect();
    const __int64 capacity = static_cast<__int64>(m_pMem->GetCapacity());
    const unsigned long long there = pos < 0 || pos >= capacity ? 0 : static_cast<unsigned long long>(capacity - pos);
    const size_t n = static_cast<size_t>(std::min(bytes, there));
    if (n == 0) return 0;
    out.resize(before + n);
    const unsigned int got = m_pMem->ReadDirect(out.data() + before, static_cast<unsigned int>(n));
    out.resize(before + std::min<size_t>(got, n));
    return out.size() - before;
  }
  unsigned long long got = 0;
  while (got < bytes) {
    const unsigned int want = static_cast<unsigned int>(std::min<unsigned long long>(kKeepChunk, bytes - got));
    const size_t at = out.size();
    out.resize(at + want);
    const unsigned int r = std::min(Device().Read(out.data() + at, want), want);
    out.resize(at + r);
    got += r;
    if (r == 0) break;
  }
  return out.size() - before;
}

void GDbArchiveImpl::KeepBlock(unsigned char id, unsigned int size, GKeptBlocks& kept) {
  __int64 start = 0;
  GetCurPos(start);
  std::string& framed = kept.m_strFramed;
  const size_t header = framed.size();
  framed.push_back(static_cast<char>(id));
  framed.append(4, '\0');
  const unsigned int got = static_cast<unsigned int>(AppendDelivered(framed, size));
  // The size written back is what was delivered: a block cut short by the
  // end of the input is still framed exactly.
  std::memcpy(framed.data() + header + 1, &got, 4);
  ++kept.m_nCount;
  if (got != size) SeekDevice(start + size);  // where skipping the block would have gone
}

bool GDbArchiveImpl::WriteKeptBlocks(const void* key, const GKeptBlocks& kept) {
  SetActiveObject(key);
  if (m_nActive == kNone) throw ArchiveError("GDbArchive: WriteKeptBlocks for an object that is not open");
  const std::string& framed = kept.m_strFramed;
  size_t at = 0;
  for (unsigned int i = 0; i < kept.m_nCount && at + 5 <= framed.size(); ++i) {
    if (m_vecOpen[m_nActive].blockCount == 255) return false;
    const unsigned char id = static_cast<unsigned char>(framed[at]);
    unsigned int size = 0;
    std::memcpy(&size, framed.data() + at + 1, 4);
    at += 5;
    size = static_cast<unsigned int>(std::min<size_t>(size, framed.size() - at));
    BeginWriteBlock(id, key);
    for (unsigned int done = 0; done < size;) {
      const unsigned int n = std::min<unsigned int>(size - done, INT_MAX);
      WriteRawData(const_cast<char*>(framed.data() + at + done), static_cast<int>(n));
      done += n;
    }
    EndWriteBlock(id, key);
    at += size;
  }
  return true;
}

bool GDbArchiveImpl::KeepObject(std::string& bytes) {
  bytes.clear();
  __int64 start = 0;
  GetCurPos(start);
  // The object's framing is followed as the bytes arrive, so that nothing
  // is held beyond what the device delivered.
  bool whole = AppendDelivered(bytes, 3) == 3;
  const unsigned count = whole ? static_cast<unsigned char>(bytes[2]) : 0;
  for (unsigned i = 0; i < count && whole; ++i) {
    const size_t at = bytes.size();
    whole = AppendDelivered(bytes, 5) == 5;
    unsigned int size = 0;
    if (whole) std::memcpy(&size, bytes.data() + at + 1, 4);
    whole = whole && AppendDelivered(bytes, size) == size;
  }
  if (whole) return true;
  // An object the input cuts short would, written back, swallow whatever
  // follows it: it is skipped instead, as a reader that keeps nothing does.
  bytes.clear();
  bytes.shrink_to_fit();
  SeekDevice(start);
  SkipObject();
  return false;
}

}  // namespace hux
