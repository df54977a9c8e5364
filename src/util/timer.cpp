// The message-loop timer over the platform's thread timers.
#include <hux/util/timer.h>

#include <algorithm>
#include <condition_variable>
#include <iterator>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include <hux/platform/timers.h>

namespace hux {

namespace {

// A callback under way: whose, and on which thread.
struct Running {
  const CTimer* timer;
  std::thread::id thread;
};

// Every running timer by platform id, and the callbacks under way. Locked
// because a CTimer may be stopped (destroyed) on another thread than the one
// whose loop dispatches it; that thread waits on `finished` until the
// callback is over, so the timer's data may be freed once Stop returns.
struct TimerMap {
  std::mutex mutex;
  std::condition_variable finished;
  std::map<std::uintptr_t, CTimer*> timers;
  std::vector<Running> running;

  bool RunsElsewhere(const CTimer* timer) const {
    const std::thread::id self = std::this_thread::get_id();
    return std::any_of(running.begin(), running.end(),
                       [&](const Running& r) { return r.timer == timer && r.thread != self; });
  }
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
  TimerMap& map = Timers();
  std::lock_guard<std::mutex> lock(map.mutex);
  const std::uintptr_t id = platform::SetThreadTimer(m_nInterval, &CTimer::TimerProc);
  if (id == 0) return;
  m_nTimerId = id;
  map.timers[id] = this;
}

void CTimer::Stop() {
  TimerMap& map = Timers();
  std::unique_lock<std::mutex> lock(map.mutex);
  if (m_nTimerId != 0) {
    // A timer that the platform no longer knows (its thread has ended) is
    // unlisted all the same, so no entry outlives this object. Unlisted, a
    // callback that is due but not yet begun never begins.
    platform::KillThreadTimer(m_nTimerId);
    map.timers.erase(m_nTimerId);
    m_nTimerId = 0;
  }
  // A callback already under way on another thread is waited for; one on
  // this thread is the caller itself (a callback stopping or destroying its
  // own timer) and cannot be.
  map.finished.wait(lock, [&] { return !map.RunsElsewhere(this); });
}

void CTimer::TimerProc(std::uintptr_t id, unsigned long time) {
  TimerMap& map = Timers();
  Callback callback = nullptr;
  void* data = nullptr;
  const CTimer* timer = nullptr;
  {
    std::lock_guard<std::mutex> lock(map.mutex);
    auto it = map.timers.find(id);
    if (it == map.timers.end()) return;
    timer = it->second;
    callback = timer->m_pCallback;
    data = timer->m_pData;
    if (!callback) return;
    map.running.push_back(Running{timer, std::this_thread::get_id()});
  }
  // Outside the lock: the callback may stop, start or destroy timers, this
  // one included (the timer is not touched after the call).
  struct Done {
    TimerMap& map;
    const CTimer* timer;
    ~Done() {
      {
        std::lock_guard<std::mutex> lock(map.mutex);
        const std::thread::id self = std::this_thread::get_id();
        // The innermost entry of this timer on this thread (a callback may
        // pump, and so nest, other callbacks).
        for (auto r = map.running.rbegin(); r != map.running.rend(); ++r) {
          if (r->timer == timer && r->thread == self) {
            map.running.erase(std::next(r).base());
            break;
          }
        }
      }
      map.finished.notify_all();
    }
  } done{map, timer};
  callback(data, time);
}

}  // namespace hux
