// The engine's open-addressing index against std::unordered_map, with colliding hashes.
#include "../../src/regen/flat_index.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <unordered_map>

namespace hux::regen_detail {
namespace {

std::uint64_t offset = 0;
struct FewBuckets {
  std::size_t operator()(std::uint64_t key) const { return key % 7 + offset; }
};
struct Identity {
  std::size_t operator()(std::uint64_t key) const { return key; }
};
struct Same {
  bool operator()(std::uint64_t a, std::uint64_t b) const { return a == b; }
};

template <class Hash>
void CompareWithReference(std::uint64_t seed, std::uint64_t keys, int steps) {
  std::mt19937_64 random(seed);
  FlatIndex<std::uint64_t, std::uint64_t, Hash, Same> index;
  std::unordered_map<std::uint64_t, std::uint64_t> reference;
  for (int step = 0; step < steps; ++step) {
    std::uint64_t const key = random() % keys;
    std::uint64_t const op = random() % 4;
    if (op < 2) {
      std::uint64_t const value = random();
      index.Put(key, value);
      reference[key] = value;
    } else if (op == 2) {
      index.Erase(key);
      reference.erase(key);
    } else {
      std::uint64_t* found = index.Find(key);
      auto it = reference.find(key);
      ASSERT_EQ(found != nullptr, it != reference.end()) << "step " << step;
      ASSERT_TRUE(found == nullptr || *found == it->second) << "step " << step;
    }
    ASSERT_EQ(index.Size(), reference.size());
    if (step % 5000 != 4999) continue;
    for (auto const& [k, v] : reference) ASSERT_EQ(*index.Find(k), v);
    if (step == steps / 2 - 1) {
      index.Clear();
      reference.clear();
    }
  }
}

TEST(FlatIndex, MatchesAHashMapThroughInsertsAndErasures) {
  CompareWithReference<FewBuckets>(1, 3000, 100000);
  CompareWithReference<Identity>(2, 3000, 100000);
  for (offset = 1; offset < 64; ++offset) CompareWithReference<FewBuckets>(offset, 60, 10000);
  offset = 0;
}

}  // namespace
}  // namespace hux::regen_detail
