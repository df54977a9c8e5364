// A performance counter the test sets by hand, for the stopwatch and the frame
// profiler.
#pragma once

#include <gtest/gtest.h>

#include <hux/platform/clock.h>

namespace hux::test {

// Installs the fake counter for each test of the fixture and restores the
// monotonic clock afterwards. At(ms) sets the counter's time.
class FakeClockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Nanoseconds() = 0;
    platform::SetPerformanceCounterHook(&Read);
  }
  void TearDown() override { platform::SetPerformanceCounterHook(nullptr); }
  static void At(double ms) { Nanoseconds() = static_cast<long long>(ms * 1e6); }
  static void AtNanoseconds(long long ns) { Nanoseconds() = ns; }

 private:
  static long long& Nanoseconds() {
    static long long ns = 0;
    return ns;
  }
  static long long Read() { return Nanoseconds(); }
};

}  // namespace hux::test
