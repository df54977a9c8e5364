#include <hux/util/timer.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include <hux/platform/clock.h>
#include <hux/platform/timers.h>

namespace hux {
namespace {

using std::chrono::milliseconds;

struct Seen {
  int calls = 0;
  unsigned long time = 0;
};

void Record(void* data, unsigned long time) {
  auto* seen = static_cast<Seen*>(data);
  ++seen->calls;
  seen->time = time;
}

TEST(Timer, CallsBackUntilStoppedCopiedOrDestroyed) {
  Seen seen, other;
  CTimer timer(10, &Record, &seen);
  timer.Stop();  // never started: nothing to do
  timer.Start();
  timer.Start();  // replaces the running timer
  EXPECT_TRUE(platform::PumpMessagesUntil([&] { return seen.calls >= 2; }, 5000));
  EXPECT_NEAR(static_cast<double>(seen.time), static_cast<double>(platform::MillisecondsSinceBoot()), 50.0);
  EXPECT_FALSE(CTimer(timer).IsRunning());
  CTimer target(20, &Record, &other);
  target.Start();
  target = timer;
  timer.Stop();
  EXPECT_EQ(platform::MillisecondsUntilNextTimer(), -1);
  auto owned = std::make_unique<CTimer>(10, &Record, &other);
  owned->Start();
  std::this_thread::sleep_for(milliseconds(15));  // due now
  std::thread([&] { owned.reset(); }).join();
  EXPECT_EQ(platform::PumpMessages(30), 0);  // a dangling timer would call into freed memory
  EXPECT_EQ(other.calls, 0);
}

// Stop must wait for a callback under way; the threads sweep in opposite orders to meet one.
struct Busy {
  int calls = 0;
  bool stopped = false;
};
std::atomic<int> g_late{0};

void Work(void* data, unsigned long) {
  auto* busy = static_cast<Busy*>(data);
  std::this_thread::sleep_for(std::chrono::microseconds(50));
  if (busy->stopped) ++g_late;
  ++busy->calls;
}

TEST(Timer, StopFromAnotherThreadWaitsForTheCallback) {
  constexpr int kTimers = 200;
  for (int round = 0; round < 10; ++round) {
    std::vector<std::unique_ptr<Busy>> data;
    std::vector<std::unique_ptr<CTimer>> timers;
    for (int i = 0; i < kTimers; ++i) {
      data.push_back(std::make_unique<Busy>());
      timers.push_back(std::make_unique<CTimer>(10, &Work, data.back().get()));
    }
    std::atomic<bool> started{false}, done{false};
    std::thread loop([&] {
      for (auto& t : timers) t->Start();
      started = true;
      platform::PumpMessagesUntil([&] { return done.load(); }, -1);
    });
    while (!started) std::this_thread::yield();
    std::this_thread::sleep_for(milliseconds(12));
    for (int i = kTimers - 1; i >= 0; --i) {
      if (i % 2)
        timers[i]->Stop();
      else
        timers[i].reset();
      data[i]->stopped = true;
      if (i % 2) data[i].reset();
    }
    done = true;
    loop.join();
  }
  EXPECT_EQ(g_late.load(), 0);
}

}  // namespace
}  // namespace hux
