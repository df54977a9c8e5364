#include <hux/object/weak_ptr.h>

namespace hux {

CWeakPtrCounter::CWeakPtrCounter(const CReferenced* object)
    : m_pObserved(const_cast<CReferenced*>(object)) {}

CWeakPtrCounter::~CWeakPtrCounter() = default;

void CWeakPtrCounter::Ref() {
  CLock lock(m_lock);
  CReferenced::Ref();
}

void CWeakPtrCounter::Unref() {
  bool last = false;
  {
    CLock lock(m_lock);
    UnrefNoDelete();
    last = ReferenceCount() == 0;
  }
  // After the lock's release: the mutex is part of what is destroyed. Nobody
  // else holds a reference, so nobody else can take the mutex now.
  if (last) delete this;
}

CReferenced* CWeakPtrCounter::AddRefLock() {
  CLock lock(m_lock);
  CReferenced* object = m_pObserved.load();
  if (!object) return nullptr;
  // Through the virtual slot: an object that keeps the protocol comes back
  // into this (recursive) mutex in RefObserved.
  object->Ref();
  if (object->ReferenceCount() == 1) {
    // Nobody held it: undo without destroying anything.
    object->UnrefNoDelete();
    return nullptr;
  }
  return object;
}

void CWeakPtrCounter::RefObserved() {
  CLock lock(m_lock);
  // The base operation by name: the object's own Ref is what called us.
  if (CReferenced* object = m_pObserved.load()) object->CReferenced::Ref();
}

bool CWeakPtrCounter::UnrefObserved() {
  CReferenced* last = nullptr;
  {
    CLock lock(m_lock);
    CReferenced* object = m_pObserved.load();
    if (!object) return false;
    if (object->ReferenceCount() != 1) {
      object->UnrefNoDelete();
      return false;
    }
    // Unreachable for AddRefLock from here on.
    m_pObserved.store(nullptr);
    last = object;
  }
  // Outside the mutex: the destructor may release this counter, and with it
  // the mutex.
  last->CReferenced::Unref();
  return true;
}

void CWeakPtrCounter::ClearObservedObject() {
  CLock lock(m_lock);
  m_pObserved.store(nullptr);
}

}  // namespace hux
