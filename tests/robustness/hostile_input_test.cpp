// The table of hostile inputs: every kind of damage a reader must survive, in
// one place. Cases pinned beside their reader's own tests are listed here with
// the test that holds them; the rest are tested below.
//
//   Damage                                              Reader                 Where
//   count -1, INT32_MIN, 0x7FFFFFFF on a string,        archive                io/archive_test: HostileCounts...
//     a wide string and a byte block
//   string counts of 2^31-1 inside variants             CVariant               value/variant_serialize_test: HostileCounts...
//   a valid archive cut at every byte                   archive framing        io/archive_test: DamagedFramingIsSkipped...
//                                                       variant streams        value/variant_serialize_test: EveryTruncation...
//                                                       property collections   value/property_serialize_test: DamagedCounts...
//                                                       project                ProjectTruncatedAtEveryByte (below)
//   block size 0xFFFFFFFF, past the object              archive framing        io/archive_test: DamagedFramingIsSkipped...
//                                                       project                ProjectHostileFraming (below)
//   block size past the input                           archive, project       ArchiveBlockPastTheInput, ProjectHostileFraming
//   a block count of 255 with fewer blocks present      archive framing        io/archive_test: DamagedFramingIsSkipped...
//                                                       project                ProjectHostileFraming (below)
//   unknown code; code without create function           CVariant               value/variant_serialize_test: UnknownCode...,
//                                                                              RecordsThatCannotLoad...
//   unregistered, abstract and non-custom odd codes     CVariant               VariantOddCodes (below)
//   a valid code followed by another type's payload     CVariant               VariantForeignPayload (below)
//   schemes claiming 2^31 products, names, properties   property collections   value/property_serialize_test: DamagedCounts...
//   two names onto one id, one name under two ids       property collections   value/property_serialize_test: RemapsNeverMerge...
//   unnamed ids where the file's names would go
//   a file listing 1,023 names and 63 products          property collections   value/property_serialize_test: NamesAFileOnly...
//   20,000 empty schemes after a remap of 64,008 ids    property collections   reader_bounds_test: EmptySchemesAfter...
//   the most compact input per byte held, every reader  all readers            reader_bounds_test: MemoryWithin...
//   remaps to ids out of range                          property collections   RemapToIdsOutOfRange (below)
//   a factory function throwing inside an object        CVariant + rollback    FactoryThrowsInsideAnObject (below)
//
// Every case runs in the AddressSanitizer build too, whose LeakSanitizer
// checks that a failed read leaves nothing behind.
#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include <hux/io/archive.h>
#include <hux/io/memstream.h>
#include <hux/object/base.h>
#include <hux/object/factory.h>
#include <hux/object/project.h>
#include <hux/object/referenced.h>
#include <hux/value/property.h>
#include <hux/value/variant.h>

#include "test_util.h"

