#include "framing.h"

#include <cstring>

namespace huxdump {

namespace {

// Deeper nesting than this is reported as a fault rather than followed, so a
// crafted file cannot exhaust the stack.
constexpr int kMaxDepth = 200;

std::string N(unsigned long long n) { return std::to_string(n); }

class Parser {
 public:
  Parser(const unsigned char* data, size_t size) : data_(data), size_(size) {}

  // Parses one object at `pos` that must end by `limit`. On success fills
  // `out`, moves `pos` past the object and returns true. On failure records
  // the fault in `fault` (when not null) and returns false.
  bool ParseObject(uint64_t& pos, uint64_t limit, int depth, Object& out, Fault* fault) {
    out = Object();
    out.offset = pos;
    const char* where = limit == size_ ? "the file" : "the enclosing block";
    if (depth > kMaxDepth) return Fail(fault, pos, "object nested deeper than " + N(kMaxDepth) + " levels");
    if (limit - pos < 3)
      return Fail(fault, pos, "object header needs 3 bytes, " + N(limit - pos) + " left in " + where);
    out.version = static_cast<unsigned>(data_[pos]) | static_cast<unsigned>(data_[pos + 1]) << 8;
    out.blockCount = data_[pos + 2];
    pos += 3;
    for (unsigned i = 0; i < out.blockCount; ++i) {
      Block block;
      block.offset = pos;
      if (limit - pos < 5) {
        return Fail(fault, pos,
                    "object at offset " + N(out.offset) + " claims " + N(out.blockCount) + " blocks, only " + N(i) +
                        " present before the end of " + where);
      }
      block.id = data_[pos];
      std::memcpy(&block.size, data_ + pos + 1, 4);  // little-endian host
      block.dataOffset = pos + 5;
      if (block.size > limit - block.dataOffset) {
        return Fail(fault, pos,
                    "block " + N(block.id) + " of size " + N(block.size) + " runs past the end of " + where + " (" +
                        N(limit - block.dataOffset) + " bytes left)");
      }
      const uint64_t end = block.dataOffset + block.size;
      ParseNested(block, end, depth);
      pos = end;
      out.blocks.push_back(std::move(block));
    }
    return true;
  }

 private:
  // The contents of a block are objects when they parse as whole objects
  // filling the block exactly.
  void ParseNested(Block& block, uint64_t end, int depth) {
    if (block.size < 3) return;
    std::vector<Object> objects;
    uint64_t pos = block.dataOffset;
    while (pos < end) {
      Object child;
      if (!ParseObject(pos, end, depth + 1, child, nullptr)) return;
      objects.push_back(std::move(child));
    }
    block.objects = std::move(objects);
  }

  static bool Fail(Fault* fault, uint64_t offset, std::string message) {
    if (fault && !fault->found) {
      fault->found = true;
      fault->offset = offset;
      fault->message = std::move(message);
    }
    return false;
  }

  const unsigned char* data_;
  size_t size_;
};

}  // namespace

Tree ParseTree(const unsigned char* data, size_t size) {
  Tree tree;
  Parser parser(data, size);
  uint64_t pos = 0;
  while (pos < size) {
    Object object;
    const uint64_t start = pos;
    if (!parser.ParseObject(pos, size, 0, object, &tree.fault)) {
      if (start != 0)
        tree.fault.message += " (after " + N(tree.objects.size()) + " whole object" +
                              (tree.objects.size() == 1 ? ")" : "s)");
      break;
    }
    tree.objects.push_back(std::move(object));
    tree.parsedEnd = pos;
  }
  return tree;
}

}  // namespace huxdump
