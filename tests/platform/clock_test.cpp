#include <hux/platform/clock.h>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <thread>

namespace hux::platform {
namespace {

long long FakeNs() { return 123456789; }
unsigned long long FakeTicks() { return 42; }

TEST(Clocks, CountersFrequenciesHooksAndBootTime) {
  EXPECT_EQ(PerformanceFrequency(), 1000000000LL);
  EXPECT_EQ(SetPerformanceCounterHook(&FakeNs), nullptr);
  EXPECT_EQ(PerformanceCounter(), 123456789);
  EXPECT_EQ(SetPerformanceCounterHook(nullptr), &FakeNs);
  std::ifstream uptime("/proc/uptime");
  double seconds = 0;
  ASSERT_TRUE(uptime >> seconds);
  EXPECT_NEAR(static_cast<double>(MillisecondsSinceBoot()), seconds * 1000.0, 2000.0);

  const long long hz = TimeStampCounterFrequency();
  ASSERT_GT(hz, 0) << "this machine has an x86 time-stamp counter";
  EXPECT_EQ(TimeStampCounterFrequency(), hz);  // measured once
  const unsigned long long t0 = ReadTimeStampCounter();
  const auto n0 = std::chrono::steady_clock::now();
  const long long p0 = PerformanceCounter();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  const double ticks = static_cast<double>(ReadTimeStampCounter() - t0);
  const double ns = std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - n0).count();
  EXPECT_NEAR(static_cast<double>(PerformanceCounter() - p0), ns, 5e6);
  EXPECT_NEAR(ticks * 1e9 / ns / static_cast<double>(hz), 1.0, 0.05);

  EXPECT_EQ(SetTimeStampCounterHook(&FakeTicks, 1000), nullptr);
  EXPECT_EQ(ReadTimeStampCounter(), 42u);
  EXPECT_EQ(TimeStampCounterFrequency(), 1000);
  EXPECT_EQ(SetTimeStampCounterHook(nullptr, 0), &FakeTicks);
  EXPECT_EQ(TimeStampCounterFrequency(), hz);
  EXPECT_NE(ReadTimeStampCounter(), 42u);
}

}  // namespace
}  // namespace hux::platform
