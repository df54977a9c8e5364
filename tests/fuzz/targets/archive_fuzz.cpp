// Raw archive reading (objects, blocks, skips, rollbacks, strings, byte
// blocks, kept blocks and objects) driven by the input. What is read is
// written back and read again: both readings agree, kept bytes survive.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include <hux/io/archive.h>
#include <hux/io/memstream.h>

namespace {

using namespace hux;

// A block's id % 8 says how it is read: 0 nested objects, 1 a string, 2 a
// wide string, 3 a byte block, 4 an int and a double, 5 a nested object
// rolled back, 6 one kept whole, 7 a kept block.
struct Node {
  unsigned short version = 0;
  struct Block {
    unsigned char id = 0;
    std::vector<Node> nested;
    std::string text;  // the string, the byte block or the kept object
    std::wstring wide;
    int number = 0;
    double real = 0;
  };
  std::vector<Block> blocks;
  GKeptBlocks kept;
};

// The kept bytes of a reading, in order (an object not kept: 3 bytes).
void KeptBytes(const std::vector<Node>& nodes, std::vector<size_t>& out) {
  for (const Node& n : nodes) {
    out.insert(out.end(), {n.kept.GetCount(), n.kept.GetByteCount()});
    for (const Node::Block& b : n.blocks) {
      out.push_back(b.id % 8 != 6 || b.text.empty() ? 3 : b.text.size());
      KeptBytes(b.nested, out);
    }
  }
}

struct Reader {
  GDbArchiveImpl& ar;
  __int64 end;
  int budget = 2000;  // bounds the work a crafted input can cause

  bool Exhausted() { return --budget <= 0 || ar.DevicePos() >= end; }

  Node ReadNode(int depth) {
    Node node;
    unsigned char count = 0;
    unsigned short version = 1;
    ar.ReadObject(count, version);
    node.version = version;
    for (int i = 0; i < count && !Exhausted(); ++i) {
      Node::Block block;
      unsigned int size = 0;
      ar.ReadBlock(block.id, size);
      const __int64 dataStart = ar.DevicePos();
      const int kind = block.id % 8;
      if (kind == 0 && depth < 16) {
        block.nested.push_back(ReadNode(depth + 1));
      } else if (kind == 1) {
        ar >> block.text;
      } else if (kind == 2) {
        ar >> block.wide;
      } else if (kind == 3) {
        void* data = nullptr;
        int n = 0;
        ar.ReadBytes(data, n);
        if (n > 0) block.text.assign(static_cast<char*>(data), n);
        ::operator delete(data);
      } else if (kind == 4) {
        ar >> block.number >> block.real;
      } else if (kind == 5 && depth < 16) {
        const int nestedStart = static_cast<int>(ar.DevicePos());
        unsigned char n = 0;
        unsigned short v = 0;
        ar.ReadObject(n, v);
        ar.RollbackReadObject(nestedStart);
      } else if (kind == 6) {
        ar.KeepObject(block.text);
      } else if (kind == 7) {
        ar.KeepBlock(block.id, size, node.kept);
        continue;
      }
      const __int64 target = dataStart + size;
      ar.SeekPos(static_cast<int>(target > end ? end : target), GDbArchive::SEEKFROM_BEGIN);
      node.blocks.push_back(std::move(block));
    }
    ar.EndReadObject();
    if (ar.GetVersion() != 0 && depth == 0) std::abort();  // the version stack must be balanced
    return node;
  }
};

std::vector<Node> ReadAll(const std::string& bytes) {
  GMemStream mem(false, const_cast<char*>(bytes.data()), static_cast<unsigned int>(bytes.size()));
  GDbArchiveImpl ar(&mem);
  Reader reader{ar, static_cast<__int64>(bytes.size())};
  std::vector<Node> nodes;
  while (!reader.Exhausted() && nodes.size() < 64) nodes.push_back(reader.ReadNode(0));
  return nodes;
}

void WriteNode(GDbArchiveImpl& ar, const Node& node) {
  const void* key = reinterpret_cast<const void*>(ar.CreateNewObjectID());
  ar.BeginWriteObject(key, node.version);
  for (const Node::Block& block : node.blocks) {
    ar.BeginWriteBlock(block.id, key);
    const int kind = block.id % 8;
    for (const Node& n : block.nested) WriteNode(ar, n);
    char* text = const_cast<char*>(block.text.data());
    if (kind == 1) ar << block.text;
    if (kind == 2) ar << block.wide;
    if (kind == 3) ar.WriteBytes(text, static_cast<int>(block.text.size()));
    if (kind == 4) ar << block.number << block.real;
    if (kind == 6 && block.text.empty()) ar.WriteEmptyObject();  // one cut short
    if (kind == 6 && !block.text.empty()) ar.WriteRawData(text, static_cast<int>(block.text.size()));
    ar.EndWriteBlock(block.id, key);
  }
  ar.WriteKeptBlocks(key, node.kept);
  ar.EndWriteObject(key);
}

std::string WriteAll(const std::vector<Node>& nodes) {
  GMemStream out(true, nullptr, 0);
  {
    GDbArchiveImpl ar(&out);
    for (const Node& n : nodes) WriteNode(ar, n);
  }
  return std::string(out.GetData(), static_cast<size_t>(out.pos()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::vector<Node> first = ReadAll(std::string(reinterpret_cast<const char*>(data), size));
  const std::string written = WriteAll(first);  // without what could not be read
  const std::vector<Node> second = ReadAll(written);
  std::vector<size_t> keptFirst, keptSecond;
  KeptBytes(first, keptFirst);
  KeptBytes(second, keptSecond);
  if (WriteAll(second) != written || keptFirst != keptSecond) std::abort();
  return 0;
}
