// Reading the archive's framing, for the archive inspector.
//
// The format does not say what a block holds, so a block's contents count as
// nested objects only when they parse as one or more whole objects that fill
// the block exactly; otherwise they are shown as data. Every size and count
// is checked against the bytes that are really there, and nesting is bounded,
// so damaged input is reported, never trusted.
//
// Nothing here collects objects: the framing is read in place (a buffer) or
// as it streams past (a check), so memory does not grow with the number of
// objects.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace huxdump {

// Contents nested deeper than this are shown as data rather than followed,
// so a crafted file cannot exhaust the stack.
constexpr int kMaxDepth = 200;

// The first fault found in the framing: where and what.
struct Fault {
  bool found = false;
  uint64_t offset = 0;
  std::string message;
};

struct ObjectHeader {
  uint64_t offset = 0;
  unsigned version = 0;
  unsigned blockCount = 0;  // as stored
  uint64_t firstBlock = 0;  // offset of the first block header
};

struct BlockHeader {
  uint64_t offset = 0;      // of the block id
  unsigned id = 0;
  uint32_t size = 0;        // as stored
  uint64_t dataOffset = 0;  // first byte of the contents
  uint64_t End() const { return dataOffset + size; }
};

// The framing of a buffer the caller keeps alive.
class Framing {
 public:
  Framing(const unsigned char* data, size_t size) : data_(data), size_(size) {}

  // Checks the headers of the top-level object at `pos`: the object header,
  // each block header and that each block's size fits in the buffer. Block
  // contents are not looked into. On success moves `pos` past the object; on
  // failure sets `fault` (" (after N whole objects)" added when `pos` is not
  // 0, N being `before`) and returns false.
  bool NextObject(uint64_t& pos, uint64_t before, Fault& fault) const;

  // The headers at `pos`, which SkipObject has checked.
  ObjectHeader ObjectAt(uint64_t pos) const;
  BlockHeader BlockAt(uint64_t pos) const;

  // The number of whole objects at nesting `depth` that fill [begin, end)
  // exactly; 0 when the bytes are data (or nested too deep).
  size_t NestedObjects(uint64_t begin, uint64_t end, int depth) const;

 private:
  // NextObject for an object that must end by `limit`, the fault recorded
  // only when `fault` is not null.
  bool SkipObject(uint64_t& pos, uint64_t limit, Fault* fault) const;

  const unsigned char* data_;
  size_t size_;
};

// A source of bytes read once, front to back. Read returns fewer than `n`
// bytes only at the end of the input.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual size_t Read(unsigned char* dst, size_t n) = 0;
};

struct CheckResult {
  uint64_t objects = 0;  // whole objects before the end or the fault
  uint64_t bytes = 0;    // bytes read
  Fault fault;           // set when the input is not a clean sequence of objects
};

// Checks that the input is a sequence of whole objects, reading it once in
// constant memory. Finds the same first fault as Framing::NextObject over the
// whole input.
CheckResult CheckStream(ByteSource& in);

}  // namespace huxdump
