// A periodic timer that calls a plain function from the thread's message loop.
//
// A CTimer started on a thread fires only on that thread, from its message
// loop (hux::platform::PumpMessages or PumpMessagesUntil); a thread that never
// pumps never sees its timers fire. The callback receives the data pointer
// given at construction and the milliseconds since boot. A timer is stopped
// by Stop or by its destruction, from any thread; once stopped its callback
// never runs again, and no running timer outlives its CTimer. Stop (and so
// destruction) on another thread waits for a callback of the timer that is
// under way, so the callback's data may be freed once it returns. A callback
// may stop or destroy its own timer. Two callbacks on different threads must
// not stop each other's timers: each would wait for the other.
#pragma once

#include <cstdint>

#include <hux/export.h>

namespace hux {

class HUX_API CTimer {
 public:
  using Callback = void (*)(void* data, unsigned long time);

  // Stores the interval (milliseconds; under 10 counts as 10), the callback
  // and its data. Nothing starts.
  CTimer(int interval, Callback callback, void* data);
  // Stops the timer.
  ~CTimer();
  // A copy takes the interval, callback and data but not the running timer:
  // it starts idle. Assignment stops the target's timer first.
  CTimer(const CTimer& other);
  CTimer& operator=(const CTimer& other);

  // Starts the timer on the calling thread. A running timer is stopped first,
  // so one CTimer never has two platform timers. If the platform cannot
  // create the timer, it stays idle.
  void Start();
  // Stops the timer; does nothing when it is idle. When its callback is
  // running on another thread, waits until that call has returned.
  void Stop();
  // True while started.
  bool IsRunning() const { return m_nTimerId != 0; }

 private:
  // Runs the callback of the timer listed under `id`, if any.
  static void TimerProc(std::uintptr_t id, unsigned long time);

  Callback m_pCallback;
  void* m_pData;
  std::uintptr_t m_nTimerId;
  int m_nInterval;
};

}  // namespace hux
