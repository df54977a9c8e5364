// The mapped-file allocator; the region is made once per process, so each scenario runs in a fresh one.
#include <hux/object/mapped_memory.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <sys/stat.h>
#include <vector>

#include <boost/interprocess/exceptions.hpp>

#include "scratch_dir.h"

namespace hux {
namespace {

namespace fs = std::filesystem;
namespace bip = boost::interprocess;

// A failed gtest assertion would not change the child's exit code.
#define REQUIRE(cond)                                                                     \
  do {                                                                                    \
    if (!(cond)) {                                                                        \
      std::fprintf(stderr, "%s:%d: requirement failed: %s\n", __FILE__, __LINE__, #cond); \
      std::_Exit(1);                                                                      \
    }                                                                                     \
  } while (0)

void InFreshProcess(const std::function<void()>& scenario) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        test::ScratchDir scratch;
        scenario();
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "");
}

constexpr unsigned long long kMiB = 1ull << 20;
const char* const kFile = "hux_mapped_file";
unsigned long long FileSize() { return fs::file_size(kFile); }
// The file size for a first request of n bytes, and after one growth.
unsigned long long First(unsigned long long n) { return n / 1024 * 1024 + 1024 + 16 + 16 * kMiB; }
unsigned long long Grown(unsigned long long size, unsigned long long n) { return size + (size + 8) / 2 + First(n) - 16 * kMiB; }

struct Block {
  unsigned char* p;
  size_t size;
  unsigned char seed;
  bool Intact() const {
    for (size_t i = 0; i < size; ++i)
      if (p[i] != static_cast<unsigned char>(seed + i * 7)) return false;
    return true;
  }
};

Block Allocate(size_t size, unsigned char seed) {
  Block b{static_cast<unsigned char*>(mapped_malloc(size)), size, seed};
  REQUIRE(b.p != nullptr);
  for (size_t i = 0; i < size; ++i) b.p[i] = static_cast<unsigned char>(seed + i * 7);
  return b;
}

bool RefusedAsTooLarge(unsigned long long n) {
  try {
    mapped_malloc(n);
  } catch (const bip::bad_alloc&) {
    return true;
  }
  return false;
}

bool AllIntactAndDisjoint(std::vector<Block> blocks) {
  std::sort(blocks.begin(), blocks.end(), [](const Block& a, const Block& b) { return a.p < b.p; });
  for (size_t i = 0; i < blocks.size(); ++i)
    if (!blocks[i].Intact() || (i > 0 && blocks[i - 1].p + blocks[i - 1].size > blocks[i].p)) return false;
  return true;
}

// Whatever is left at the name (a file, a symbolic or a hard link to someone's file) is
// replaced by a file only the owner can read, whatever the umask; nothing is written through.
TEST(MappedMemory, FirstRequestMakesAPrivateFileAndFreedBlocksAreReused) {
  using Plant = void (*)();
  const Plant plants[] = {+[] {}, +[] { std::ofstream(kFile) << "left over"; },
                          +[] { fs::create_symlink("victim", kFile); }, +[] { fs::create_hard_link("victim", kFile); }};
  const unsigned long long requests[] = {100000, 0, 1000, 1001};
  for (int i = 0; i < 4; ++i) {
    const Plant plant = plants[i];
    const unsigned long long request = requests[i];
    InFreshProcess([plant, request] {
      ::umask(0);
      int local = 0;
      mapped_free(nullptr);
      mapped_free(&local);
      for (unsigned long long n : {~0ull, 65ull << 30}) REQUIRE(RefusedAsTooLarge(n));
      REQUIRE(!fs::exists(kFile));
      std::ofstream("victim") << "keep me";
      plant();
      Block b = Allocate(request, 1);
      const fs::file_status status = fs::symlink_status(kFile);
      REQUIRE(fs::is_regular_file(status));
      REQUIRE(status.permissions() == (fs::perms::owner_read | fs::perms::owner_write));
      REQUIRE(fs::hard_link_count(kFile) == 1);
      REQUIRE(fs::file_size("victim") == 7);
      REQUIRE(FileSize() == First(request));
      REQUIRE(b.Intact());
      REQUIRE(mapped_malloc(request) != b.p);  // zero bytes too: a block of its own
      void* a = mapped_malloc(5000);
      mapped_free(a);
      REQUIRE(mapped_malloc(5000) == a);
      std::vector<Block> blocks;
      for (int round = 0; round < 2; ++round) {
        for (const Block& old : blocks) mapped_free(old.p);
        blocks.clear();
        for (int i = 0; i < 120; ++i) blocks.push_back(Allocate(100 * 1024, static_cast<unsigned char>(i + round)));
        REQUIRE(FileSize() == First(request));
      }
      std::vector<char> heap(64);
      mapped_free(&local);
      mapped_free(heap.data());
      blocks.push_back(Allocate(3000, 9));
      REQUIRE(AllIntactAndDisjoint(blocks));
    });
  }
}

TEST(MappedMemory, GrowthKeepsEveryBlockInPlace) {
  InFreshProcess([] {
    std::vector<Block> blocks;
    unsigned long long total = 0, expected = 0;
    for (int i = 0; total < 100 * kMiB; ++i) {
      const size_t n = 1024 + (static_cast<size_t>(i) * 7919 % 700) * 1024 + static_cast<size_t>(i % 13);
      blocks.push_back(Allocate(n, static_cast<unsigned char>(i)));
      total += n;
      if (i == 0)
        expected = First(n);
      else if (FileSize() != expected)
        expected = Grown(expected, n);  // grew by the rule, exactly once
      REQUIRE(FileSize() == expected);
    }
    REQUIRE(expected > 120 * kMiB);
    REQUIRE(AllIntactAndDisjoint(blocks));
    const std::string marker = "block from the last growth, index " + std::to_string(blocks.size());
    std::memcpy(blocks.back().p, marker.data(), marker.size());
    std::ifstream in(kFile, std::ios::binary);
    const std::string file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    REQUIRE(file.find(marker) != std::string::npos);
  });
}

}  // namespace
}  // namespace hux
