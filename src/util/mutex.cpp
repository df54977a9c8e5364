// The recursive mutex and its scoped lock.
#include <hux/util/mutex.h>

namespace hux {

CMutex::CMutex() = default;
CMutex::~CMutex() = default;

// The mutex itself is never copied: a copy owns a fresh one.
CMutex::CMutex(const CMutex&) {}
CMutex& CMutex::operator=(const CMutex&) { return *this; }

void CMutex::Lock() { m_mutex.lock(); }
void CMutex::Unlock() { m_mutex.unlock(); }

CLock::CLock(CMutex& mutex) : m_pMutex(&mutex) { m_pMutex->Lock(); }
CLock::~CLock() { m_pMutex->Unlock(); }

}  // namespace hux
