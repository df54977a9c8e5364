#include <hux/util/mutex.h>
#include <hux/util/singleton.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>
#include <vector>

namespace hux {
namespace {

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
