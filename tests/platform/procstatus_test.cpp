#include <hux/platform/procstatus.h>

#include <gtest/gtest.h>

#include <grp.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace hux::platform {
namespace {

TEST(ProcessStatus, PrivateMemoryGrowsWithTouchedAllocationsUnlessHooked) {
  const long long before = PrivateMemoryBytes();
  ASSERT_GT(before, 0);
  constexpr size_t kSize = 32u << 20;
  std::unique_ptr<char[]> block(new char[kSize]);
  std::memset(block.get(), 1, kSize);  // resident only once touched
  EXPECT_GE(PrivateMemoryBytes() - before, static_cast<long long>(kSize) * 9 / 10);
  EXPECT_EQ(block[kSize - 1], 1);
  auto previous = SetPrivateMemoryHook([] { return 5LL << 20; });
  EXPECT_EQ(PrivateMemoryBytes(), 5LL << 20);
  SetPrivateMemoryHook(previous);
  EXPECT_NE(PrivateMemoryBytes(), 5LL << 20);
}

TEST(ProcessStatus, FieldsAreReadOnlyFromTheStartOfTheirLine) {
  std::string groups = "Groups:\t";
  for (int g = 100000; g < 102500; ++g) groups += std::to_string(g) + ' ';
  const struct {
    std::string status;
    const char* field;
    long long value;
  } cases[] = {
      {"Name:\tTracerPid:\t1\nUmask:\t0022\nTracerPid:\t0\n", "TracerPid", 0},
      {"Name:\tTracerPid:\t1\nState:\tR (running)\n", "TracerPid", -1},
      {"Name:\tx\nTracerPid:\t4711\n", "TracerPid", 4711},
      {"Name:\tbig\n" + groups + "\nVmRSS:\t   2048 kB\nRssAnon:\t  1024 kB\n", "RssAnon", 1024},
      {"RssAnon:\t7 kB", "RssAnon", 7},  // first line, no line end
      {"RssAnonX:\t5 kB\nXRssAnon:\t6 kB\nRssAnon 8\n", "RssAnon", -1},
      {"RssAnon:\t kB\nRssAnon:\t3 kB\n", "RssAnon", -1},  // the first line with the field counts
      {"RssAnon:\n12 kB\n", "RssAnon", -1},                 // no value on its own line
      {"RssAnon:\t-5 kB\n", "RssAnon", -1},
      {"RssAnon:\t9223372036854775807 kB\n", "RssAnon", 9223372036854775807LL},
      {"RssAnon:\t9223372036854775808 kB\n", "RssAnon", -1},  // does not fit
      {"", "RssAnon", -1},
  };
  for (const auto& c : cases) EXPECT_EQ(ProcStatusField(c.status, c.field), c.value) << c.status.substr(0, 60);
  EXPECT_EQ(ProcStatusField(std::string_view("RssAnon:\t789", 10), "RssAnon"), 7);  // not a byte past the text
}

TEST(ProcessStatus, LongStatusFileIsReadWhole) {
  if (::geteuid() != 0) GTEST_SKIP() << "joining 2,500 groups needs root";
  EXPECT_EXIT(
      {
        std::vector<gid_t> groups;
        for (gid_t g = 100000; g < 102500; ++g) groups.push_back(g);
        if (::setgroups(groups.size(), groups.data()) != 0) std::_Exit(2);
        std::_Exit(PrivateMemoryBytes() > 0 ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace hux::platform