namespace hux {
namespace {

using test::Bytes;
using test::Hex;

std::vector<unsigned char> Concat(std::vector<unsigned char> a, const std::vector<unsigned char>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Reports go through the archive's hook; they are counted, not shown.
class QuietArchive : public GDbArchiveImpl {
 public:
  using GDbArchiveImpl::GDbArchiveImpl;
  void ErrorMsgBox(std::string, std::string) override { ++reports; }
  int reports = 0;
};

// ---- custom objects whose loading fails in the middle -------------------------------

// An owned value (code 5301) whose load function throws after it has opened
// its object and read its first block, when that block holds 13. Each value
// holds heap memory of its own, so a leaked one shows under LeakSanitizer.
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
    const Fragile& f = *static_cast<const Fragile*>(p);
    ar.BeginWriteObject(p, 1);
    ar.BeginWriteBlock(1, p);
    ar << f.value;
    ar.EndWriteBlock(1, p);
    ar.BeginWriteBlock(2, p);
    ar << std::string("second block");
    ar.EndWriteBlock(2, p);
    ar.EndWriteObject(p);
  };
  r.loadObject = [](GDbArchive& ar, void* p) {
    Fragile& f = *static_cast<Fragile*>(p);
    unsigned char count = 0;
    unsigned short version = 0;
    ar.ReadObject(count, version);
    unsigned char id = 0;
    unsigned int size = 0;
    ar.ReadBlock(id, size);
    ar >> f.value;
    if (f.value == 13) throw std::runtime_error("damaged Fragile");
    ar.ReadBlock(id, size);
    std::string text;
    ar >> text;
    ar.EndReadObject();
  };
  return r;
}
const GBaseObjectFactoryHelper g_fragile(kFragile, FragileRecord());

// Reads one object whose block 1 holds `value` (read by its Serialize);
// other blocks are skipped by their sizes.
template <class T>
void ReadBlockOne(GDbArchive& ar, T& value) {
  unsigned char count = 0;
  unsigned short version = 0;
  ar.ReadObject(count, version);
  for (int i = 0; i < count; ++i) {
    unsigned char id = 0;
    unsigned int size = 0;
    ar.ReadBlock(id, size);
    if (id == 1)
      value.Serialize(ar);
    else
      ar.SeekPos(static_cast<int>(size), GDbArchive::SEEKFROM_CURRENT);
  }
  ar.EndReadObject();
}

// A shared object (code 5302) holding a variant, created through the factory;
// it frames its variant in an object of its own.
constexpr auto kHolder = static_cast<eXOMDataType>(5302);

class Holder : public CReferenced, public IBase {
 public:
  Holder() { ++live; }
  bool Serialize(GDbArchive& ar) override {
    if (ar.IsLoading()) {
      ReadBlockOne(ar, inner);
    } else {
      ar.BeginWriteObject(this, 1);
      ar.BeginWriteBlock(1, this);
      inner.Serialize(ar);
      ar.EndWriteBlock(1, this);
      ar.EndWriteObject(this);
    }
    return true;
  }
  eXOMDataType GetObjectType() override { return kHolder; }
  CVariant inner;
  static inline int live = 0;

