// GMemStream bounds: owned buffers clamp their position, a caller's buffer is
// never read or written outside.
#include <hux/io/memstream.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace hux {
namespace {

TEST(MemStream, SeekClampsOnlyOwnedBuffersAndACallerBufferIsNeverWrittenOutside) {
  GMemStream owned(true, nullptr, 0), empty;
  char area[24];
  std::memset(area, 'G', sizeof area);  // guard bytes around an 8-byte window
  GMemStream caller(true, area + 8, 8);
  const struct {
    GMemStream* mem;
    __int64 to, pos;
  } cases[] = {
      {&owned, -5, 0}, {&owned, 1000, 199}, {&owned, 200, 199},
      {&empty, 7, 0},  // capacity 0: the only safe position is 0
      {&caller, -5, -5}, {&caller, 1000, 1000},
  };
  char data[16];
  std::memset(data, 'D', sizeof data);
  unsigned char out[1] = {1};
  for (const auto& c : cases) {
    c.mem->seek(c.to);
    EXPECT_EQ(c.mem->pos(), c.pos) << c.to;
    if (c.mem == &caller) {
      EXPECT_FALSE(caller.Write(data, 1) || caller.Read(out, 1)) << c.to;
    }
  }
  caller.seek(0);
  EXPECT_TRUE(caller.Write(data, 6));
  EXPECT_FALSE(caller.Write(data, 3)) << "would pass the end";
  EXPECT_TRUE(caller.Write(data, 2)) << "exactly to the end";
  EXPECT_EQ(std::string(area, 8) + std::string(area + 16, 8), std::string(16, 'G'));
}

}  // namespace
}  // namespace hux
