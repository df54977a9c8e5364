// Thread timers and the per-thread message loop of the platform layer.
//
// A thread timer belongs to the thread that created it and fires only from
// that thread's own message loop: PumpMessages (or PumpMessagesUntil) runs the
// callbacks of the calling thread's timers that have fallen due. A thread that
// never pumps never sees its timers fire. A timer that fell due several times
// since the last pump fires once (like a timer message, which is not queued
// twice). A host with an event loop of its own calls PumpMessages(0) from it,
// when MillisecondsUntilNextTimer says a timer is due.
//
// Timers may be killed from any thread; the timers a thread leaves behind when
// it ends are killed with it.
#pragma once

#include <cstdint>
#include <functional>

#include <hux/export.h>

namespace hux::platform {

// The callback of a thread timer: its id and the milliseconds since boot at
// dispatch.
using ThreadTimerProc = void (*)(std::uintptr_t id, unsigned long timeMs);

// Creates a periodic timer of the calling thread; it first falls due after
// `intervalMs` milliseconds (values under 10 count as 10). Returns its id,
// never 0, or 0 when `proc` is null.
HUX_API std::uintptr_t SetThreadTimer(int intervalMs, ThreadTimerProc proc);
// Removes a timer (from any thread). False when no timer has this id. A
// timer killed on its own thread never fires again, even if it was due. On
// another thread the kill does not wait: a callback under way, or one whose
// dispatch has just begun, still runs once (CTimer::Stop waits for it).
HUX_API bool KillThreadTimer(std::uintptr_t id);

// Runs every due timer of the calling thread. When none is due, waits up to
// `timeoutMs` milliseconds (negative: as long as the thread has timers) for
// the first to fall due and runs the due ones then. Returns the number of
// callbacks run (0 after the time-out, or at once when the thread has no
// timers and the wait is unbounded).
HUX_API int PumpMessages(int timeoutMs);
// Pumps the calling thread's timers until `done` returns true (checked before
// each pump and at least every 10 ms) or `timeoutMs` has passed (negative:
// no limit). Returns the last answer of `done`.
HUX_API bool PumpMessagesUntil(const std::function<bool()>& done, int timeoutMs);
// Milliseconds until the calling thread's next timer falls due (0 when one is
// due now), or -1 when the thread has no timers.
HUX_API int MillisecondsUntilNextTimer();

}  // namespace hux::platform
