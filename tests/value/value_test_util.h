// Instance-counting objects for the variant tests, and variants as bytes.
#pragma once

#include <string>
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

// While alive, counts the strings the factory creates and destroys for
// variants (the records of codes 1001 and 1002 are wrapped, then restored).
class LiveStrings {
 public:
  LiveStrings() {
    Wrap(DT_STRING, s_saved[0], &Create<0>, &Destroy<0>);
    Wrap(DT_WSTRING, s_saved[1], &Create<1>, &Destroy<1>);
    s_live = s_created = 0;
  }
  ~LiveStrings() {
    Wrap(DT_STRING, s_saved[0], s_saved[0].create, s_saved[0].destroy);
    Wrap(DT_WSTRING, s_saved[1], s_saved[1].create, s_saved[1].destroy);
  }
  LiveStrings(const LiveStrings&) = delete;
  LiveStrings& operator=(const LiveStrings&) = delete;
  int count() const { return s_live; }
  int created() const { return s_created; }

 private:
  struct Saved {
    void* (*create)(void const*);
    void (*destroy)(void*);
  };
  static void Wrap(eXOMDataType code, Saved& saved, void* (*create)(void const*), void (*destroy)(void*)) {
    sClassFunctionPtr* r = GetBaseObjectFactory().GetFunctionPtr(code);
    const Saved former{r->createVoidObject, r->deleteVoidObject};
    r->createVoidObject = create;
    r->deleteVoidObject = destroy;
    saved = former;
  }
  template <int Kind>
  static void* Create(void const* source) {
    ++s_live;
    ++s_created;
    return s_saved[Kind].create(source);
  }
  template <int Kind>
  static void Destroy(void* object) {
    if (object) --s_live;
    s_saved[Kind].destroy(object);
  }
  static inline Saved s_saved[2]{};
  static inline int s_live = 0;
  static inline int s_created = 0;
};

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

// A registered shared object holding an int and a variant in an object of its own.
constexpr eXOMDataType kRegisteredNodeCode = static_cast<eXOMDataType>(5002);

class RegisteredNode : public Node, public IBase {
 public:
  bool Serialize(GDbArchive& archive) override {
    if (!archive.IsLoading()) {
      archive.BeginWriteObject(this, 1);
      archive.BeginWriteBlock(1, this);
      archive << number;
      payload.Serialize(archive);
      archive.EndWriteBlock(1, this);
      archive.EndWriteObject(this);
      return true;
    }
    ReadBlockOne(archive, [&] {
      archive >> number;
      payload.Serialize(archive);
    });
    return true;
  }
  eXOMDataType GetObjectType() override { return kRegisteredNodeCode; }
  int number = 0;

 protected:
  ~RegisteredNode() override = default;
};

inline sClassFunctionPtr RegisteredNodeRecord() {
  sClassFunctionPtr r;
  r.className = FactoryClassName<RegisteredNode>();
  r.createRefObject = [] { return static_cast<CReferenced*>(static_cast<Node*>(new RegisteredNode)); };
  return r;
}
inline const GBaseObjectFactoryHelper g_registerNode(kRegisteredNodeCode, RegisteredNodeRecord());

// The string objects a variant holds, and a variant holding an object id.
inline const std::string& Narrow(const CVariant& v) {
  return *reinterpret_cast<const std::string*>(v.GetVariantStru().value);
}
inline const std::wstring& Wide(const CVariant& v) {
  return *reinterpret_cast<const std::wstring*>(v.GetVariantStru().value);
}
inline CVariant Id(unsigned long long id) {
  CVariant v;
  v.SetObjectID(id);
  return v;
}

// The bytes of the variants, stored in turn into one archive.
inline std::vector<unsigned char> Store(std::vector<CVariant*> values) {
  GMemStream mem(true, nullptr, 0);
  GDbArchiveImpl ar(&mem);
  for (CVariant* v : values) EXPECT_TRUE(v->Serialize(ar));
  return Bytes(mem);
}

inline std::vector<unsigned char> StoreAll(std::vector<CVariant>& values) {
  std::vector<CVariant*> pointers;
  for (CVariant& v : values) pointers.push_back(&v);
  return Store(pointers);
}
inline std::vector<unsigned char> StoreAll(std::vector<CVariant>&& values) { return StoreAll(values); }

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
