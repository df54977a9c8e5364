// A millisecond stopwatch over the high-resolution performance counter.
//
// CStopwatch::GetTickCount is the clock of the stopwatch and of the frame
// profiler: whole milliseconds of the platform's performance counter (the
// monotonic clock, or a test's fake counter installed through
// hux::platform::SetPerformanceCounterHook). A stopwatch object belongs to one
// thread at a time; GetTickCount may be called from any thread.
#pragma once

#include <hux/export.h>

namespace hux {

class HUX_API CStopwatch {
 public:
  // Stopped, with elapsed time and start 0.
  CStopwatch();

  // The performance counter in whole milliseconds (truncated), or 0 when the
  // counter frequency cannot be read. `long` is 64 bits here, so the value
  // does not wrap after 24.8 days as a 32-bit count would.
  static long GetTickCount();
  // GetTickCount for a performance counter value the caller has just read
  // (platform::PerformanceCounter), for callers that need the counter's
  // reading for something else too.
  static long TicksFromCounter(long long counter);

  // Starts measuring; does nothing while running.
  void Start();
  // Stops and records the milliseconds since Start (replacing, not adding to,
  // the previous measurement); does nothing while stopped.
  void Stop();
  // Stops if running, clears the measurement and starts again.
  void Restart();
  // Stops and clears the measurement.
  void Reset();
  // The duration recorded by the last Stop (0 after construction, Reset or
  // Restart); not updated while running.
  long GetElapsedMilliseconds() const { return m_nElapsed; }
  bool IsRunning() const { return m_bRunning; }

 private:
  long m_nElapsed;
  bool m_bRunning;
  long m_nStart;
};

}  // namespace hux
