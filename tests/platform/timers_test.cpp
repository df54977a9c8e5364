#include <hux/platform/timers.h>

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <thread>

#include <hux/platform/clock.h>

namespace hux::platform {
namespace {

using std::chrono::milliseconds;

thread_local std::map<std::uintptr_t, int> t_fired;
thread_local unsigned long t_lastTime = 0;

void Count(std::uintptr_t id, unsigned long time) {
  ++t_fired[id];
  t_lastTime = time;
}

TEST(ThreadTimer, FiresOnlyWhenItsThreadPumps) {
  t_fired.clear();
  const std::uintptr_t id = SetThreadTimer(10, &Count);
  ASSERT_NE(id, 0u);
  std::this_thread::sleep_for(milliseconds(35));
  EXPECT_EQ(t_fired[id], 0);  // due three times, but nobody pumped
  std::thread([] { EXPECT_EQ(PumpMessages(30), 0); }).join();
  EXPECT_EQ(t_fired[id], 0);
  EXPECT_EQ(PumpMessages(0), 1);
  EXPECT_EQ(t_fired[id], 1);
  EXPECT_NEAR(static_cast<double>(t_lastTime), static_cast<double>(MillisecondsSinceBoot()), 50.0);
  EXPECT_EQ(PumpMessages(0), 0);
  const int next = MillisecondsUntilNextTimer();
  EXPECT_TRUE(next >= 1 && next <= 10) << next;
  EXPECT_EQ(PumpMessages(1000), 1);
  EXPECT_EQ(t_fired[id], 2);
  EXPECT_TRUE(KillThreadTimer(id));
  EXPECT_FALSE(KillThreadTimer(id));
  EXPECT_EQ(MillisecondsUntilNextTimer(), -1);
  std::uintptr_t ended = 0;
  std::thread([&] { ended = SetThreadTimer(10, &Count); }).join();
  EXPECT_FALSE(KillThreadTimer(ended));
  EXPECT_EQ(SetThreadTimer(10, nullptr), 0u);
}

TEST(MessageLoop, WaitsForTheTimeOutAndStopsWhenDone) {
  EXPECT_EQ(PumpMessages(-1), 0);
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(PumpMessages(25), 0);
  EXPECT_GE(std::chrono::steady_clock::now() - t0, milliseconds(25));

  t_fired.clear();
  const std::uintptr_t id = SetThreadTimer(10, &Count);
  EXPECT_TRUE(PumpMessagesUntil([&] { return t_fired[id] >= 3; }, 5000));
  EXPECT_EQ(t_fired[id], 3);
  KillThreadTimer(id);

  t0 = std::chrono::steady_clock::now();
  EXPECT_FALSE(PumpMessagesUntil([] { return false; }, 30));
  EXPECT_GE(std::chrono::steady_clock::now() - t0, milliseconds(30));
}

}  // namespace
}  // namespace hux::platform
