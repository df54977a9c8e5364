#include "framing.h"

#include <cstring>

namespace huxdump {

namespace {

constexpr uint64_t kObjectHeader = 3;  // version (2 bytes), block count (1)
constexpr uint64_t kBlockHeader = 5;   // id (1 byte), size (4)

std::string N(unsigned long long n) { return std::to_string(n); }

// The messages of the faults, one wording for the buffer and the stream.
bool Fail(Fault* fault, uint64_t offset, std::string message) {
  if (fault && !fault->found) {
    fault->found = true;
    fault->offset = offset;
    fault->message = std::move(message);
  }
  return false;
}

bool ShortHeader(Fault* fault, uint64_t offset, uint64_t left, const char* where) {
  return Fail(fault, offset, "object header needs 3 bytes, " + N(left) + " left in " + where);
}

bool MissingBlocks(Fault* fault, uint64_t offset, uint64_t object, unsigned claimed, unsigned present,
                   const char* where) {
  return Fail(fault, offset,
              "object at offset " + N(object) + " claims " + N(claimed) + " blocks, only " + N(present) +
                  " present before the end of " + where);
}

bool BlockPastEnd(Fault* fault, const BlockHeader& b, uint64_t left, const char* where) {
  return Fail(fault, b.offset,
              "block " + N(b.id) + " of size " + N(b.size) + " runs past the end of " + where + " (" + N(left) +
                  " bytes left)");
}

void AfterObjects(Fault& fault, uint64_t objects) {
  fault.message += " (after " + N(objects) + " whole object" + (objects == 1 ? ")" : "s)");
}

uint32_t Le32(const unsigned char* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);  // little-endian host
  return v;
}

}  // namespace

bool Framing::SkipObject(uint64_t& pos, uint64_t limit, Fault* fault) const {
  const char* where = limit == size_ ? "the file" : "the enclosing block";
  if (limit - pos < kObjectHeader) return ShortHeader(fault, pos, limit - pos, where);
  const ObjectHeader o = ObjectAt(pos);
  uint64_t at = o.firstBlock;
  for (unsigned i = 0; i < o.blockCount; ++i) {
    if (limit - at < kBlockHeader) return MissingBlocks(fault, at, o.offset, o.blockCount, i, where);
    const BlockHeader b = BlockAt(at);
    if (b.size > limit - b.dataOffset) return BlockPastEnd(fault, b, limit - b.dataOffset, where);
    at = b.End();
  }
  pos = at;
  return true;
}

ObjectHeader Framing::ObjectAt(uint64_t pos) const {
  ObjectHeader o;
  o.offset = pos;
  o.version = static_cast<unsigned>(data_[pos]) | static_cast<unsigned>(data_[pos + 1]) << 8;
  o.blockCount = data_[pos + 2];
  o.firstBlock = pos + kObjectHeader;
  return o;
}

BlockHeader Framing::BlockAt(uint64_t pos) const {
  BlockHeader b;
  b.offset = pos;
  b.id = data_[pos];
  b.size = Le32(data_ + pos + 1);
  b.dataOffset = pos + kBlockHeader;
  return b;
}

size_t Framing::NestedObjects(uint64_t begin, uint64_t end, int depth) const {
  if (depth > kMaxDepth || end - begin < kObjectHeader) return 0;
  size_t count = 0;
  for (uint64_t pos = begin; pos < end; ++count)
    if (!SkipObject(pos, end, nullptr)) return 0;
  return count;
}

bool Framing::NextObject(uint64_t& pos, uint64_t before, Fault& fault) const {
  const uint64_t start = pos;
  if (SkipObject(pos, size_, &fault)) return true;
  if (start != 0) AfterObjects(fault, before);
  return false;
}

namespace {

// SkipObject over a stream: `pos` counts the bytes read, the block contents
// are read past in chunks. False without a fault at the end of the input.
bool StreamObject(ByteSource& in, uint64_t& pos, Fault* fault) {
  const uint64_t start = pos;
  unsigned char head[kBlockHeader];
  const size_t got = in.Read(head, kObjectHeader);
  pos += got;
  if (got == 0) return false;
  if (got < kObjectHeader) return ShortHeader(fault, start, got, "the file");
  const unsigned blockCount = head[2];
  for (unsigned i = 0; i < blockCount; ++i) {
    BlockHeader b;
    b.offset = pos;
    const size_t n = in.Read(head, kBlockHeader);
    pos += n;
    if (n < kBlockHeader) return MissingBlocks(fault, b.offset, start, blockCount, i, "the file");
    b.id = head[0];
    b.size = Le32(head + 1);
    unsigned char scratch[1 << 16];
    uint64_t left = b.size;
    while (left > 0) {
      const size_t want = left < sizeof scratch ? static_cast<size_t>(left) : sizeof scratch;
      const size_t skipped = in.Read(scratch, want);
      pos += skipped;
      left -= skipped;
      if (skipped < want) return BlockPastEnd(fault, b, b.size - left, "the file");
    }
  }
  return true;
}

}  // namespace

CheckResult CheckStream(ByteSource& in) {
  CheckResult r;
  uint64_t start = 0;
  while (StreamObject(in, r.bytes, &r.fault)) {
    ++r.objects;
    start = r.bytes;
  }
  if (r.fault.found && start != 0) AfterObjects(r.fault, r.objects);
  return r;
}

}  // namespace huxdump
