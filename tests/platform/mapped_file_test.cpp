#include <hux/platform/mapped_file.h>

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <filesystem>

#include "scratch_dir.h"

namespace hux::platform {
namespace {

TEST(FileMapping, GrowsByExactlyWhatIsAskedAndARefusalChangesNothing) {
  test::ScratchDir dir;
  GrowableFileMapping m;
  ASSERT_EQ(CreateGrowableFileMapping("grow", 100, 1 << 20, m), 0);
  const size_t capacity = m.capacity;

  EXPECT_EQ(GrowFileMapping(m, 0), 0);
  EXPECT_EQ(m.size, 100u);
  EXPECT_EQ(GrowFileMapping(m, 1), 0);
  EXPECT_EQ(m.size, 101u);
  EXPECT_EQ(std::filesystem::file_size("grow"), 101u);

  // Refused inside the file's last page: nothing may be taken from the reservation.
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  rlimit low = old;
  low.rlim_cur = 200;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &low), 0);
  const int refused = GrowFileMapping(m, 1000);
  setrlimit(RLIMIT_FSIZE, &old);
  EXPECT_EQ(refused, EFBIG);
  EXPECT_EQ(m.size, 101u);
  EXPECT_EQ(m.capacity, capacity);
  EXPECT_EQ(std::filesystem::file_size("grow"), 101u);

  ASSERT_EQ(GrowFileMapping(m, 9000), 0);
  m.base[9100] = 'x';
  EXPECT_EQ(m.size, 9101u);
  CloseFileMapping(m);
}

}  // namespace
}  // namespace hux::platform
