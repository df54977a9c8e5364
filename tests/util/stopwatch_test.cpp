#include <hux/util/stopwatch.h>

#include <gtest/gtest.h>

#include "fake_clock.h"

namespace hux {
namespace {

using FakeClock = test::FakeClockTest;

TEST_F(FakeClock, TickCountTruncatesToWholeMilliseconds) {
  const struct {
    long long ns;
    long ms;
  } cases[] = {
      {0, 0}, {999999, 0}, {1000000, 1}, {29999999, 29}, {1234567890123, 1234567},
      {2147483648000000LL, 2147483648L},  // beyond 2^31 ms the count goes on instead of wrapping
      {-999999, 0}, {-1000000, -1}, {-2500000, -2},  // before the origin: towards zero too
  };
  for (const auto& c : cases) {
    AtNanoseconds(c.ns);
    EXPECT_EQ(CStopwatch::GetTickCount(), c.ms) << c.ns;
  }
}

TEST_F(FakeClock, StopRecordsTheLastIntervalOnly) {
  enum Action { kStart, kStop, kReset, kRestart };
  const struct {
    double at;
    Action action;
    long elapsed;
    bool running;
  } steps[] = {
      {100, kStart, 0, true},    {130, kStop, 30, false},
      {200, kStart, 30, true},   // not updated while running
      {205, kStart, 30, true},   // ignored while running
      {210, kStop, 10, false},   // replaced, not 40
      {220, kStop, 10, false},   // ignored while stopped
      {230, kStart, 10, true},   {250, kReset, 0, false},
      {260, kStop, 0, false},    // stopped by Reset: nothing recorded
      {260, kStart, 0, true},    {280, kStop, 20, false},
      {290, kRestart, 0, true},  {297, kStop, 7, false},
  };
  CStopwatch watch;
  for (const auto& s : steps) {
    At(s.at);
    switch (s.action) {
      case kStart: watch.Start(); break;
      case kStop: watch.Stop(); break;
      case kReset: watch.Reset(); break;
      case kRestart: watch.Restart(); break;
    }
    EXPECT_EQ(watch.GetElapsedMilliseconds(), s.elapsed) << s.at;
    EXPECT_EQ(watch.IsRunning(), s.running) << s.at;
  }
}

}  // namespace
}  // namespace hux
