// Intrusive reference counting: the base of the library's shared objects.
//
// A new object has count 0. `Unref` to exactly 0 destroys the object; any
// other result (a negative count included) leaves it alive. The count is a
// plain integer: one thread at a time may change it.
#pragma once

#include <hux/export.h>

namespace hux {

class HUX_API CReferenced {
 public:
  CReferenced() : m_nRefCount(0) {}
  // A copy starts with count 0; assignment keeps the target's count.
  CReferenced(const CReferenced&) : m_nRefCount(0) {}
  CReferenced& operator=(const CReferenced&) { return *this; }

  // Adds 1 to the count.
  virtual void Ref();
  // Subtracts 1; destroys the object (`delete this`) when the count is then 0.
  virtual void Unref();

  // Subtracts 1 and never destroys the object.
  void UnrefNoDelete() const { --m_nRefCount; }
  int ReferenceCount() const { return m_nRefCount; }

  // Call `p->Ref()` / `p->Unref()`; the object they are called on is not used.
  // `p` must not be null.
  void IntrusivePtrAddRef(CReferenced* p) { p->Ref(); }
  void IntrusivePtrRelease(CReferenced* p) { p->Unref(); }

  // With deleteObject true, destroys the object whatever its count; the
  // signal flag has no effect.
  void SignalAndDelete(bool signal, bool deleteObject);

 protected:
  virtual ~CReferenced();

 private:
  mutable int m_nRefCount;
};

}  // namespace hux
