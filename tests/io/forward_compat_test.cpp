// Data of a newer release survives a round trip through an older one: a
// project keeps a newer version of itself and blocks it does not know, and
// writes them back.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <hux/io/archive.h>
#include <hux/io/memstream.h>
#include <hux/object/project.h>

#include "test_util.h"
#include "value/property_test_util.h"

namespace hux {
namespace {

using test::Written;

TEST(ForwardCompatibility, AProjectKeepsANewerSelfAndUnknownBlocks) {
  const struct {
    const char* what;
    const char* bytes;
    const char* saved;  // null: the same bytes
  } cases[] = {
      {"newer version", "02 00 02  01 08 00 00 00 07 00 00 00 00 00 00 00  05 0A 00 00 00 00 01 02 03 04 05 06 07 08 09",
       nullptr},
      {"unknown block", "01 00 02  03 0A 00 00 00 00 01 02 03 04 05 06 07 08 09  01 08 00 00 00 07 00 00 00 00 00 00 00",
       "01 00 02  01 08 00 00 00 07 00 00 00 00 00 00 00  03 0A 00 00 00 00 01 02 03 04 05 06 07 08 09"},
      {"unknown block cut short: kept as far as it came",
       "01 00 02  01 08 00 00 00 07 00 00 00 00 00 00 00  03 FF FF FF 7F 0A 0B",
       "01 00 02  01 08 00 00 00 07 00 00 00 00 00 00 00  03 02 00 00 00 0A 0B"},
      {"newer version cut short: not kept", "02 00 02  01 08 00 00 00 07 00 00 00 00 00 00 00  05 09 00 00",
       "01 00 01  01 08 00 00 00 01 00 00 00 00 00 00 00"},
      {"rolled back after an unknown block: nothing kept", "01 00 02  03 01 00 00 00 AA  04 00 00 00 80",
       "01 00 01  01 08 00 00 00 01 00 00 00 00 00 00 00"},
  };
  // One project reads every row in turn: a load replaces what the last kept.
  IBaseProject reused;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::vector<unsigned char> file = test::Hex(c.bytes);
    // From memory, and from a device that delivers at most 8 bytes a read.
    IBaseProject fromMemory, fromDevice;
    GMemStream in;
    test::Load(in, file);
    GDbArchiveImpl memoryReader(&in);
    fromMemory.Serialize(memoryReader);
    test::FlakyDevice device(file);
    device.maxPerRead = 8;
    GDbArchiveImpl deviceReader(&device);
    fromDevice.Serialize(deviceReader);
    EXPECT_LE(device.largestRead, 65536u);  // a damaged size is not trusted ahead of the data
    const std::vector<unsigned char> saved = Written([&](GDbArchive& ar) { fromMemory.Serialize(ar); });
    EXPECT_EQ(saved, c.saved ? test::Hex(c.saved) : file);
    EXPECT_EQ(Written([&](GDbArchive& ar) { fromDevice.Serialize(ar); }), saved);
    IBaseProject reread;
    for (auto [project, bytes] : {std::pair(&reused, &file), std::pair(&reread, &saved)}) {
      GMemStream same;
      test::Load(same, *bytes);
      GDbArchiveImpl reader(&same);
      project->Serialize(reader);
      if (project == &reread) EXPECT_EQ(reader.DevicePos(), static_cast<long long>(saved.size()));
    }
    std::vector<unsigned char> expected = saved;
    if (c.saved) expected[8] = 7;  // a counter the row leaves alone is the one an earlier row read
    EXPECT_EQ(Written([&](GDbArchive& ar) { reused.Serialize(ar); }), expected);
    EXPECT_EQ(Written([&](GDbArchive& ar) { reread.Serialize(ar); }), saved);
  }
}

}  // namespace
}  // namespace hux
