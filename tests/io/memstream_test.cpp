// GMemStream growth, bounds and ownership; GDataSizeStream counting.
#include <hux/io/memstream.h>

#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <vector>

#include <hux/io/iodevice.h>

namespace hux {
namespace {

struct GrowthCase {
  const char* name;
  bool defaultConstructed;  // else GMemStream(true, nullptr, 0): 200 bytes
  std::vector<unsigned int> writes;
  unsigned int capacity;
  __int64 pos;
};

TEST(MemStream, GrowthFollowsDoublingOrNeededPlusOne) {
  const GrowthCase cases[] = {
      {"199 bytes fit in 200", false, {199}, 200, 199},
      {"filling the buffer exactly grows it", false, {199, 1}, 400, 200},
      {"300 at once: doubling beats 301", false, {300}, 400, 300},
      {"500 at once: doubling loses to 501", false, {500}, 501, 500},
      {"first byte into an empty stream", true, {1}, 2, 1},
      {"then one more: 2 * 2 > 3", true, {1, 1}, 4, 2},
      {"first write of 10", true, {10}, 11, 10},
  };
  std::vector<char> src(1000, 'x');
  for (const GrowthCase& c : cases) {
    GMemStream mem = c.defaultConstructed ? GMemStream() : GMemStream(true, nullptr, 0);
    for (unsigned int n : c.writes) ASSERT_TRUE(mem.Write(src.data(), n)) << c.name;
    EXPECT_EQ(mem.GetCapacity(), c.capacity) << c.name;
    EXPECT_EQ(mem.pos(), c.pos) << c.name;
  }
}

TEST(MemStream, GrowthZeroFillsAndKeepsBytes) {
  GMemStream mem(true, nullptr, 0);
  const char text[] = "abc";
  mem.Write(const_cast<char*>(text), 3);
  mem.Resize(1000);
  EXPECT_EQ(std::memcmp(mem.GetData(), "abc", 3), 0);
  for (unsigned int i = 3; i < 1000; ++i) ASSERT_EQ(mem.GetData()[i], 0) << i;
  EXPECT_EQ(mem.pos(), 3);  // Resize does not move the position
}

TEST(MemStream, SeekClampsOnlyOwnedBuffers) {
  GMemStream owned(true, nullptr, 0);
  owned.seek(-5);
  EXPECT_EQ(owned.pos(), 0);
  owned.seek(1000);
  EXPECT_EQ(owned.pos(), 199);
  owned.seek(200);
  EXPECT_EQ(owned.pos(), 199);

  GMemStream empty;  // capacity 0: the only safe position is 0
  empty.seek(7);
  EXPECT_EQ(empty.pos(), 0);

  char buf[16] = {};
  GMemStream caller(true, buf, sizeof buf);
  caller.seek(-5);
  EXPECT_EQ(caller.pos(), -5);
  caller.seek(1000);
  EXPECT_EQ(caller.pos(), 1000);
}

TEST(MemStream, ReadIsAllOrNothingWithinCapacity) {
  GMemStream mem(true, nullptr, 0);
  mem.SetOpenMode(false);
  mem.seek(198);
  unsigned char out[4] = {9, 9, 9, 9};
  EXPECT_EQ(mem.Read(out, 4), 0u);
  EXPECT_EQ(mem.pos(), 198);
  EXPECT_EQ(out[0], 9);
  EXPECT_EQ(mem.Read(out, 2), 2u);  // the zero-filled tail is readable
  EXPECT_EQ(out[0], 0);
  EXPECT_EQ(mem.pos(), 200);
}

TEST(MemStream, CallerBufferIsNeverWrittenOutside) {
  // Guard bytes around a 8-byte window catch any write outside it.
  char area[24];
  std::memset(area, 'G', sizeof area);
  char* window = area + 8;
  GMemStream mem(true, window, 8);
  char data[16];
  std::memset(data, 'D', sizeof data);

  EXPECT_TRUE(mem.Write(data, 6));
  EXPECT_FALSE(mem.Write(data, 3)) << "would pass the end";
  EXPECT_EQ(mem.pos(), 6);
  EXPECT_TRUE(mem.Write(data, 2)) << "exactly to the end";
  EXPECT_EQ(mem.GetCapacity(), 8u) << "a caller's buffer never grows";

  mem.seek(-4);
  EXPECT_FALSE(mem.Write(data, 2)) << "negative position";
  unsigned char out[2] = {1, 1};
  EXPECT_EQ(mem.Read(out, 2), 0u);
  mem.seek(100);
  EXPECT_FALSE(mem.Write(data, 1));
  EXPECT_EQ(mem.Read(out, 1), 0u);

  for (int i = 0; i < 8; ++i) EXPECT_EQ(area[i], 'G') << i;
  for (int i = 16; i < 24; ++i) EXPECT_EQ(area[i], 'G') << i;
}

TEST(MemStream, GrowthPastFourGiBThrows) {
  GMemStream mem(true, nullptr, 0);
  char byte = 1;
  mem.Write(&byte, 1);
  // 1 + 0xFFFFFFFF needs a capacity past 32 bits: refused before any copy.
  EXPECT_THROW(mem.Write(&byte, 0xFFFFFFFFu), std::length_error);
  EXPECT_EQ(mem.pos(), 1);
  EXPECT_EQ(mem.GetCapacity(), 200u);
}

TEST(MemStream, DataSizeFollowsMode) {
  GMemStream mem(true, nullptr, 0);
  char data[10] = {};
  mem.Write(data, 10);
  EXPECT_EQ(mem.GetDataSize(), 10u);
  mem.SetOpenMode(false);
  EXPECT_EQ(mem.GetDataSize(), 200u);
  EXPECT_EQ(mem.pos(), 0);
}

TEST(MemStream, SetDataCopiesEvenFromItsOwnBuffer) {
  char src[5] = {'h', 'e', 'l', 'l', 'o'};
  GMemStream mem(true, src, 5);
  mem.SetData(src, 0);
  EXPECT_FALSE(mem.IsGrowable()) << "a count of 0 changes nothing";
  mem.SetData(src, 5);
  EXPECT_TRUE(mem.IsGrowable());
  EXPECT_TRUE(mem.IsStoring()) << "the mode is kept";
  EXPECT_EQ(mem.GetCapacity(), 5u);
  EXPECT_NE(mem.GetData(), src);
  // Overlapping source: the stream's own bytes, shifted.
  mem.SetData(mem.GetData() + 1, 4);
  EXPECT_EQ(std::memcmp(mem.GetData(), "ello", 4), 0);
  EXPECT_EQ(mem.pos(), 0);
}

TEST(MemStream, CopiesDuplicateOwnedBytesAndShareCallerBuffers) {
  GMemStream owned(true, nullptr, 0);
  owned.Ref();
  owned.Write(const_cast<char*>("xyz"), 3);
  GMemStream copy(owned);
  EXPECT_EQ(copy.ReferenceCount(), 0);
  EXPECT_NE(copy.GetData(), owned.GetData());
  EXPECT_EQ(std::memcmp(copy.GetData(), "xyz", 3), 0);
  EXPECT_EQ(copy.pos(), 3);
  copy.Write(const_cast<char*>("!"), 1);
  EXPECT_EQ(owned.GetData()[3], 0) << "the copy writes into its own bytes";

  char buf[8] = {};
  GMemStream caller(false, buf, 8);
  GMemStream shared;
  shared = caller;
  EXPECT_EQ(shared.GetData(), buf);
  EXPECT_FALSE(shared.IsGrowable());
  owned.UnrefNoDelete();
}

TEST(DataSizeStream, CountsWritesAndSeeks) {
  GDataSizeStream size;
  int v = 0;
  size.Write(&v, 4);
  size.seek(0);
  size.Write(&v, 4);
  size.seek(8);
  EXPECT_EQ(size.pos(), 8);
  int untouched = 5;
  EXPECT_EQ(size.Read(&untouched, 4), 4u);
  EXPECT_EQ(untouched, 5);
  EXPECT_EQ(size.pos(), 12);
}

}  // namespace
}  // namespace hux
