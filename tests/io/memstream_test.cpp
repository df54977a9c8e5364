// GMemStream growth, bounds and ownership.
#include <hux/io/memstream.h>

#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

namespace hux {
namespace {

TEST(MemStream, GrowthFollowsDoublingOrNeededPlusOne) {
  const struct {
    bool defaultConstructed;  // else GMemStream(true, nullptr, 0): 200 bytes
    std::vector<unsigned int> writes;
    unsigned int capacity;
  } cases[] = {
      {false, {199}, 200}, {false, {199, 1}, 400}, {false, {300}, 400}, {false, {500}, 501},
      {true, {1}, 2},      {true, {1, 1}, 4},
  };
  std::vector<char> src(1000, 'x');
  for (const auto& c : cases) {
    GMemStream mem = c.defaultConstructed ? GMemStream() : GMemStream(true, nullptr, 0);
    for (unsigned int n : c.writes) ASSERT_TRUE(mem.Write(src.data(), n));
    EXPECT_EQ(mem.GetCapacity(), c.capacity) << c.writes[0];
  }
  // Growth zero-fills and keeps the bytes; Resize does not move the position.
  GMemStream mem(true, nullptr, 0);
  mem.Write(const_cast<char*>("abc"), 3);
  mem.Resize(1000);
  EXPECT_EQ(std::string(mem.GetData(), 1000), std::string("abc") + std::string(997, '\0'));
  EXPECT_EQ(mem.pos(), 3);
  // A capacity past 32 bits is refused before any copy.
  EXPECT_THROW(mem.Write(src.data(), 0xFFFFFFFFu), std::length_error);
  EXPECT_EQ(mem.GetCapacity(), 1000u);
  // Reads: within the capacity, all or nothing.
  mem.SetOpenMode(false);
  mem.seek(998);
  unsigned char out[4] = {9, 9, 9, 9};
  EXPECT_EQ(mem.Read(out, 4), 0u);
  EXPECT_EQ(out[0], 9);
  EXPECT_EQ(mem.Read(out, 2), 2u);
}

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
  unsigned char out[2] = {1, 1};
  for (const auto& c : cases) {
    c.mem->seek(c.to);
    EXPECT_EQ(c.mem->pos(), c.pos) << c.to;
    if (c.mem == &caller) EXPECT_FALSE(caller.Write(data, 1) || caller.Read(out, 1)) << c.to;
  }
  caller.seek(0);
  EXPECT_TRUE(caller.Write(data, 6));
  EXPECT_FALSE(caller.Write(data, 3)) << "would pass the end";
  EXPECT_TRUE(caller.Write(data, 2)) << "exactly to the end";
  EXPECT_EQ(caller.GetCapacity(), 8u) << "a caller's buffer never grows";
  EXPECT_EQ(std::string(area, 8) + std::string(area + 16, 8), std::string(16, 'G'));
  // SetData with a count of 0 changes nothing; overlapping data is the stream's own, shifted.
  char src[5] = {'h', 'e', 'l', 'l', 'o'};
  GMemStream mem(true, src, 5);
  mem.SetData(src, 0);
  EXPECT_FALSE(mem.IsGrowable());
  mem.SetData(src, 5);
  EXPECT_TRUE(mem.IsGrowable());
  mem.SetData(mem.GetData() + 1, 4);
  // Copies duplicate owned bytes and share a caller's buffer.
  GMemStream copy(mem);
  copy.Write(const_cast<char*>("!"), 1);
  EXPECT_EQ(std::memcmp(mem.GetData(), "ello", 4), 0);
  GMemStream shared;
  shared = caller;
  EXPECT_EQ(shared.GetData(), area + 8);
}

}  // namespace
}  // namespace hux
