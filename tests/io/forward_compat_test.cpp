// Data of a newer release survives a round trip through an older one: the
// older code loads it, changes one value it knows and saves, and the result
// is what the newer release would have written with that one change.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <hux/io/archive.h>
#include <hux/io/memstream.h>
#include <hux/object/factory.h>
#include <hux/object/project.h>
#include <hux/value/property.h>
#include <hux/value/variant.h>

#include "test_util.h"
#include "value/property_test_util.h"

namespace hux {
namespace {

// A custom value of the newer release: the older side can neither create nor
// load it.
struct Gadget {
  int teeth = 0;
  std::wstring label;
};
constexpr auto kGadget = static_cast<eXOMDataType>(0x7A31);

void SaveGadget(GDbArchive& ar, const void* object) {
  const auto& g = *static_cast<const Gadget*>(object);
  const void* key = reinterpret_cast<const void*>(ar.CreateNewObjectID());
  ar.BeginWriteObject(key, 1);
  ar.BeginWriteBlock(1, key);
  ar << g.teeth << g.label;
  ar.EndWriteBlock(1, key);
  ar.EndWriteObject(key);
}

sClassFunctionPtr SaveOnly() {
  sClassFunctionPtr r;
  r.saveObject = SaveGadget;
  r.className = "Gadget";
  return r;
}
const GBaseObjectFactoryHelper g_gadgetSaves(kGadget, SaveOnly());

test::Owner g_partClass(0x7A30);

// A part: block 1 its dimension, block 2 its properties, block 3 a nested
// feature object. With `extras` the newer release also writes a property
// holding a Gadget and one the older code never sets, the feature at version
// 2, and blocks 9 and 10; the older release keeps what it does not know.
struct Part {
  int dimension = 0;
  CPropertyCollection props{&g_partClass};
  GKeptBlocks kept;         // older side only
  std::string keptFeature;  // older side only

  static void WriteFeature(GDbArchive& ar, bool newer) {
    const void* key = reinterpret_cast<const void*>(ar.CreateNewObjectID());
    ar.BeginWriteObject(key, newer ? 2 : 1);
    ar.BeginWriteBlock(1, key);
    ar << 4;
    if (newer) ar << std::wstring(L"chamfer") << 0.25;
    ar.EndWriteBlock(1, key);
    ar.EndWriteObject(key);
  }

  // The newer release writes with `newer` set; the older one writes back
  // what it kept.
  void Write(GDbArchive& ar, bool newer, bool extras) {
    const void* key = reinterpret_cast<const void*>(ar.CreateNewObjectID());
    ar.BeginWriteObject(key, 1);
    ar.BeginWriteBlock(1, key);
    ar << dimension;
    ar.EndWriteBlock(1, key);
    ar.BeginWriteBlock(2, key);
    props.Serialize(ar);
    ar.EndWriteBlock(2, key);
    ar.BeginWriteBlock(3, key);
    if (newer || keptFeature.empty())
      WriteFeature(ar, newer && extras);
    else
      ar.WriteRawData(keptFeature.data(), static_cast<int>(keptFeature.size()));
    ar.EndWriteBlock(3, key);
    if (newer && extras) {
      ar.BeginWriteBlock(9, key);
      ar << std::wstring(L"tolerance") << 0.001;
      ar.EndWriteBlock(9, key);
      ar.BeginWriteBlock(10, key);
      WriteFeature(ar, true);  // a nested object inside an unknown block
      ar.EndWriteBlock(10, key);
    }
    if (!newer) ar.WriteKeptBlocks(key, kept);
    ar.EndWriteObject(key);
  }

  // The older release's reader: one call keeps what it used to skip.
  void ReadOlder(const std::vector<unsigned char>& bytes) {
    GMemStream in;
    test::Load(in, bytes);
    GDbArchiveImpl ar(&in);
    unsigned char count = 0, id = 0, n = 0;
    unsigned short version = 0, v = 0;
    unsigned int size = 0;
    ar.ReadObject(count, version);
    for (unsigned i = 0; i < count; ++i) {
      ar.ReadBlock(id, size);
      if (id == 1) {
        ar >> dimension;
      } else if (id == 2) {
        props.Serialize(ar);
      } else if (id == 3) {
        const int start = static_cast<int>(ar.DevicePos());
        ar.ReadObject(n, v);
        ar.EndReadObject();
        ar.SeekPos(start, GDbArchive::SEEKFROM_BEGIN);
        if (v > 1)
          ar.KeepObject(keptFeature);
        else
          ar.SkipObject();
      } else {
        ar.KeepBlock(id, size, kept);
      }
    }
    ar.EndReadObject();
  }
};

// The newer release's part, with a dimension of `dimension`.
void Fill(Part& p, bool extras, int dimension, Gadget& gadget) {
  p.dimension = dimension;
  p.props.SetProperty(L"Material", CVariant(L"steel"));
  if (extras) {
    p.props.SetProperty(L"Mass", CVariant(2.5));
    CVariant g;
    g.SetDBValueRefPtr(reinterpret_cast<CReferenced*>(&gadget), kGadget);
    p.props.SetProperty(L"Gadget", g);
  }
}

std::vector<unsigned char> Saved(Part& p, bool newer, bool extras) {
  return test::Written([&](GDbArchive& ar) { p.Write(ar, newer, extras); });
}

TEST(ForwardCompatibility, AnOlderReleaseKeepsWhatItDoesNotKnowAndChangesOnlyWhatItDoes) {
  Gadget gadget{12, L"sprocket"};
  for (bool extras : {false, true}) {
    // The older release runs in a process that knows the names already, and
    // in one that knows none of them.
    for (bool fresh : {false, true}) {
      SCOPED_TRACE(testing::Message() << extras << fresh);
      CPropertyCollection::ClearPropertyScheme();
      Part newer;
      Fill(newer, extras, 10, gadget);
      const std::vector<unsigned char> file = Saved(newer, true, extras);
      if (fresh) CPropertyCollection::ClearPropertyScheme();
      Part older;
      older.ReadOlder(file);
      EXPECT_EQ(older.props.GetProperty(L"Gadget").IsKept(), extras);
      older.dimension = 11;
      Part expected;
      Fill(expected, extras, 11, gadget);
      EXPECT_EQ(Saved(older, false, extras), Saved(expected, true, extras));
    }
  }
}

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
