// mapped_malloc and mapped_free from several threads at once, from the very
// first call (which creates the region) through several growths.
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

struct Block {
  unsigned char* p;
  size_t size;
  unsigned char seed;
};

void Fill(const Block& b) {
  for (size_t i = 0; i + 1 < b.size; i += 61) b.p[i] = static_cast<unsigned char>(b.seed + i);
  b.p[b.size - 1] = b.seed;
}

bool Intact(const Block& b) {
  for (size_t i = 0; i + 1 < b.size; i += 61)
    if (b.p[i] != static_cast<unsigned char>(b.seed + i)) return false;
  return b.p[b.size - 1] == b.seed;
}

TEST(MappedMemoryThreads, ConcurrentAllocationsStayIntactThroughGrowth) {
  test::ScratchDir scratch;
  constexpr int kThreads = 4;
  std::atomic<int> ready{0};
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
          Block b{static_cast<unsigned char*>(mapped_malloc(n)), n, static_cast<unsigned char>(random())};
          Fill(b);
          live.push_back(b);
        } else {
          const size_t k = random() % live.size();
          if (!Intact(live[k])) ++damaged;
          mapped_free(live[k].p);
          live.erase(live.begin() + static_cast<std::ptrdiff_t>(k));
        }
      }
      for (const Block& b : live) {
        if (!Intact(b)) ++damaged;
        mapped_free(b.p);
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(damaged.load(), 0);
  // About 80 MiB were live at the end: the 16 MiB region grew several times.
  EXPECT_GT(std::filesystem::file_size("hux_mapped_file"), 3 * 16777216u);
}

}  // namespace
}  // namespace hux
