// Shared objects for the variant tests, and variants as bytes.
#pragma once

#include <vector>

#include <gtest/gtest.h>

#include <hux/io/archive.h>
#include <hux/io/memstream.h>
#include <hux/object/base.h>
#include <hux/object/factory.h>
#include <hux/object/referenced.h>
#include <hux/value/variant.h>

#include "test_util.h"

namespace hux::test {

// A shared object whose class is not registered (code 1000 in a variant).
class Node : public CReferenced {
 public:
  Node() { ++live; }
  static inline int live = 0;
  CVariant payload;

 protected:
  ~Node() override { --live; }
};

// Reads one object: `block1` reads block 1, other blocks are skipped.
template <class Block1>
void ReadBlockOne(GDbArchive& archive, Block1&& block1) {
  unsigned char blocks = 0, id = 0;
  unsigned short version = 0;
  unsigned int size = 0;
  archive.ReadObject(blocks, version);
  for (int i = 0; i < blocks; ++i) {
    archive.ReadBlock(id, size);
    if (id == 1)
      block1();
    else
      archive.SeekPos(static_cast<int>(size), GDbArchive::SEEKFROM_CURRENT);
  }
  archive.EndReadObject();
}

// A registered shared object (code 5002) holding an int and a variant in block 1.
constexpr eXOMDataType kRegisteredNodeCode = static_cast<eXOMDataType>(5002);

class RegisteredNode : public Node, public IBase {
 public:
  bool Serialize(GDbArchive& archive) override {
    if (archive.IsLoading()) {
      ReadBlockOne(archive, [&] {
        archive >> number;
        payload.Serialize(archive);
      });
      return true;
    }
    archive.BeginWriteObject(this, 1);
    archive.BeginWriteBlock(1, this);
    archive << number;
    payload.Serialize(archive);
    archive.EndWriteBlock(1, this);
    archive.EndWriteObject(this);
    return true;
  }
  eXOMDataType GetObjectType() override { return kRegisteredNodeCode; }
  int number = 0;

 protected:
  ~RegisteredNode() override = default;
};

inline const GBaseObjectFactoryHelper g_registerNode(kRegisteredNodeCode, [] {
  sClassFunctionPtr r;
  r.className = FactoryClassName<RegisteredNode>();
  r.createRefObject = [] { return static_cast<CReferenced*>(static_cast<Node*>(new RegisteredNode)); };
  return r;
}());

inline CVariant Id(unsigned long long id) {
  CVariant v;
  v.SetObjectID(id);
  return v;
}

// The bytes of the variants, stored in turn into one archive.
inline std::vector<unsigned char> Store(std::vector<CVariant> values) {
  GMemStream mem(true, nullptr, 0);
  GDbArchiveImpl ar(&mem);
  for (CVariant& v : values) EXPECT_TRUE(v.Serialize(ar));
  return Bytes(mem);
}

// Loads `count` variants from `bytes`; `consumed` receives the position after.
inline std::vector<CVariant> LoadVariants(const std::vector<unsigned char>& bytes, size_t count,
                                          long long* consumed = nullptr) {
  GMemStream mem;
  Load(mem, bytes);
  GDbArchiveImpl ar(&mem);
  std::vector<CVariant> out(count, CVariant(123));  // former content, released by the load
  for (CVariant& v : out) EXPECT_TRUE(v.Serialize(ar));
  if (consumed) *consumed = ar.DevicePos();
  return out;
}

}  // namespace hux::test
