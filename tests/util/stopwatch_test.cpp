// The stopwatch and its millisecond clock, on a fake performance counter.
#include <hux/util/stopwatch.h>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "fake_clock.h"

namespace hux {
namespace {

using FakeClock = test::FakeClockTest;

TEST_F(FakeClock, TickCountTruncatesToWholeMilliseconds) {
  const struct {
    long long ns;
    long ms;
  } cases[] = {
      {0, 0},           {999999, 0},          {1000000, 1},          {29999999, 29},
      {30000000, 30},   {1000000000, 1000},   {1234567890123, 1234567},
      // Beyond 2^31 ms (24.8 days) the count goes on instead of wrapping.
      {2147483648000000LL, 2147483648L},
      // A hook's counter before its origin truncates towards zero too.
      {-999999, 0},     {-1000000, -1},       {-2500000, -2},
  };
  for (const auto& c : cases) {
    AtNanoseconds(c.ns);
    EXPECT_EQ(CStopwatch::GetTickCount(), c.ms) << c.ns;
  }
}

TEST_F(FakeClock, StopRecordsTheLastIntervalOnly) {
  CStopwatch watch;
  At(100);
  watch.Start();
  At(130);
  watch.Stop();
  EXPECT_EQ(watch.GetElapsedMilliseconds(), 30);
  At(200);
  watch.Start();
  At(205);
  EXPECT_EQ(watch.GetElapsedMilliseconds(), 30);  // not updated while running
  watch.Start();                                  // ignored while running
  At(210);
  watch.Stop();
  EXPECT_EQ(watch.GetElapsedMilliseconds(), 10);  // replaced, not 40
  watch.Stop();                                   // ignored while stopped
  EXPECT_EQ(watch.GetElapsedMilliseconds(), 10);
}

TEST_F(FakeClock, ResetStopsAndRestartRunsFromZero) {
  CStopwatch watch;
  At(0);
  watch.Start();
  At(50);
  watch.Reset();
  EXPECT_FALSE(watch.IsRunning());
  EXPECT_EQ(watch.GetElapsedMilliseconds(), 0);
  At(60);
  watch.Stop();  // stopped by Reset: nothing recorded
  EXPECT_EQ(watch.GetElapsedMilliseconds(), 0);

  watch.Start();
  At(80);
  watch.Stop();
  EXPECT_EQ(watch.GetElapsedMilliseconds(), 20);
  At(90);
  watch.Restart();
  EXPECT_TRUE(watch.IsRunning());
  EXPECT_EQ(watch.GetElapsedMilliseconds(), 0);
  At(97);
  watch.Stop();
  EXPECT_EQ(watch.GetElapsedMilliseconds(), 7);
}

TEST(Stopwatch, MeasuresRealTime) {
  CStopwatch watch;
  watch.Start();
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  watch.Stop();
  EXPECT_GE(watch.GetElapsedMilliseconds(), 29);
  EXPECT_LT(watch.GetElapsedMilliseconds(), 1000);
}

}  // namespace
}  // namespace hux
