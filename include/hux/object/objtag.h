// GObjTag: a small IBase value pairing an object id with an untyped pointer.
//
// The pointer is not owned. Serialization and the type code are IBase's
// defaults (an empty object, code 0).
#pragma once

#include <hux/export.h>
#include <hux/object/base.h>

namespace hux {

class HUX_API GObjTag : public IBase {
 public:
  // Id 0, pointer null.
  GObjTag();
  GObjTag(__int64 id, void* pointer);
  GObjTag(const GObjTag& other);
  const GObjTag& operator=(const GObjTag& other);
  ~GObjTag() override;

  // True when both the ids and the pointers are equal.
  bool operator==(const GObjTag& other) const;

  __int64 GetObjID() const { return m_nObjID; }
  void SetObjID(__int64 id) { m_nObjID = id; }
  void* GetPointer() const { return m_pPointer; }
  void SetPointer(void* pointer) { m_pPointer = pointer; }
  // Id 0, pointer null.
  void Init();

 private:
  __int64 m_nObjID;
  void* m_pPointer;
};

}  // namespace hux
