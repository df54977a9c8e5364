#pragma once

#include <gtest/gtest.h>

#include <hux/platform/clock.h>

namespace hux::test {

// Installs a hand-set performance counter for each test; At(ms) sets its time.
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
