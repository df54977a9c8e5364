#pragma once

#include <gtest/gtest.h>

#include <hux/platform/clock.h>

namespace hux::test {

// Installs a hand-set performance counter for each test; At(ms) sets its time.
class FakeClockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    s_ns = 0;
    platform::SetPerformanceCounterHook(&Read);
  }
  void TearDown() override { platform::SetPerformanceCounterHook(nullptr); }
  static void At(double ms) { s_ns = static_cast<long long>(ms * 1e6); }
  static void AtNanoseconds(long long ns) { s_ns = ns; }

 private:
  static long long Read() { return s_ns; }
  static inline long long s_ns = 0;
};

}  // namespace hux::test
