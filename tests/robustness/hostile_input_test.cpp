// Hostile input every reader must survive; LeakSanitizer checks that a failed
// read leaves nothing.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include <hux/object/project.h>

#include "value/property_test_util.h"
#include "value/value_test_util.h"

namespace hux {
namespace {

using test::Hex;

// Reports are not shown.
class QuietArchive : public GDbArchiveImpl {
 public:
  using GDbArchiveImpl::GDbArchiveImpl;
  void ErrorMsgBox(std::string, std::string) override {}
};

// Writes one object whose block 1 holds what `write` writes.
template <class Write>
void WriteBlockOne(GDbArchive& ar, Write write) {
  const void* key = reinterpret_cast<const void*>(ar.CreateNewObjectID());
  ar.BeginWriteObject(key, 1);
  ar.BeginWriteBlock(1, key);
  write();
  ar.EndWriteBlock(1, key);
  ar.EndWriteObject(key);
}

// An owned value (code 5301) whose load throws at 13; ballast shows a leak.
struct Fragile {
  Fragile() { ++live; }
  Fragile(const Fragile& other) : value(other.value), ballast(other.ballast) { ++live; }
  ~Fragile() { --live; }
  int value = 0;
  std::vector<int> ballast = std::vector<int>(64, 7);
  static inline int live = 0;
};
constexpr auto kFragile = static_cast<eXOMDataType>(5301);

sClassFunctionPtr FragileRecord() {
  sClassFunctionPtr r;
  r.className = "test Fragile";
  r.createVoidObject = [](void const* src) -> void* {
    return src ? new Fragile(*static_cast<const Fragile*>(src)) : new Fragile;
  };
  r.deleteVoidObject = [](void* p) { delete static_cast<Fragile*>(p); };
  r.saveObject = [](GDbArchive& ar, void const* p) {
    WriteBlockOne(ar, [&] { ar << static_cast<const Fragile*>(p)->value << std::string("rest of the block"); });
  };
  r.loadObject = [](GDbArchive& ar, void* p) {
    test::ReadBlockOne(ar, [&] {
      ar >> static_cast<Fragile*>(p)->value;
      if (static_cast<Fragile*>(p)->value == 13) throw std::runtime_error("damaged Fragile");
      std::string rest;
      ar >> rest;
    });
  };
  return r;
}
const GBaseObjectFactoryHelper g_fragile(kFragile, FragileRecord());

using test::Node;

// The bytes of a variant holding a Fragile.
void WriteFragile(GDbArchive& ar, int value) {
  Fragile f;
  f.value = value;
  ar << static_cast<int>(kFragile) << true << false << true;  // present, owned, save function
  GetBaseObjectFactory().GetFunctionPtr(kFragile)->saveObject(ar, &f);
}

TEST(HostileInput, FactoryThrowsInsideAnObject) {
  // A failure inside a record's object rolls the record back, leaving the archive after it.
  for (bool nested : {false, true}) {  // the fragile value inside a shared node
    for (int value : {5, 13}) {
      SCOPED_TRACE(testing::Message() << nested << " " << value);
      Fragile::live = 0;
      Node::live = 0;
      const std::vector<unsigned char> bytes = test::Written([&](GDbArchive& ar) {
        WriteBlockOne(ar, [&] {
          if (!nested) return WriteFragile(ar, value);
          ar << static_cast<int>(test::kRegisteredNodeCode) << true << true << false;  // shared, no save function
          WriteBlockOne(ar, [&] {
            ar << 0;
            WriteFragile(ar, value);
          });
        });
        ar << 42;
      });
      ASSERT_EQ(Fragile::live + Node::live, 0);
      {
        GMemStream mem;
        test::Load(mem, bytes);
        GDbArchiveImpl ar(&mem);
        CVariant v;
        bool loaded = true;
        try {
          test::ReadBlockOne(ar, [&] { v.Serialize(ar); });
        } catch (const std::exception&) {
          ar.RollbackReadObject(0);
          loaded = false;
        }
        EXPECT_EQ(loaded, value != 13);
        EXPECT_EQ(ar.GetVersion(), 0);
        int next = 0;
        ar >> next;
        EXPECT_EQ(next, 42);  // aligned after the record
      }
      EXPECT_EQ(Fragile::live + Node::live, 0);
    }
  }
}

TEST(HostileInput, VariantOddCodesAndForeignPayloads) {
  // Odd codes consume their own bytes; foreign payloads store and load stably.
  const struct {
    const char* bytes;
    size_t variants;  // how many variants the bytes are read as; 0: one, then 42
  } cases[] = {
      {"FF FF FF FF", 0},  // DT_NONE
      {"00 00 00 80", 0},  // INT32_MIN
      {"0A 00 00 00", 0},  // an owned value code below 1000, no payload
      {"E8 03 00 00 01 01 00  01 00 01 01 04 00 00 00 AA BB CC DD", 0},  // shared, no registered class
      {"E8 03 00 00 01 00 01  01 00 00", 0},                             // owned, no registered class
      {"DC 05 00 00 01 01 00  01 00 01 01 08 00 00 00 09 00 00 00 00 00 00 00", 0},  // the project's code
      {"8A 13 00 00 FF FF 00  01 00 00", 0},  // present and shared flags of 0xFF
      {"61 1E 00 00 01 00 01  01 00 02 07 03 00 00 00 01 00 00 08 00 00 00 00", 0},  // kept, nested and empty
      {"0F 00 00 00 07", 1},                              // a bool's code, the byte 7
      {"B5 14 00 00 01 00 01  01 00 01 01 0A 00 00 00 01 00 00 00 05 00 00 00 00 00", 1},  // Fragile, the node's
      {"EB 03 00 00 01 01 01 2A 00 00 00", 1},  // a memory stream's code, an int's payload
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bytes);
    Fragile::live = 0;
    Node::live = 0;
    const std::vector<unsigned char> bytes = Hex(c.bytes);
    long long consumed = 0;
    {
      std::vector<unsigned char> input = bytes;
      if (!c.variants) input.insert(input.end(), {0x2A, 0, 0, 0});  // code 42, read as the code alone
      std::vector<CVariant> first = test::LoadVariants(input, c.variants ? c.variants : 2, &consumed);
      if (!c.variants) {
        EXPECT_EQ(first[1].GetVariantStru().type, 42);
        EXPECT_EQ(consumed, static_cast<long long>(bytes.size() + 4));
        first.pop_back();
      }
      const std::vector<unsigned char> stored = test::Store(first);
      EXPECT_EQ(test::Store(test::LoadVariants(stored, first.size())), stored);
    }
    EXPECT_LE(consumed, static_cast<long long>(bytes.size() + 4));
    EXPECT_EQ(Fragile::live + Node::live, 0);
  }
}

TEST(HostileInput, ProjectDamagedFraming) {
  const struct {
    const char* bytes;  // a project object; an int 42 follows where `aligned`
    long long counter;
    bool aligned;
  } cases[] = {
      {"01 00 01 01 FF FF FF FF 09 00 00 00 00 00 00 00", 1, false},  // block size 0xFFFFFFFF
      {"01 00 01 01 00 01 00 00 09 00 00 00 00 00 00 00", 9, false},  // block size past the input
      {"01 00 01 01 0C 00 00 00 09 00 00 00 00 00 00 00 2A 00 00 00 2A 00 00 00", 9, true},  // past the object
      {"01 00 01 01 04 00 00 00 09 00 00 00", 1, true},                        // short counter block
      {"01 00 01 01 08 00 00 00 FE FF FF FF FF FF FF FF", 1, true},            // counter -2
      {"01 00 FF 01 08 00 00 00 09 00 00 00 00 00 00 00", 9, false},           // 255 blocks, one present
      {"01 00 FF 07 00 00 00 00 08 00 00 00 00", 1, false},                    // 255 unknown blocks, two present
      {"02 00 01 01 08 00 00 00 09 00 00 00 00 00 00 00", 1, true},            // a newer version, skipped whole
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bytes);
    std::vector<unsigned char> bytes = Hex(c.bytes);
    if (c.aligned) bytes.insert(bytes.end(), {0x2A, 0, 0, 0});
    for (bool memory : {true, false}) {
      GMemStream mem;
      test::FlakyDevice file(bytes);
      if (memory) test::Load(mem, bytes);
      QuietArchive ar(memory ? static_cast<GIODevice*>(&mem) : &file);
      IBaseProject project;
      EXPECT_TRUE(project.Serialize(ar));
      EXPECT_EQ(ar.GetVersion(), 0);
      EXPECT_EQ(project.GetLastUniqueID(), c.counter);
      EXPECT_GE(ar.DevicePos(), 0);
      int next = 0;
      if (c.aligned) ar >> next;
      EXPECT_EQ(next, c.aligned ? 42 : 0);
    }
  }
}

TEST(HostileInput, RemapToIdsOutOfRange) {
  // A client's remap to a nameless product, an index 0 or the largest id: the property survives.
  CPropertyCollection::ClearPropertyScheme();
  test::Owner owner(0x7181);
  for (unsigned short target : {0xFFFF, 0xFC00, 0x0400, 0x8001}) {
    SCOPED_TRACE(target);
    CPropertyCollection c(&owner), back(&owner);
    test::ReadAll(Hex("00 02000000 0104 01000000 07000000 0204 01000000 08000000"), {&c}, {}, [&](GDbArchive& ar) {
      (*ar.GetMapPropertyID(static_cast<eXOMDataType>(0x7181), true))[1025] = target;
    });
    EXPECT_EQ(test::Visit(c).size(), 2u);
    test::ReadAll(test::WriteAll({&c}), {&back});
    EXPECT_EQ(back.GetProperty(target).toInt(), 7);
  }
  CPropertyCollection::ClearPropertyScheme();
}

}  // namespace
}  // namespace hux
