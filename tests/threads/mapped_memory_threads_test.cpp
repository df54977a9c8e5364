// mapped_malloc and mapped_free from several threads, from the first call through growths.
#include <hux/object/mapped_memory.h>

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <random>
#include <thread>
#include <vector>

#include "scratch_dir.h"

namespace hux {
namespace {

struct Block {  // every 61st byte and the last hold the seed pattern
  unsigned char* p;
  size_t size;
  unsigned char seed;
  bool Intact() const {
    for (size_t i = 0; i + 1 < size; i += 61)
      if (p[i] != static_cast<unsigned char>(seed + i)) return false;
    return p[size - 1] == seed;
  }
};

TEST(MappedMemoryThreads, ConcurrentAllocationsStayIntactThroughGrowth) {
  test::ScratchDir scratch;
  constexpr int kThreads = 4;
  std::atomic<int> ready{0}, finished{0};
  std::atomic<int> damaged{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      std::mt19937 random(static_cast<unsigned>(t + 1));
      std::vector<Block> live;
      ++ready;
      while (ready.load() < kThreads) std::this_thread::yield();
      for (int i = 0; i < 1000; ++i) {
        if (live.size() < 60 || random() % 3 != 0) {
          const size_t n = 1 + random() % (128 * 1024);
          live.push_back(Block{static_cast<unsigned char*>(mapped_malloc(n)), n, static_cast<unsigned char>(random())});
          for (size_t j = 0; j + 1 < n; j += 61) live.back().p[j] = static_cast<unsigned char>(live.back().seed + j);
          live.back().p[n - 1] = live.back().seed;
          continue;
        }
        const size_t k = random() % live.size();
        if (!live[k].Intact()) ++damaged;
        mapped_free(live[k].p);
        live.erase(live.begin() + static_cast<std::ptrdiff_t>(k));
      }
      // Every thread's last blocks are live at once, however the threads were
      // scheduled, so the heap must have grown past what one thread holds.
      ++finished;
      while (finished.load() < kThreads) std::this_thread::yield();
      for (const Block& b : live) {
        if (!b.Intact()) ++damaged;
        mapped_free(b.p);
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(damaged.load(), 0);
  EXPECT_GT(std::filesystem::file_size("hux_mapped_file"), 3 * 16777216u);
}

}  // namespace
}  // namespace hux
