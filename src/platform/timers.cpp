// Thread timers and the per-thread message loop.
//
// One registry holds every timer of the process, so that a timer can be killed
// from any thread (a CTimer destroyed on another thread must not leave a timer
// behind). Each thread keeps the ids of its own timers; pumping scans only
// those. Callbacks run without the registry's lock held, so a callback may
// create and kill timers.
#include <hux/platform/timers.h>

#include <time.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include <hux/platform/clock.h>

namespace hux::platform {

namespace {

long long NowNs() {
  timespec ts{};
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

constexpr int kMinimumIntervalMs = 10;

struct ThreadTimers;

struct Timer {
  ThreadTimers* owner;
  long long intervalNs;
  long long dueNs;
  ThreadTimerProc proc;
};

struct Registry {
  std::mutex mutex;
  std::map<std::uintptr_t, Timer> timers;
  std::uintptr_t nextId = 1;
};

// Never destroyed: threads may end (and kill their timers) during exit.
Registry& TheRegistry() {
  static Registry* registry = new Registry;
  return *registry;
}

// The ids of one thread's timers; its destructor (at thread exit) kills them.
struct ThreadTimers {
  std::set<std::uintptr_t> ids;
  ~ThreadTimers() {
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> lock(r.mutex);
    for (std::uintptr_t id : ids) r.timers.erase(id);
  }
};

ThreadTimers& MyTimers() {
  thread_local ThreadTimers timers;
  return timers;
}

// Earliest due time of the thread's timers, or -1; the registry lock is held.
long long NextDueLocked(Registry& r, const ThreadTimers& mine) {
  long long next = -1;
  for (std::uintptr_t id : mine.ids) {
    auto it = r.timers.find(id);
    if (it != r.timers.end() && (next < 0 || it->second.dueNs < next)) next = it->second.dueNs;
  }
  return next;
}

// Runs the due timers of the calling thread once each; returns how many ran.
int RunDueTimers() {
  Registry& r = TheRegistry();
  ThreadTimers& mine = MyTimers();
  std::vector<std::uintptr_t> due;
  {
    std::lock_guard<std::mutex> lock(r.mutex);
    const long long now = NowNs();
    for (std::uintptr_t id : mine.ids) {
      auto it = r.timers.find(id);
      if (it != r.timers.end() && it->second.dueNs <= now) due.push_back(id);
    }
  }
  int ran = 0;
  for (std::uintptr_t id : due) {
    ThreadTimerProc proc = nullptr;
    {
      // A callback that ran before may have killed this timer.
      std::lock_guard<std::mutex> lock(r.mutex);
      auto it = r.timers.find(id);
      if (it == r.timers.end()) continue;
      it->second.dueNs = NowNs() + it->second.intervalNs;
      proc = it->second.proc;
    }
    proc(id, MillisecondsSinceBoot());
    ++ran;
  }
  return ran;
}

}  // namespace

std::uintptr_t SetThreadTimer(int intervalMs, ThreadTimerProc proc) {
  if (!proc) return 0;
  const long long interval = std::max(intervalMs, kMinimumIntervalMs) * 1000000LL;
  Registry& r = TheRegistry();
  ThreadTimers& mine = MyTimers();
  std::lock_guard<std::mutex> lock(r.mutex);
  const std::uintptr_t id = r.nextId++;
  r.timers[id] = Timer{&mine, interval, NowNs() + interval, proc};
  mine.ids.insert(id);
  return id;
}

bool KillThreadTimer(std::uintptr_t id) {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> lock(r.mutex);
  auto it = r.timers.find(id);
  if (it == r.timers.end()) return false;
  it->second.owner->ids.erase(id);
  r.timers.erase(it);
  return true;
}

int PumpMessages(int timeoutMs) {
  const long long start = NowNs();
  const long long deadline = timeoutMs < 0 ? -1 : start + timeoutMs * 1000000LL;
  Registry& r = TheRegistry();
  ThreadTimers& mine = MyTimers();
  for (;;) {
    if (int ran = RunDueTimers()) return ran;
    long long next;
    {
      std::lock_guard<std::mutex> lock(r.mutex);
      next = NextDueLocked(r, mine);
    }
    const long long now = NowNs();
    if (next < 0 && deadline < 0) return 0;  // nothing could ever fall due
    if (deadline >= 0 && now >= deadline) return 0;
    long long wake = next < 0 ? deadline : (deadline < 0 ? next : std::min(next, deadline));
    if (wake > now) std::this_thread::sleep_for(std::chrono::nanoseconds(wake - now));
  }
}

bool PumpMessagesUntil(const std::function<bool()>& done, int timeoutMs) {
  const long long deadline = timeoutMs < 0 ? -1 : NowNs() + timeoutMs * 1000000LL;
  for (;;) {
    if (done()) return true;
    long long sliceMs = 10;
    if (deadline >= 0) {
      const long long left = deadline - NowNs();
      if (left <= 0) return done();
      sliceMs = std::min(sliceMs, (left + 999999) / 1000000);
    }
    PumpMessages(static_cast<int>(sliceMs));  // waits the slice when nothing falls due
  }
}

int MillisecondsUntilNextTimer() {
  Registry& r = TheRegistry();
  long long next;
  {
    std::lock_guard<std::mutex> lock(r.mutex);
    next = NextDueLocked(r, MyTimers());
  }
  if (next < 0) return -1;
  const long long left = next - NowNs();
  if (left <= 0) return 0;
  return static_cast<int>(std::min<long long>((left + 999999) / 1000000, 0x7FFFFFFF));
}

}  // namespace hux::platform
