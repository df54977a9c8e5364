// The variant's archive form: the bytes of every code, round trips, custom
// objects through the factory, and damaged or hostile input.
#include <hux/value/variant.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <hux/io/archive.h>
#include <hux/io/memstream.h>
#include <hux/object/base.h>
#include <hux/object/factory.h>

#include "test_util.h"
#include "value_test_util.h"

namespace hux {
namespace {

using test::Bytes;
using test::Hex;
using test::Node;
using test::RegisteredNode;

// ---- custom types registered for these tests --------------------------------

// An owned value type with save and load (code 5001), counted.
struct Counted {
  Counted() { ++live; }
  Counted(const Counted& other) : value(other.value) { ++live; }
  ~Counted() { --live; }
  int value = 0;
  static inline int live = 0;
};
constexpr auto kCounted = static_cast<eXOMDataType>(5001);
// The same type without save and load (code 5003).
constexpr auto kCountedNoSave = static_cast<eXOMDataType>(5003);
// A shareable IBase created only through createBaseObject (code 5004).
constexpr auto kBaseOnly = static_cast<eXOMDataType>(5004);
// An IBase that is not reference counted (code 5005), counted.
constexpr auto kNotShareable = static_cast<eXOMDataType>(5005);
// Load and save functions but no create function (code 5006).
constexpr auto kNoCreate = static_cast<eXOMDataType>(5006);

class BaseOnlyNode : public Node, public IBase {
 protected:
  ~BaseOnlyNode() override = default;
};

class PlainBase : public IBase {
 public:
  PlainBase() { ++live; }
  ~PlainBase() override { --live; }
  static inline int live = 0;
};

sClassFunctionPtr CountedRecord(bool persist) {
  sClassFunctionPtr r;
  r.className = persist ? "test Counted" : "test Counted without save";
  r.createVoidObject = [](void const* src) -> void* {
    return src ? new Counted(*static_cast<const Counted*>(src)) : new Counted;
  };
  r.deleteVoidObject = [](void* p) { delete static_cast<Counted*>(p); };
  if (persist) {
    r.saveObject = [](GDbArchive& ar, void const* p) { ar << static_cast<const Counted*>(p)->value; };
    r.loadObject = [](GDbArchive& ar, void* p) { ar >> static_cast<Counted*>(p)->value; };
  }
  return r;
}

sClassFunctionPtr BaseOnlyRecord() {
  sClassFunctionPtr r;
  r.className = FactoryClassName<BaseOnlyNode>();
  r.createBaseObject = []() -> IBase* { return new BaseOnlyNode; };
  return r;
}

sClassFunctionPtr NotShareableRecord() {
  sClassFunctionPtr r;
  r.className = FactoryClassName<PlainBase>();
  r.createBaseObject = []() -> IBase* { return new PlainBase; };
  return r;
}

sClassFunctionPtr NoCreateRecord() {
  sClassFunctionPtr r;
  r.className = "test no create";
  r.saveObject = [](GDbArchive& ar, void const* p) { ar << *static_cast<const int*>(p); };
  r.loadObject = [](GDbArchive& ar, void* p) { ar >> *static_cast<int*>(p); };
  return r;
}

const GBaseObjectFactoryHelper g_counted(kCounted, CountedRecord(true));
const GBaseObjectFactoryHelper g_countedNoSave(kCountedNoSave, CountedRecord(false));
const GBaseObjectFactoryHelper g_baseOnly(kBaseOnly, BaseOnlyRecord());
const GBaseObjectFactoryHelper g_notShareable(kNotShareable, NotShareableRecord());
const GBaseObjectFactoryHelper g_noCreate(kNoCreate, NoCreateRecord());

// ---- helpers -----------------------------------------------------------------

std::vector<unsigned char> Store(CVariant& v) {
  GMemStream mem(true, nullptr, 0);
  GDbArchiveImpl ar(&mem);
  EXPECT_TRUE(v.Serialize(ar));
  return Bytes(mem);
}

// Loads one variant from `bytes`; `consumed` receives the archive position
// afterwards.
CVariant Load(const std::vector<unsigned char>& bytes, long long* consumed = nullptr) {
  GMemStream mem;
  test::Load(mem, bytes);
  GDbArchiveImpl ar(&mem);
  CVariant v(123);  // former content, released by the load
  EXPECT_TRUE(v.Serialize(ar));
  if (consumed) *consumed = ar.DevicePos();
  return v;
}

CVariant Id(unsigned long long id) {
  CVariant v;
  v.SetObjectID(id);
  return v;
}

std::string HexOf(const std::vector<unsigned char>& bytes) {
  std::string out;
  char buf[4];
  for (unsigned char b : bytes) {
    std::snprintf(buf, sizeof buf, "%02X ", b);
    out += buf;
  }
  return out;
}

// ---- byte forms ----------------------------------------------------------------

TEST(VariantSerialize, ByteFormOfEveryCodeAndRoundTrip) {
  Node* node = new Node;
  node->Ref();
  CVariant unownedLow;
  unownedLow.SetDBValueRefPtr(node, static_cast<eXOMDataType>(5));
  CVariant unownedHigh;
  unownedHigh.SetDBValueRefPtr(node, static_cast<eXOMDataType>(4242));
  CVariant sharedNode;
  sharedNode.SetValueRefPtr(node);
  CVariant sharedStream;
  sharedStream.SetValueRefPtr(new GMemStream);
  float one = 1.0f;
  double two = 2.0;

  struct Case {
    const char* what;
    CVariant v;
    const char* bytes;
  };
  std::vector<Case> cases = {
      {"empty", CVariant(), "FF FF FF FF"},
      {"bool", CVariant(true), "0F 00 00 00 01"},
      {"bool false", CVariant(false), "0F 00 00 00 00"},
      {"int", CVariant(7), "01 00 00 00 07 00 00 00"},
      {"double", CVariant(two), "02 00 00 00 00 00 00 00 00 00 00 40"},
      {"int64", CVariant(-2LL), "0E 00 00 00 FE FF FF FF FF FF FF FF"},
      {"char", CVariant(static_cast<char>(-1)), "64 00 00 00 FF"},
      {"uchar", CVariant(static_cast<unsigned char>(200)), "65 00 00 00 C8"},
      {"short", CVariant(static_cast<short>(-2)), "66 00 00 00 FE FF"},
      {"ushort", CVariant(static_cast<unsigned short>(0x1234)), "67 00 00 00 34 12"},
      {"uint", CVariant(0x01020304u), "68 00 00 00 04 03 02 01"},
      {"float", CVariant(one), "69 00 00 00 00 00 80 3F"},
      {"uint64", CVariant(0x8877665544332211ull), "6A 00 00 00 11 22 33 44 55 66 77 88"},
      {"object id", Id(0x0102030405060708ull), "6B 00 00 00 08 07 06 05 04 03 02 01"},
      {"box", CVariant(CBox3<double>{{1, 2, 3}, {4, 5, 6}}), "0A 00 00 00"},
      {"vec2", CVariant(CVec2<double>{1, 2}), "0B 00 00 00"},
      {"vec3", CVariant(CVec3<double>{1, 2, 3}), "0C 00 00 00"},
      {"file address", CVariant(FileAddress{9}), "10 00 00 00"},
      {"coord", CVariant(CCoord3<double>{}), "15 00 00 00"},
      {"unowned below 1000", unownedLow, "05 00 00 00"},
      {"string ab", CVariant("ab"), "E9 03 00 00 01 00 01 02 00 00 00 61 62"},
      {"string empty", CVariant(""), "E9 03 00 00 01 00 01 00 00 00 00"},
      {"wstring", CVariant(L"a\U0001F600"), "EA 03 00 00 01 00 01 03 00 00 00 61 00 3D D8 00 DE"},
      {"shared, unregistered class", sharedNode, "E8 03 00 00 00 01"},
      {"shared memory stream", sharedStream, "EB 03 00 00 00 01"},
      {"unowned custom code", unownedHigh, "92 10 00 00 00 00"},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::vector<unsigned char> bytes = Store(c.v);
    EXPECT_EQ(HexOf(bytes), HexOf(Hex(c.bytes)));
    long long consumed = 0;
    const CVariant back = Load(bytes, &consumed);
    EXPECT_EQ(consumed, static_cast<long long>(bytes.size()));
    const VariantStru& in = c.v.GetVariantStru();
    const VariantStru& out = back.GetVariantStru();
    EXPECT_EQ(out.type, in.type);
    EXPECT_EQ(out.isBlank, 0);  // even for the empty variant
    EXPECT_EQ(back.IsNull(), c.v.IsNull());
    const int t = in.type;
    const bool isScalar = t == 1 || t == 2 || t == 14 || t == 15 || (t >= 100 && t <= 107);
    if (isScalar) {
      EXPECT_EQ(out.value, in.value);  // scalars and ids bit for bit
    }
    // Value objects are not persisted: the code alone, no object.
    if (in.type < 1000 && in.isObject) {
      EXPECT_EQ(out.value, 0u);
      EXPECT_EQ(out.isObject, 0);
    }
    // Strings come back as owned strings of the same text.
    EXPECT_EQ(back.toString(), c.v.toString());
    EXPECT_EQ(back.toWString(), c.v.toWString());
  }
  cases.clear();
  sharedNode = 0;
  unownedHigh = 0;
  EXPECT_EQ(node->ReferenceCount(), 1);
  node->Unref();
}

TEST(VariantSerialize, SharedObjectsComeBackAsNewSharedObjects) {
  Node::live = 0;
  {
    CVariant loaded;
    {
      CVariant v;
      RegisteredNode* original = new RegisteredNode;
      original->number = 7;
      original->payload = 9;
      v.SetValueRefPtr(static_cast<Node*>(original));
      const std::vector<unsigned char> bytes = Store(v);
      EXPECT_EQ(HexOf(bytes), HexOf(Hex("8A 13 00 00 01 01 00  01 00 01 01 0C 00 00 00  07 00 00 00  "
                                        "01 00 00 00 09 00 00 00")));
      loaded = Load(bytes);
      EXPECT_NE(loaded.GetValueRefPtr(), v.GetValueRefPtr());
    }
    EXPECT_EQ(Node::live, 1);
    const VariantStru& s = loaded.GetVariantStru();
    EXPECT_EQ(s.type, test::kRegisteredNodeCode);
    EXPECT_EQ(s.isRefPtr, 1);
    ASSERT_NE(loaded.GetValueRefPtr(), nullptr);
    EXPECT_EQ(loaded.GetValueRefPtr()->ReferenceCount(), 1);
    auto* node = dynamic_cast<RegisteredNode*>(loaded.GetValueRefPtr());
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(node->number, 7);
    EXPECT_EQ(node->payload.toInt(), 9);
  }
  EXPECT_EQ(Node::live, 0);

  // A class created only through createBaseObject, taken as shared. Its
  // class name is registered, so the variant keeps the code; it serializes
  // itself as IBase's default empty object.
  {
    CVariant v;
    v.SetValueRefPtr(new BaseOnlyNode);
    EXPECT_EQ(v.GetVariantStru().type, kBaseOnly);
    const std::vector<unsigned char> bytes = Store(v);
    EXPECT_EQ(HexOf(bytes), HexOf(Hex("8C 13 00 00 01 01 00 01 00 00")));
    long long consumed = 0;
    CVariant back = Load(bytes, &consumed);
    EXPECT_EQ(consumed, 10);
    EXPECT_NE(dynamic_cast<BaseOnlyNode*>(back.GetValueRefPtr()), nullptr);
    EXPECT_EQ(Node::live, 2);
  }
  EXPECT_EQ(Node::live, 0);
}

TEST(VariantSerialize, OwnedCustomObjectsAreDeepAndPersistThroughTheirRecord) {
  Counted::live = 0;
  {
    // Only loading makes an owned variant of a custom code: 5001, present,
    // not shared, with save function, the int 42.
    const std::vector<unsigned char> bytes = Hex("89 13 00 00 01 00 01 2A 00 00 00");
    CVariant v = Load(bytes);
    EXPECT_EQ(Counted::live, 1);
    EXPECT_EQ(v.GetVariantStru().type, kCounted);
    EXPECT_EQ(v.GetVariantStru().isObject, 1);
    const auto* held = reinterpret_cast<const Counted*>(v.GetVariantStru().value);
    ASSERT_NE(held, nullptr);
    EXPECT_EQ(held->value, 42);
    EXPECT_EQ(Store(v), bytes);
    CVariant copy(v);  // deep
    EXPECT_EQ(Counted::live, 2);
    EXPECT_NE(copy.GetVariantStru().value, v.GetVariantStru().value);
    EXPECT_EQ(reinterpret_cast<const Counted*>(copy.GetVariantStru().value)->value, 42);
    copy = v;
    v = v;
    EXPECT_EQ(Counted::live, 2);
    copy = 1;
    EXPECT_EQ(Counted::live, 1);
    // Loading into a variant that holds an object releases that object.
    GMemStream mem;
    test::Load(mem, bytes);
    GDbArchiveImpl ar(&mem);
    v.Serialize(ar);
    EXPECT_EQ(Counted::live, 1);
  }
  EXPECT_EQ(Counted::live, 0);
  {
    // Without a save function: the code and the bools 0, 0; loading gives a
    // new default object of the code.
    CVariant v = Load(Hex("8B 13 00 00 01 00 01 2A 00 00 00"));  // save flag set, but no load function
    EXPECT_EQ(v.GetVariantStru().type, kCountedNoSave);
    EXPECT_EQ(Store(v), Hex("8B 13 00 00 00 00"));
    CVariant back = Load(Store(v));
    EXPECT_EQ(back.GetVariantStru().type, kCountedNoSave);
    ASSERT_NE(back.GetVariantStru().value, 0u);
    EXPECT_EQ(reinterpret_cast<const Counted*>(back.GetVariantStru().value)->value, 0);
    EXPECT_EQ(Counted::live, 2);
  }
  EXPECT_EQ(Counted::live, 0);
}

// ---- unknown codes, damaged and hostile input -----------------------------------

TEST(VariantSerialize, ObjectsThatCannotBeLoadedAreKeptWholeAndStayAligned) {
  // Codes without a record (7777), a class that is not shareable, a record
  // with a load function but nothing to load into: the object is kept as it
  // was read and written back byte for byte; without data there is nothing
  // to keep and the code stays with a null object.
  struct Case {
    const char* what;
    const char* variant;  // the variant's bytes; an int 42 follows
    bool kept;
  };
  const Case cases[] = {
      {"owned, framed object", "61 1E 00 00 01 00 00  02 00 01 01 04 00 00 00 AA BB CC DD", true},
      {"shared, framed object", "61 1E 00 00 01 01 00  02 00 02 01 01 00 00 00 AA 02 00 00 00 00", true},
      {"save flag, framed object", "61 1E 00 00 01 00 01  05 00 00", true},
      {"not shareable", "8D 13 00 00 01 01 00  01 00 00", true},
      {"nothing to load into", "8E 13 00 00 01 00 01  01 00 00", true},
      {"not present", "61 1E 00 00 00 00", false},
      {"not present, shared", "61 1E 00 00 00 01", false},
  };
  PlainBase::live = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<unsigned char> bytes = Hex(c.variant);
    const size_t end = bytes.size();
    for (unsigned char b : Hex("2A 00 00 00")) bytes.push_back(b);
    GMemStream mem;
    test::Load(mem, bytes);
    GDbArchiveImpl ar(&mem);
    CVariant v;
    v.Serialize(ar);
    const int code = bytes[0] | bytes[1] << 8;
    EXPECT_EQ(v.GetVariantStru().type, code);
    EXPECT_FALSE(v.IsNull());
    EXPECT_EQ(v.IsKept(), c.kept);
    EXPECT_EQ(v.GetValueRefPtr(), nullptr);
    EXPECT_EQ(ar.DevicePos(), static_cast<long long>(end));
    int next = 0;
    ar >> next;
    EXPECT_EQ(next, 42);
    bool ok = true;
    EXPECT_EQ(v.toWString(&ok), L"");
    EXPECT_FALSE(ok);
    EXPECT_EQ(v.toInt64(&ok), 0);
    EXPECT_FALSE(ok);
    CVariant copy = v;
    if (c.kept) {
      const std::vector<unsigned char> written(bytes.begin(), bytes.begin() + static_cast<long>(end));
      EXPECT_EQ(copy.GetDBValueRefPtr(), v.GetDBValueRefPtr());  // one set of bytes, shared
      EXPECT_EQ(Store(copy), written);
      v = CVariant();
      EXPECT_EQ(Store(copy), written);  // still alive in the copy
    } else {
      EXPECT_EQ(v.GetVariantStru().value, 0u);  // a null object
      EXPECT_EQ(Store(v), Hex(std::string(c.variant).substr(0, 11) + " 00 00"));  // stores as not present
    }
  }
  EXPECT_EQ(PlainBase::live, 0);
  // An object the input cuts short is not kept: written back, its framing
  // would swallow whatever follows it.
  long long consumed = 0;
  CVariant cut = Load(Hex("61 1E 00 00 01 00 00  02 00 01 01 09 00 00 00 AA"), &consumed);
  EXPECT_FALSE(cut.IsKept());
  // Skipped from its start, to the end of the input (a memory stream stops a
  // seek past its end at its last byte).
  EXPECT_EQ(consumed, 15);
  EXPECT_EQ(Store(cut), Hex("61 1E 00 00 00 00"));
}

TEST(VariantSerialize, CopiesOfKeptContentLiveOnAnyThread) {
  // Copies share the kept bytes: taking and dropping copies on two threads at
  // once must neither race (ThreadSanitizer) nor free the bytes early.
  const std::vector<unsigned char> bytes = Hex("61 1E 00 00 01 00 00  01 00 01 01 01 00 00 00 AA");
  CVariant kept = Load(bytes);
  ASSERT_TRUE(kept.IsKept());
  auto churn = [&kept] {
    for (int i = 0; i < 2000; ++i) {
      CVariant copy = kept;
      CVariant moved = std::move(copy);
    }
  };
  std::thread other(churn);
  churn();
  other.join();
  EXPECT_EQ(Store(kept), bytes);
  // Kept content equals only the variant that holds it, not even a copy.
  const CVariant copy = kept;
  EXPECT_TRUE(kept == kept);
  EXPECT_FALSE(copy == kept);
  EXPECT_FALSE(kept == CVariant());
}

TEST(VariantSerialize, EveryTruncationAndByteFlipLoadsWithoutHarm) {
  // A stream of many variants of every kind; each prefix and each single-byte
  // change must load without a crash, a leak or a read past the data
  // (AddressSanitizer watches the last two).
  GMemStream mem(true, nullptr, 0);
  {
    GDbArchiveImpl ar(&mem);
    RegisteredNode* node = new RegisteredNode;
    node->number = 3;
    node->payload = L"inner text";
    CVariant shared;
    shared.SetValueRefPtr(static_cast<Node*>(node));
    CVariant values[] = {CVariant(true), CVariant("abc"), CVariant(L"\u4e2d"), CVariant(2.5), Id(9), shared,
                         CVariant(CBox3<double>{}), CVariant(-7LL)};
    for (CVariant& v : values) v.Serialize(ar);
    ar << std::string(3, 'x');
  }
  const std::vector<unsigned char> good = Bytes(mem);
  auto loadAll = [](const std::vector<unsigned char>& bytes) {
    GMemStream in;
    test::Load(in, bytes);
    GDbArchiveImpl ar(&in);
    for (int i = 0; i < 10; ++i) {
      CVariant v;
      v.Serialize(ar);
    }
  };
  for (size_t n = 0; n <= good.size(); ++n) loadAll(std::vector<unsigned char>(good.begin(), good.begin() + n));
  for (size_t i = 0; i < good.size(); ++i) {
    for (unsigned char flip : {0x01, 0x80, 0xFF}) {
      std::vector<unsigned char> bad = good;
      bad[i] ^= flip;
      loadAll(bad);
    }
  }
  EXPECT_EQ(Node::live, 0);
}

TEST(VariantSerialize, HostileCountsAllocateNoMoreThanTheInput) {
  // String variants whose counts claim 2 GiB but whose data is 3 bytes: the
  // load neither throws for lack of memory nor shows bytes it did not read.
  for (const char* bytes : {"E9 03 00 00 01 00 01 FF FF FF 7F 61 62 63", "EA 03 00 00 01 00 01 FF FF FF 7F 61 00 62"}) {
    CVariant v;
    ASSERT_NO_THROW(v = Load(Hex(bytes)));
    EXPECT_GE(v.GetVariantStru().type, DT_STRING);
    EXPECT_LE(v.toString().size(), 3u);
  }
}

TEST(VariantSerialize, NestingDepthIsBounded) {
  // Hostile input: a shared registered node whose payload is such a node,
  // nested far deeper than any real data (each level's block size is not
  // trusted by the reader, which reads the nested variant in place).
  const std::vector<unsigned char> level = Hex("8A 13 00 00 01 01 00  01 00 01 01 00 00 00 00  07 00 00 00");
  std::vector<unsigned char> bytes;
  const int levels = 20000;
  bytes.reserve(levels * level.size() + 4);
  for (int i = 0; i < levels; ++i) bytes.insert(bytes.end(), level.begin(), level.end());
  for (unsigned char b : Hex("01 00 00 00")) bytes.push_back(b);
  {
    CVariant v = Load(bytes);  // no stack overflow
    EXPECT_EQ(v.GetVariantStru().type, test::kRegisteredNodeCode);
  }
  EXPECT_EQ(Node::live, 0);

  // Real data below the bound round-trips whole.
  CVariant chain(5);
  for (int i = 0; i < 100; ++i) {
    RegisteredNode* node = new RegisteredNode;
    node->number = i;
    node->payload = chain;
    chain.SetValueRefPtr(static_cast<Node*>(node));
  }
  CVariant back = Load(Store(chain));
  const CVariant* p = &back;
  int depth = 0;
  while (auto* node = dynamic_cast<RegisteredNode*>(p->GetValueRefPtr())) {
    EXPECT_EQ(node->number, 99 - depth);
    p = &node->payload;
    ++depth;
  }
  EXPECT_EQ(depth, 100);
  EXPECT_EQ(p->toInt(), 5);
}

}  // namespace
}  // namespace hux
