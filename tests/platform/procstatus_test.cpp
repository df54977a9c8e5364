// Process status: the private memory in use.
#include <hux/platform/procstatus.h>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

namespace hux::platform {
namespace {

TEST(ProcessStatus, PrivateMemoryGrowsWithTouchedAllocations) {
  const long long before = PrivateMemoryBytes();
  ASSERT_GT(before, 0);
  constexpr size_t kSize = 32u << 20;
  std::unique_ptr<char[]> block(new char[kSize]);
  std::memset(block.get(), 1, kSize);  // resident only once touched
  const long long after = PrivateMemoryBytes();
  EXPECT_GE(after - before, static_cast<long long>(kSize) * 9 / 10);
  EXPECT_EQ(block[kSize - 1], 1);
}

TEST(ProcessStatus, MemoryHookAnswersInstead) {
  auto previous = SetPrivateMemoryHook([] { return 5LL << 20; });
  EXPECT_EQ(PrivateMemoryBytes(), 5LL << 20);
  SetPrivateMemoryHook(previous);
  EXPECT_NE(PrivateMemoryBytes(), 5LL << 20);
}

}  // namespace
}  // namespace hux::platform
