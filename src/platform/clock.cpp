// Performance counter, time-stamp counter and boot time.
#include <hux/platform/clock.h>

#include <time.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#if defined(__x86_64__) || defined(__i386__)
#include <x86intrin.h>
#define HUX_HAVE_RDTSC 1
#endif

namespace hux::platform {

namespace {

long long ClockNanoseconds(clockid_t clock) {
  timespec ts{};
  ::clock_gettime(clock, &ts);
  return static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

unsigned long long ProcessorCounter() {
#ifdef HUX_HAVE_RDTSC
  return __rdtsc();
#else
  return 0;
#endif
}

std::atomic<PerformanceCounterHook> g_counterHook{nullptr};
std::atomic<TimeStampCounterHook> g_tscHook{nullptr};
std::atomic<long long> g_tscHookFrequency{0};

// The first reading of the frequency measurement, taken at load so that the
// measuring interval has usually passed by the time anyone asks.
struct TscOrigin {
  unsigned long long tsc = ProcessorCounter();
  long long ns = ClockNanoseconds(CLOCK_MONOTONIC);
};
const TscOrigin g_tscOrigin;

constexpr long long kMeasureNs = 20000000;  // 20 ms

long long MeasureTscFrequency() {
#ifdef HUX_HAVE_RDTSC
  long long ns = ClockNanoseconds(CLOCK_MONOTONIC);
  if (ns - g_tscOrigin.ns < kMeasureNs) {
    std::this_thread::sleep_for(std::chrono::nanoseconds(kMeasureNs - (ns - g_tscOrigin.ns)));
  }
  const unsigned long long tsc = ProcessorCounter();
  ns = ClockNanoseconds(CLOCK_MONOTONIC);
  const long long spanNs = ns - g_tscOrigin.ns;
  if (spanNs <= 0 || tsc <= g_tscOrigin.tsc) return 0;
  const long double hz = static_cast<long double>(tsc - g_tscOrigin.tsc) * 1e9L / spanNs;
  return static_cast<long long>(hz + 0.5L);
#else
  return 0;
#endif
}

}  // namespace

long long PerformanceCounter() {
  if (PerformanceCounterHook hook = g_counterHook.load(std::memory_order_acquire)) return hook();
  return ClockNanoseconds(CLOCK_MONOTONIC);
}

long long PerformanceFrequency() { return 1000000000LL; }

long long MonotonicNanoseconds() { return ClockNanoseconds(CLOCK_MONOTONIC); }

CounterReading ReadPerformanceCounterWithClock() {
  const long long ns = ClockNanoseconds(CLOCK_MONOTONIC);
  if (PerformanceCounterHook hook = g_counterHook.load(std::memory_order_acquire)) return {hook(), ns};
  return {ns, ns};
}

PerformanceCounterHook SetPerformanceCounterHook(PerformanceCounterHook hook) {
  return g_counterHook.exchange(hook, std::memory_order_acq_rel);
}

unsigned long long ReadTimeStampCounter() {
  if (TimeStampCounterHook hook = g_tscHook.load(std::memory_order_acquire)) return hook();
  return ProcessorCounter();
}

long long TimeStampCounterFrequency() {
  if (g_tscHook.load(std::memory_order_acquire)) return g_tscHookFrequency.load(std::memory_order_acquire);
  static std::once_flag once;
  static long long frequency = 0;
  std::call_once(once, [] { frequency = MeasureTscFrequency(); });
  return frequency;
}

TimeStampCounterHook SetTimeStampCounterHook(TimeStampCounterHook hook, long long frequencyHz) {
  g_tscHookFrequency.store(hook ? frequencyHz : 0, std::memory_order_release);
  return g_tscHook.exchange(hook, std::memory_order_acq_rel);
}

unsigned long MillisecondsSinceBoot() {
  return static_cast<unsigned long>(ClockNanoseconds(CLOCK_BOOTTIME) / 1000000);
}

}  // namespace hux::platform
