// The stopwatch and its millisecond clock.
#include <hux/util/stopwatch.h>

#include <atomic>
#include <climits>

#include <hux/platform/clock.h>

namespace hux {

namespace {

// Clock state shared by every caller. The frequency is read on the first call
// and again on the first call after each further five seconds of counter
// time (kept as the counter value after which to read it: a comparison per
// call, no division). Atomics make concurrent refreshes harmless.
std::atomic<long long> g_frequency{0};
std::atomic<long long> g_nextCheck{0};

}  // namespace

long CStopwatch::GetTickCount() { return TicksFromCounter(platform::PerformanceCounter()); }

long CStopwatch::TicksFromCounter(long long counter) {
  long long frequency = g_frequency.load(std::memory_order_relaxed);
  if (frequency <= 0 || counter > g_nextCheck.load(std::memory_order_relaxed)) {
    frequency = platform::PerformanceFrequency();
    g_frequency.store(frequency, std::memory_order_relaxed);
    if (frequency <= 0) return 0;
    const long long span = frequency > LLONG_MAX / 5 ? LLONG_MAX : 5 * frequency;
    g_nextCheck.store(counter > LLONG_MAX - span ? LLONG_MAX : counter + span, std::memory_order_relaxed);
  }
  // The counter of this platform counts nanoseconds: a division by a constant
  // is a multiplication, where the general form below needs two divisions.
  // Both truncate towards zero alike, also for a hook's negative values.
  if (frequency == 1000000000LL) return static_cast<long>(counter / 1000000);
  // Integer arithmetic: the double product of seconds and 1000 can land just
  // below a whole millisecond (0.03 * 1000 is 29.999...) and lose it.
  const long long whole = counter / frequency;
  const long long rest = counter % frequency;
  return static_cast<long>(whole * 1000 + rest * 1000 / frequency);
}

CStopwatch::CStopwatch() : m_nElapsed(0), m_bRunning(false), m_nStart(0) {}

void CStopwatch::Start() {
  if (m_bRunning) return;
  m_nStart = GetTickCount();
  m_bRunning = true;
}

void CStopwatch::Stop() {
  if (!m_bRunning) return;
  m_bRunning = false;
  m_nElapsed = GetTickCount() - m_nStart;
}

void CStopwatch::Restart() {
  if (m_bRunning) Stop();
  m_nElapsed = 0;
  m_nStart = 0;
  Start();
}

void CStopwatch::Reset() {
  m_nElapsed = 0;
  m_nStart = 0;
  m_bRunning = false;
}

}  // namespace hux
