// A recursive mutex of the process and its scoped lock.
//
// `CMutex` is the library's one lock kind: the log manager and the weak
// reference counters serialise with it. It is recursive, as an operating-system
// mutex of the Windows edition is: the owning thread may lock it again, and
// each `Lock` needs its own `Unlock` by that same thread. Waits have no
// time-out. `CLock` holds a mutex for its own lifetime, so the mutex is
// released on every way out of a scope, exceptions included.
#pragma once

#include <mutex>

#include <hux/export.h>

namespace hux {

class HUX_API CMutex {
 public:
  // Creates the mutex, not owned by any thread.
  CMutex();
  // The mutex must not be held by any thread when it is destroyed.
  ~CMutex();
  // A copy is a new, unowned mutex of its own: two objects never share one
  // mutex, so neither can release the other's. Assignment leaves both
  // mutexes as they are.
  CMutex(const CMutex&);
  CMutex& operator=(const CMutex&);

  // Waits without time-out until the calling thread owns the mutex; a thread
  // that owns it already gets it again at once.
  void Lock();
  // Releases one `Lock` of the calling thread, which must own the mutex.
  void Unlock();

 private:
  std::recursive_mutex m_mutex;
};

class HUX_API CLock {
 public:
  // Locks `mutex` (waiting without time-out) until the lock is destroyed.
  explicit CLock(CMutex& mutex);
  ~CLock();
  CLock(const CLock&) = delete;
  CLock& operator=(const CLock&) = delete;

 private:
  CMutex* m_pMutex;
};

}  // namespace hux
