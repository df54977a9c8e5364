// CWeakPtrCounter: a weak reference to a reference-counted object, which hands
// out a new strong reference only while the object is alive.
//
// The counter is a separate, itself reference-counted record: the observed
// object's class and every weak holder keep a reference to it, so it outlives
// the object. AddRefLock may run on any thread; it works under the counter's
// own mutex. The counter's own count changes under that mutex too, so holders
// on different threads (and the observed object's destructor) may take and
// drop references to the counter at the same time; whoever drops the last one
// destroys it, after every other holder has let go of the mutex.
//
// The owner's protocol. AddRefLock changes the observed object's count and
// relies on the object's memory staying valid while the counter's mutex is
// held. An object observed from several threads therefore keeps to three
// rules:
//   1. One counter per object, shared by reference.
//   2. Every change of the object's count goes under the counter's mutex:
//      the object's class overrides Ref and Unref to call RefObserved and
//      UnrefObserved (the counter's mutex is recursive, so AddRefLock's own
//      call of Ref passes through them too).
//   3. The object is destroyed only after the counter stops observing it:
//      UnrefObserved clears the counter's pointer under the mutex when it
//      releases the last reference, before it destroys the object. An object
//      ended any other way calls ClearObservedObject before it is destroyed.
// For example:
//   class CShape : public CReferenced {
//    public:
//     CShape() : m_pWeak(new CWeakPtrCounter(this)) { m_pWeak->Ref(); }
//     void Ref() override { m_pWeak->RefObserved(); }
//     void Unref() override { m_pWeak->UnrefObserved(); }
//     CWeakPtrCounter* GetWeakCounter() const { return m_pWeak; }
//    protected:
//     ~CShape() override { m_pWeak->Unref(); }
//    private:
//     CWeakPtrCounter* m_pWeak;
//   };
// A holder then calls `if (CReferenced* p = counter->AddRefLock()) { use p;
// p->Unref(); }`.
#pragma once

#include <atomic>

#include <hux/export.h>
#include <hux/object/referenced.h>
#include <hux/util/mutex.h>

namespace hux {

class HUX_API CWeakPtrCounter : public CReferenced {
 public:
  // Count 0; observes `object` (null allowed) without taking a reference on
  // it.
  explicit CWeakPtrCounter(const CReferenced* object);
  CWeakPtrCounter(const CWeakPtrCounter&) = delete;
  CWeakPtrCounter& operator=(const CWeakPtrCounter&) = delete;

  // The observed object (null once it has been released or cleared), without
  // the lock and without a reference: only for identification, since the
  // object may be destroyed at any moment by another thread.
  CReferenced* GetObserverdObject() { return m_pObserved.load(); }
  const CReferenced* GetObserverdObject() const { return m_pObserved.load(); }

  // Takes a new reference on the observed object and returns it, or returns
  // null when there is no object or its count was 0 (nobody owns it: it is
  // dead or dying; its count is left at 0). A non-null result must be given
  // back with Unref.
  CReferenced* AddRefLock();

  // The counter's own count, changed under its mutex (see above). Unref to 0
  // destroys the counter once the mutex is released.
  void Ref() override;
  void Unref() override;

  // The owner's side (see the protocol above). Adds one reference to the
  // observed object under the mutex; nothing once the object is released.
  void RefObserved();
  // Releases one reference to the observed object under the mutex. When it was
  // the last one (count 1), the counter stops observing the object before the
  // object is destroyed; returns true then. Returns false otherwise, and when
  // nothing is observed.
  bool UnrefObserved();
  // Stops observing the object, under the mutex: AddRefLock returns null from
  // now on. The object itself is not touched.
  void ClearObservedObject();

 protected:
  ~CWeakPtrCounter() override;

 private:
  CMutex m_lock;
  // Written under m_lock; atomic so that GetObserverdObject may read it
  // without the lock.
  std::atomic<CReferenced*> m_pObserved;
};

}  // namespace hux
