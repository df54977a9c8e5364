// The message-loop timer: callbacks from the starting thread's loop only, and
// no timer left behind by Stop, a second Start, a copy or destruction.
#include <hux/util/timer.h>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

#include <hux/platform/clock.h>
#include <hux/platform/timers.h>

namespace hux {
namespace {

using std::chrono::milliseconds;

struct Seen {
  int calls = 0;
  unsigned long time = 0;
  CTimer* stopOther = nullptr;
};

void Record(void* data, unsigned long time) {
  auto* seen = static_cast<Seen*>(data);
  ++seen->calls;
  seen->time = time;
  if (seen->stopOther) seen->stopOther->Stop();
}

TEST(Timer, CallsBackWithDataAndBootTimeFromTheLoop) {
  Seen seen;
  CTimer timer(10, &Record, &seen);
  EXPECT_FALSE(timer.IsRunning());
  timer.Start();
  EXPECT_TRUE(timer.IsRunning());
  EXPECT_TRUE(platform::PumpMessagesUntil([&] { return seen.calls >= 2; }, 5000));
  EXPECT_NEAR(static_cast<double>(seen.time), static_cast<double>(platform::MillisecondsSinceBoot()), 50.0);
  timer.Stop();
  EXPECT_FALSE(timer.IsRunning());
  const int calls = seen.calls;
  EXPECT_EQ(platform::PumpMessages(30), 0);
  EXPECT_EQ(seen.calls, calls);
  timer.Stop();  // stopping twice is harmless
}

TEST(Timer, NeverStartedStopDoesNothing) {
  Seen seen;
  CTimer timer(10, &Record, &seen);
  timer.Stop();
  EXPECT_EQ(platform::MillisecondsUntilNextTimer(), -1);
}

TEST(Timer, SecondStartReplacesTheRunningTimer) {
  Seen seen;
  CTimer timer(10, &Record, &seen);
  timer.Start();
  timer.Start();
  timer.Stop();
  // Had the first platform timer survived, the thread would still have one.
  EXPECT_EQ(platform::MillisecondsUntilNextTimer(), -1);
}

TEST(Timer, DestructionStopsEvenOnAnotherThread) {
  Seen seen;
  auto timer = std::make_unique<CTimer>(10, &Record, &seen);
  timer->Start();
  std::this_thread::sleep_for(milliseconds(15));  // due now
  std::thread([&] { timer.reset(); }).join();
  EXPECT_EQ(platform::PumpMessages(30), 0);  // a dangling timer would call into freed memory
  EXPECT_EQ(seen.calls, 0);
  EXPECT_EQ(platform::MillisecondsUntilNextTimer(), -1);
}

TEST(Timer, StoppedByAnEarlierCallbackDoesNotRun) {
  Seen first, second;
  CTimer a(10, &Record, &first);
  CTimer b(10, &Record, &second);
  first.stopOther = &b;
  a.Start();
  b.Start();
  std::this_thread::sleep_for(milliseconds(15));  // both due; a was started first
  EXPECT_EQ(platform::PumpMessages(0), 1);
  EXPECT_EQ(first.calls, 1);
  EXPECT_EQ(second.calls, 0);
}

TEST(Timer, CopyStartsIdleAndAssignmentStopsTheTarget) {
  Seen seen, other;
  CTimer timer(10, &Record, &seen);
  timer.Start();
  CTimer copy(timer);
  EXPECT_FALSE(copy.IsRunning());
  CTimer target(20, &Record, &other);
  target.Start();
  target = timer;
  EXPECT_FALSE(target.IsRunning());
  timer.Stop();
  EXPECT_EQ(platform::MillisecondsUntilNextTimer(), -1);
  // The assigned timer calls back the source's function with its data.
  target.Start();
  EXPECT_TRUE(platform::PumpMessagesUntil([&] { return seen.calls >= 1; }, 5000));
  EXPECT_EQ(other.calls, 0);
}

}  // namespace
}  // namespace hux
