// Instance-counting objects for the variant's ownership tests.
#pragma once

#include <string>

#include <hux/io/archive.h>
#include <hux/object/base.h>
#include <hux/object/factory.h>
#include <hux/object/referenced.h>
#include <hux/value/variant.h>

namespace hux::test {

// While alive, counts the narrow and wide strings the factory creates and
// destroys for variants (the records of codes 1001 and 1002 are wrapped and
// restored afterwards).
class LiveStrings {
 public:
  LiveStrings() {
    Wrap(DT_STRING, s_narrow);
    Wrap(DT_WSTRING, s_wide);
    s_live = 0;
    s_created = 0;
  }
  ~LiveStrings() {
    Restore(DT_STRING, s_narrow);
    Restore(DT_WSTRING, s_wide);
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
  static void Wrap(eXOMDataType code, Saved& saved) {
    sClassFunctionPtr* r = GetBaseObjectFactory().GetFunctionPtr(code);
    saved.create = r->createVoidObject;
    saved.destroy = r->deleteVoidObject;
    r->createVoidObject = code == DT_STRING ? &Create<DT_STRING> : &Create<DT_WSTRING>;
    r->deleteVoidObject = code == DT_STRING ? &Destroy<DT_STRING> : &Destroy<DT_WSTRING>;
  }
  static void Restore(eXOMDataType code, const Saved& saved) {
    sClassFunctionPtr* r = GetBaseObjectFactory().GetFunctionPtr(code);
    r->createVoidObject = saved.create;
    r->deleteVoidObject = saved.destroy;
  }
  template <eXOMDataType Code>
  static void* Create(void const* source) {
    ++s_live;
    ++s_created;
    return (Code == DT_STRING ? s_narrow : s_wide).create(source);
  }
  template <eXOMDataType Code>
  static void Destroy(void* object) {
    if (object) --s_live;
    (Code == DT_STRING ? s_narrow : s_wide).destroy(object);
  }
  static inline Saved s_narrow{}, s_wide{};
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

// A shared object registered with the factory, which serializes an int inside
// an object of its own.
constexpr eXOMDataType kRegisteredNodeCode = static_cast<eXOMDataType>(5002);

class RegisteredNode : public Node, public IBase {
 public:
  bool Serialize(GDbArchive& archive) override {
    if (archive.IsLoading()) {
      unsigned char blocks = 0;
      unsigned short version = 0;
      archive.ReadObject(blocks, version);
      for (int i = 0; i < blocks; ++i) {
        unsigned char id = 0;
        unsigned int size = 0;
        archive.ReadBlock(id, size);
        if (id == 1)
          archive >> number;
        else
          archive.SeekPos(static_cast<int>(size), GDbArchive::SEEKFROM_CURRENT);
      }
      archive.EndReadObject();
    } else {
      archive.BeginWriteObject(this, 1);
      archive.BeginWriteBlock(1, this);
      archive << number;
      archive.EndWriteBlock(1, this);
      archive.EndWriteObject(this);
    }
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

}  // namespace hux::test
