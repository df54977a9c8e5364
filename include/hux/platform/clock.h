// Clocks of the platform layer: the performance counter, the processor's
// time-stamp counter and the milliseconds since boot.
//
// The performance counter is the monotonic clock in nanoseconds; the stopwatch
// and the frame profiler read it. The time-stamp counter (`rdtsc`) is the
// call-tree profiler's cheap clock; its frequency is measured once against the
// monotonic clock. Both counters can be replaced by a hook, for tests that need
// a clock they control. Hooks are plain function pointers, read on every call
// (atomically, so installing one while other threads read is safe); install
// them while no measurement relies on the previous clock.
#pragma once

#include <hux/export.h>

namespace hux::platform {

// ---- performance counter ----
// The current counter value: nanoseconds of the monotonic clock, or the value
// of the installed hook.
HUX_API long long PerformanceCounter();
// Counts per second of PerformanceCounter (1 000 000 000).
HUX_API long long PerformanceFrequency();
using PerformanceCounterHook = long long (*)();
// Installs a counter in nanoseconds; null restores the monotonic clock.
// Returns the previous hook (null for the default).
HUX_API PerformanceCounterHook SetPerformanceCounterHook(PerformanceCounterHook hook);

// ---- monotonic clock ----
// Nanoseconds of the monotonic clock itself (never the hook's value).
HUX_API long long MonotonicNanoseconds();
// PerformanceCounter() and MonotonicNanoseconds() of one moment. Without a
// hook both are the same single read of the monotonic clock, so a caller that
// needs the counter and also times itself pays one read; with a hook, the
// clock is read first and then the hook.
struct CounterReading {
  long long counter;
  long long monotonicNs;
};
HUX_API CounterReading ReadPerformanceCounterWithClock();

// ---- time-stamp counter ----
// The processor's time-stamp counter (`rdtsc`), or the hook's value.
HUX_API unsigned long long ReadTimeStampCounter();
// Ticks per second of ReadTimeStampCounter. The first call measures the
// counter against the monotonic clock over an interval of at least 20 ms
// counted from the library's load (it sleeps for what is missing); later calls
// return the same value. 0 when the counter cannot be measured. With a hook
// installed, the frequency given with the hook.
HUX_API long long TimeStampCounterFrequency();
using TimeStampCounterHook = unsigned long long (*)();
// Installs a counter and its frequency; a null hook restores the processor's
// counter. Returns the previous hook (null for the default).
HUX_API TimeStampCounterHook SetTimeStampCounterHook(TimeStampCounterHook hook, long long frequencyHz);

// ---- system time ----
// Milliseconds since the system booted (suspend included), the time a timer
// callback receives.
HUX_API unsigned long MillisecondsSinceBoot();

}  // namespace hux::platform