 protected:
  ~Holder() override { --live; }
};

sClassFunctionPtr HolderRecord() {
  sClassFunctionPtr r;
  r.className = FactoryClassName<Holder>();
  r.createRefObject = [] { return static_cast<CReferenced*>(new Holder); };
  return r;
}
const GBaseObjectFactoryHelper g_holder(kHolder, HolderRecord());

// The bytes of a variant holding a Fragile, as CVariant::Serialize writes
// them (only loading makes an owned custom variant, and the failing value
// cannot be loaded, so the bytes are written here).
void WriteFragile(GDbArchive& ar, int value) {
  Fragile f;
  f.value = value;
  ar << static_cast<int>(kFragile) << true << false << true;  // present, owned, save function
  GetBaseObjectFactory().GetFunctionPtr(kFragile)->saveObject(ar, &f);
}

// The bytes of a variant holding a shared Holder whose variant holds a Fragile.
void WriteHolderOfFragile(GDbArchive& ar, int value) {
  const int key = 0;
  ar << static_cast<int>(kHolder) << true << true << false;  // present, shared, no save function
  ar.BeginWriteObject(&key, 1);
  ar.BeginWriteBlock(1, &key);
  WriteFragile(ar, value);
  ar.EndWriteBlock(1, &key);
  ar.EndWriteObject(&key);
}

// A client's record: one object with one block holding a variant. A failure
// inside rolls the record back, which leaves the archive after it.
template <class WriteVariant>
void WriteRecord(GDbArchive& ar, WriteVariant write) {
  const int key = 0;
  ar.BeginWriteObject(&key, 1);
  ar.BeginWriteBlock(1, &key);
  write(ar);
  ar.EndWriteBlock(1, &key);
  ar.EndWriteObject(&key);
}

bool ReadRecord(GDbArchive& ar, CVariant& v) {
  const int start = static_cast<int>(ar.DevicePos());
  try {
    ReadBlockOne(ar, v);
    return true;
  } catch (const std::exception&) {
    ar.RollbackReadObject(start);
    return false;
  }
}

TEST(HostileInput, FactoryThrowsInsideAnObject) {
  struct Case {
    const char* what;
    bool nested;  // the fragile value inside a shared Holder
    int value;
    bool loads;
  };
  const Case cases[] = {
      {"owned value, sound", false, 5, true},
      {"owned value, load function throws", false, 13, false},
      {"inside a shared object, sound", true, 5, true},
      {"inside a shared object, load function throws", true, 13, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Fragile::live = 0;
    Holder::live = 0;
    std::vector<unsigned char> bytes;
    {
      GMemStream mem(true, nullptr, 0);
      GDbArchiveImpl ar(&mem);
      WriteRecord(ar, [&](GDbArchive& a) { c.nested ? WriteHolderOfFragile(a, c.value) : WriteFragile(a, c.value); });
      ar << 42;
      bytes = Bytes(mem);
    }
    ASSERT_EQ(Fragile::live, 0);
    ASSERT_EQ(Holder::live, 0);
    {
      GMemStream mem;
      test::Load(mem, bytes);
      GDbArchiveImpl ar(&mem);
      CVariant v;
      EXPECT_EQ(ReadRecord(ar, v), c.loads);
      EXPECT_EQ(ar.GetVersion(), 0);  // the version stack is the enclosing one again
      int next = 0;
      ar >> next;
      EXPECT_EQ(next, 42);  // aligned after the record
      if (c.loads) {
        const CVariant& inner = c.nested ? dynamic_cast<Holder*>(v.GetValueRefPtr())->inner : v;
        ASSERT_EQ(inner.GetVariantStru().type, kFragile);
        EXPECT_EQ(reinterpret_cast<const Fragile*>(inner.GetVariantStru().value)->value, c.value);
      }
    }
    EXPECT_EQ(Fragile::live, 0);  // nothing created for the failed read survives it
    EXPECT_EQ(Holder::live, 0);
  }
}

// ---- variants: odd codes and foreign payloads ---------------------------------------

// Loads variants from `bytes` until `count` are read; each is stored again,
// and that loads to the same bytes (what was read is stable).
void LoadStoreLoad(const std::vector<unsigned char>& bytes, int count, long long* consumed) {
  std::vector<CVariant> first(static_cast<size_t>(count));
  {
    GMemStream mem;
    test::Load(mem, bytes);
    GDbArchiveImpl ar(&mem);
    for (CVariant& v : first) EXPECT_TRUE(v.Serialize(ar));
    *consumed = ar.DevicePos();
  }
  GMemStream once(true, nullptr, 0);
  {
    GDbArchiveImpl ar(&once);
    for (CVariant& v : first) v.Serialize(ar);
  }
  const std::vector<unsigned char> stored = Bytes(once);
  std::vector<CVariant> second(static_cast<size_t>(count));
  {
    GMemStream mem;
    test::Load(mem, stored);
    GDbArchiveImpl ar(&mem);
    for (CVariant& v : second) v.Serialize(ar);
  }
  GMemStream twice(true, nullptr, 0);
  {
    GDbArchiveImpl ar(&twice);
    for (CVariant& v : second) v.Serialize(ar);
  }
  EXPECT_EQ(Bytes(twice), stored);
}

TEST(HostileInput, VariantOddCodes) {
  // Each variant is followed by an int 42, which must read back: the variant
  // consumed exactly its own bytes.
  const struct {
    const char* what;
    const char* bytes;
  } cases[] = {
      {"DT_NONE", "FF FF FF FF"},
      {"INT32_MIN", "00 00 00 80"},
      {"DT_UNDEFINED", "00 00 00 00"},
      {"an owned value code below 1000, no payload", "0A 00 00 00"},
      {"a code between the scalars", "03 00 00 00"},
      {"999, just below the custom codes", "E7 03 00 00"},
      {"abstract: shared object of no registered class, framed",
       "E8 03 00 00 01 01 00  01 00 01 01 04 00 00 00 AA BB CC DD"},
      {"abstract: owned object of no registered class, save flag", "E8 03 00 00 01 00 01  01 00 00"},
      {"the project's code, shared, framed as a project",
       "DC 05 00 00 01 01 00  01 00 01 01 08 00 00 00 09 00 00 00 00 00 00 00"},
      {"unregistered code 0x7FFFFFFF, framed", "FF FF FF 7F 01 01 00  01 00 00"},
      {"present and shared flags of 0xFF", "B6 14 00 00 FF FF 00  01 00 00"},
      {"kept: unregistered code, a nested object and an empty block",
       "61 1E 00 00 01 00 01  01 00 02 07 03 00 00 00 01 00 00 08 00 00 00 00"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::vector<unsigned char> variant = Hex(c.bytes);
    long long consumed = 0;
    LoadStoreLoad(Concat(variant, Hex("2A 00 00 00")), 1, &consumed);
    EXPECT_EQ(consumed, static_cast<long long>(variant.size()));
    GMemStream mem;
    test::Load(mem, Concat(variant, Hex("2A 00 00 00")));
    GDbArchiveImpl ar(&mem);
    CVariant v;
    v.Serialize(ar);
    int next = 0;
    ar >> next;
    EXPECT_EQ(next, 42);
    EXPECT_EQ(ar.GetVersion(), 0);
  }
}

TEST(HostileInput, VariantForeignPayload) {
  // A valid code followed by the payload of another type. Where the payload
  // is framed the reader skips it and stays aligned; where it is not, what
  // follows is read as what it is, without harm. Either way what was read
  // stores and loads stably, and nothing created survives the variant.
  const struct {
    const char* what;
    const char* bytes;
    int variants;  // how many variants the bytes are read as
  } cases[] = {
      {"a string's code, a double's bytes", "E9 03 00 00  00 00 00 00 00 00 04 40", 2},
      {"a wide string's code, a narrow string's payload", "EA 03 00 00 01 00 01 03 00 00 00 61 62 63", 1},
      {"an int's code, a string's payload", "01 00 00 00  01 00 01 03 00 00 00 61 62 63", 3},
      {"a double's code, an int's bytes only", "02 00 00 00 2A 00 00 00", 1},
      {"a bool's code, the byte 7", "0F 00 00 00 07", 1},
      {"Fragile's code, a shared Holder's payload",
       "B5 14 00 00 01 00 01  01 00 01 01 0A 00 00 00 01 00 00 00 05 00 00 00 00 00", 1},
      {"Holder's code, Fragile's payload without the save flag",
       "B6 14 00 00 01 01 00  01 00 02 01 04 00 00 00 05 00 00 00 02 00 00 00 00", 1},
      {"Holder's code, Fragile's payload with the save flag",
       "B6 14 00 00 01 01 01  01 00 02 01 04 00 00 00 05 00 00 00 02 00 00 00 00", 1},
      {"a memory stream's code, an int's payload", "EB 03 00 00 01 01 01 2A 00 00 00", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Fragile::live = 0;
    Holder::live = 0;
    long long consumed = 0;
    LoadStoreLoad(Hex(c.bytes), c.variants, &consumed);
    EXPECT_LE(consumed, static_cast<long long>(Hex(c.bytes).size()));
    EXPECT_EQ(Fragile::live, 0);
    EXPECT_EQ(Holder::live, 0);
  }
}

// ---- project ------------------------------------------------------------------

TEST(HostileInput, ProjectTruncatedAtEveryByte) {
  // The project's object: version 1, one block (id 1, 8 bytes) with counter 9.
  const std::vector<unsigned char> good = Hex("01 00 01 01 08 00 00 00 09 00 00 00 00 00 00 00");
  for (size_t cut = 0; cut <= good.size(); ++cut) {
    SCOPED_TRACE(cut);
    GMemStream mem;
    test::Load(mem, std::vector<unsigned char>(good.begin(), good.begin() + static_cast<long>(cut)));
    QuietArchive ar(&mem);
    IBaseProject project;
    EXPECT_TRUE(project.Serialize(ar));
    EXPECT_EQ(ar.GetVersion(), 0);
    EXPECT_LE(ar.DevicePos(), static_cast<long long>(cut));
    EXPECT_EQ(project.GetLastUniqueID(), cut == good.size() ? 9 : 1);  // the counter only when whole
  }
}

TEST(HostileInput, ProjectHostileFraming) {
  const struct {
    const char* what;
    const char* bytes;  // a project object; an int 42 follows where `aligned`
    long long counter;
    bool aligned;
  } cases[] = {
      {"block size 0xFFFFFFFF", "01 00 01 01 FF FF FF FF 09 00 00 00 00 00 00 00", 1, false},
      {"block size past the input", "01 00 01 01 00 01 00 00 09 00 00 00 00 00 00 00", 9, false},
      {"block size past the object", "01 00 01 01 0C 00 00 00 09 00 00 00 00 00 00 00 2A 00 00 00 2A 00 00 00", 9,
       true},
      {"short counter block", "01 00 01 01 04 00 00 00 09 00 00 00", 1, true},
      {"counter -2", "01 00 01 01 08 00 00 00 FE FF FF FF FF FF FF FF", 1, true},
      {"counter 0", "01 00 01 01 08 00 00 00 00 00 00 00 00 00 00 00", 1, true},
      {"255 blocks claimed, one present", "01 00 FF 01 08 00 00 00 09 00 00 00 00 00 00 00", 9, false},
      {"255 unknown blocks claimed, two present", "01 00 FF 07 00 00 00 00 08 00 00 00 00", 1, false},
      {"a newer version, skipped whole", "02 00 01 01 08 00 00 00 09 00 00 00 00 00 00 00", 1, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<unsigned char> bytes = Hex(c.bytes);
    if (c.aligned) bytes = Concat(bytes, Hex("2A 00 00 00"));
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
      if (c.aligned) {
        int next = 0;
        ar >> next;
        EXPECT_EQ(next, 42);
      }
    }
  }
}

// ---- archive --------------------------------------------------------------------

TEST(HostileInput, ArchiveBlockPastTheInput) {
  // A block whose size reaches beyond the input: the skip ends at the input's
  // end (a memory stream) or wherever the device stops, never beyond what it
  // can deliver, and nothing reads as data.
  const std::vector<unsigned char> bytes = Hex("01 00 02 01 00 00 00 40 AA BB 02 00 00 00 00");
  for (bool memory : {true, false}) {
    GMemStream mem;
    test::FlakyDevice file(bytes);
    if (memory) test::Load(mem, bytes);
    GDbArchiveImpl ar(memory ? static_cast<GIODevice*>(&mem) : &file);
    ar.SkipObject();
    EXPECT_EQ(ar.GetVersion(), 0);
    std::string s = "old";
    ar >> s;
    EXPECT_EQ(s, "old");
    if (!memory) {
      EXPECT_LE(file.largestRead, 64u * 1024u);
    }
  }
}

// ---- property collections ----------------------------------------------------------

class OwnerOf : public IBase {
 public:
  explicit OwnerOf(int code) : m_code(static_cast<eXOMDataType>(code)) {}
  eXOMDataType GetObjectType() override { return m_code; }

 private:
  eXOMDataType m_code;
};

TEST(HostileInput, RemapToIdsOutOfRange) {
  // A client's remap may send a stored id to any 16-bit id: to a product that
  // has no name, to index 0 of a product, or to the largest id. Such
  // properties load, iterate with empty names, store and load again.
  CPropertyCollection::ClearPropertyScheme();
  OwnerOf owner(0x7181);
  for (unsigned short target : {0xFFFF, 0xFC00, 0x0400, 0x8001}) {
    SCOPED_TRACE(target);
    CPropertyCollection c(&owner);
    GMemStream mem;
    // No scheme, two properties: 1025 = 7 and 1026 = 8.
    test::Load(mem, Hex("00 02000000 0104 01000000 07000000 0204 01000000 08000000"));
    GDbArchiveImpl ar(&mem);
    (*ar.GetMapPropertyID(static_cast<eXOMDataType>(0x7181), true))[1025] = target;
    c.Serialize(ar);
    EXPECT_EQ(c.GetProperty(target).toInt(), 7);
    EXPECT_EQ(c.GetProperty(static_cast<unsigned short>(1026)).toInt(), 8);
    std::wstring product, name;
    CVariant value;
    int seen = 0;
    for (c.First(); c.Next(product, name, value);) ++seen;
    EXPECT_EQ(seen, 2);

    GMemStream out(true, nullptr, 0);
    {
      GDbArchiveImpl w(&out);
      c.Serialize(w);
    }
    CPropertyCollection back(&owner);
    GMemStream in;
    test::Load(in, Bytes(out));
    GDbArchiveImpl r(&in);
    back.Serialize(r);
    EXPECT_EQ(back.GetProperty(target).toInt(), 7);
  }
  CPropertyCollection::ClearPropertyScheme();
}

}  // namespace
}  // namespace hux
