// The message-loop timer over the platform's thread timers.
#include <hux/util/timer.h>

#include <map>
#include <mutex>

#include <hux/platform/timers.h>

namespace hux {

namespace {

// Every running timer by platform id. Locked because a CTimer may be stopped
// (destroyed) on another thread than the one whose loop dispatches it.
struct TimerMap {
  std::mutex mutex;
  std::map<std::uintptr_t, CTimer*> timers;
};

// Never destroyed, so a CTimer with static storage can still stop at exit.
TimerMap& Timers() {
  static TimerMap* map = new TimerMap;
  return *map;
}

}  // namespace

CTimer::CTimer(int interval, Callback callback, void* data)
    : m_pCallback(callback), m_pData(data), m_nTimerId(0), m_nInterval(interval) {}

CTimer::~CTimer() { Stop(); }

CTimer::CTimer(const CTimer& other)
    : m_pCallback(other.m_pCallback), m_pData(other.m_pData), m_nTimerId(0), m_nInterval(other.m_nInterval) {}

CTimer& CTimer::operator=(const CTimer& other) {
  if (this != &other) {
    Stop();
    m_pCallback = other.m_pCallback;
    m_pData = other.m_pData;
    m_nInterval = other.m_nInterval;
  }
  return *this;
}

void CTimer::Start() {
  Stop();
  const std::uintptr_t id = platform::SetThreadTimer(m_nInterval, &CTimer::TimerProc);
  if (id == 0) return;
  TimerMap& map = Timers();
  std::lock_guard<std::mutex> lock(map.mutex);
  m_nTimerId = id;
  map.timers[id] = this;
}

void CTimer::Stop() {
  if (m_nTimerId == 0) return;
  // A timer that the platform no longer knows (its thread has ended) is
  // unlisted all the same, so no entry outlives this object.
  platform::KillThreadTimer(m_nTimerId);
  TimerMap& map = Timers();
  std::lock_guard<std::mutex> lock(map.mutex);
  map.timers.erase(m_nTimerId);
  m_nTimerId = 0;
}

void CTimer::TimerProc(std::uintptr_t id, unsigned long time) {
  Callback callback = nullptr;
  void* data = nullptr;
  {
    TimerMap& map = Timers();
    std::lock_guard<std::mutex> lock(map.mutex);
    auto it = map.timers.find(id);
    if (it == map.timers.end()) return;
    callback = it->second->m_pCallback;
    data = it->second->m_pData;
  }
  // Outside the lock: the callback may stop, start or destroy timers.
  if (callback) callback(data, time);
}

}  // namespace hux
