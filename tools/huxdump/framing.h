// Reading the archive's framing from a byte buffer, for the archive inspector.
//
// The format does not say what a block holds, so a block's contents count as
// nested objects only when they parse as one or more whole objects that fill
// the block exactly; otherwise they are shown as data. Every size and count
// is checked against the bytes that are really there, and nesting is bounded,
// so damaged input is reported, never trusted.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace huxdump {

struct Object;

struct Block {
  uint64_t offset = 0;      // of the block id
  unsigned id = 0;
  uint32_t size = 0;        // as stored
  uint64_t dataOffset = 0;  // first byte of the contents
  std::vector<Object> objects;  // nested objects, when the contents are objects
};

struct Object {
  uint64_t offset = 0;
  unsigned version = 0;
  unsigned blockCount = 0;  // as stored
  std::vector<Block> blocks;
};

// The first fault found in the framing: where and what.
struct Fault {
  bool found = false;
  uint64_t offset = 0;
  std::string message;
};

// The objects of a whole buffer, parsed one after the other from offset 0.
struct Tree {
  std::vector<Object> objects;
  uint64_t parsedEnd = 0;  // the end of the last whole object
  Fault fault;             // set when the buffer is not a clean sequence of objects
};

// Parses `size` bytes as a sequence of objects. Stops at the first fault.
Tree ParseTree(const unsigned char* data, size_t size);

}  // namespace huxdump
