#include <hux/util/stopwatch.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <thread>
#include <vector>

#include <hux/platform/clock.h>
#include <hux/platform/timers.h>
#include <hux/util/mutex.h>
#include <hux/util/singleton.h>
#include <hux/util/timer.h>

#include "fake_clock.h"

namespace hux {
namespace {

using FakeClock = test::FakeClockTest;

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

using std::chrono::milliseconds;

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

TEST(Mutex, RecursiveForItsOwnerSerialisesThreadsAndACopyIsSeparate) {
  CMutex mutex;
  mutex.Lock();
  CMutex copy(mutex);  // free although the original is held by this thread
  auto free = std::async(std::launch::async, [&] { CLock lock(copy); });
  EXPECT_EQ(free.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  long counter = 0;  // deliberately not atomic: only the lock protects it
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 20000; ++i) {
        CLock lock(mutex);
        CLock again(mutex);  // would deadlock on a non-recursive mutex
        ++counter;
      }
    });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(counter, 0);  // held by this thread: the others wait
  mutex.Unlock();
  for (auto& t : threads) t.join();
  EXPECT_EQ(counter, 80000);
}

struct Counted : CSingleton<Counted> {
  Counted() { ++constructed; }
  static std::atomic<int> constructed;
};
std::atomic<int> Counted::constructed{0};

TEST(Singleton, CreatedOnceOnFirstUseFromAnyThread) {
  EXPECT_EQ(Counted::constructed, 0);
  std::vector<std::thread> threads;
  std::vector<Counted*> seen(4);
  for (int t = 0; t < 4; ++t) threads.emplace_back([&, t] { seen[t] = &CSingleton<Counted>::GetInstance(); });
  for (auto& t : threads) t.join();
  EXPECT_EQ(Counted::constructed, 1);
  EXPECT_EQ(seen, std::vector<Counted*>(4, CSingleton<Counted>::GetInstancePtr()));
}

}  // namespace
}  // namespace hux
