// The variant's archive form: the bytes of every code, custom objects through
// the factory, kept objects, and damaged or hostile input.
#include <hux/value/variant.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "value_test_util.h"

namespace hux {
namespace {

using test::Hex;
using test::Node;
using test::RegisteredNode;

// Made only through createBaseObject (code 5004); an IBase that is not
// reference counted (5005); load and save but no create function (5006).
struct Counted {
  int value = 0;
};
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

sClassFunctionPtr NoCreateRecord() {
  sClassFunctionPtr r;
  r.className = "test no create";
  r.saveObject = [](GDbArchive& ar, void const* p) { ar << static_cast<const Counted*>(p)->value; };
  r.loadObject = [](GDbArchive& ar, void* p) { ar >> static_cast<Counted*>(p)->value; };
  return r;
}

template <class T>
sClassFunctionPtr BaseRecord() {
  sClassFunctionPtr r;
  r.className = FactoryClassName<T>();
  r.createBaseObject = []() -> IBase* { return new T; };
  return r;
}

const GBaseObjectFactoryHelper g_baseOnly(static_cast<eXOMDataType>(5004), BaseRecord<BaseOnlyNode>());
const GBaseObjectFactoryHelper g_notShareable(static_cast<eXOMDataType>(5005), BaseRecord<PlainBase>());
const GBaseObjectFactoryHelper g_noCreate(static_cast<eXOMDataType>(5006), NoCreateRecord());

std::vector<unsigned char> Store(const CVariant& v) { return test::Store({v}); }

CVariant Load(const std::vector<unsigned char>& bytes, long long* consumed = nullptr) {
  return test::LoadVariants(bytes, 1, consumed)[0];
}

TEST(VariantSerialize, ByteFormOfEveryCodeAndRoundTrip) {
  Node* node = new Node;
  node->Ref();
  CVariant unownedLow, unownedHigh, sharedNode;
  unownedLow.SetDBValueRefPtr(node, static_cast<eXOMDataType>(5));
  unownedHigh.SetDBValueRefPtr(node, static_cast<eXOMDataType>(4242));
  sharedNode.SetValueRefPtr(node);
  std::vector<std::pair<CVariant, const char*>> cases = {
      {CVariant(), "FF FF FF FF"},
      {CVariant(true), "0F 00 00 00 01"},
      {CVariant(7), "01 00 00 00 07 00 00 00"},
      {CVariant(2.0), "02 00 00 00 00 00 00 00 00 00 00 40"},
      {CVariant(-2LL), "0E 00 00 00 FE FF FF FF FF FF FF FF"},
      {CVariant(static_cast<char>(-1)), "64 00 00 00 FF"},
      {CVariant(static_cast<short>(-2)), "66 00 00 00 FE FF"},
      {CVariant(1.0f), "69 00 00 00 00 00 80 3F"},
      {CVariant(0x8877665544332211ull), "6A 00 00 00 11 22 33 44 55 66 77 88"},
      {test::Id(0x0102030405060708ull), "6B 00 00 00 08 07 06 05 04 03 02 01"},
      {CVariant(CBox3<double>{{1, 2, 3}, {4, 5, 6}}), "0A 00 00 00"},
      {unownedLow, "05 00 00 00"},
      {CVariant("ab"), "E9 03 00 00 01 00 01 02 00 00 00 61 62"},
      {CVariant(L"a\U0001F600"), "EA 03 00 00 01 00 01 03 00 00 00 61 00 3D D8 00 DE"},
      {sharedNode, "E8 03 00 00 00 01"},  // shared, of an unregistered class
      {unownedHigh, "92 10 00 00 00 00"},
  };
  for (auto& [v, hex] : cases) {
    const std::vector<unsigned char> bytes = Store(v);
    EXPECT_EQ(bytes, Hex(hex));
    long long consumed = 0;
    const CVariant back = Load(bytes, &consumed);
    EXPECT_EQ(consumed, static_cast<long long>(bytes.size())) << hex;
    EXPECT_EQ(back.GetVariantStru().type, v.GetVariantStru().type) << hex;
    EXPECT_EQ(back.toWString(), v.toWString()) << hex;
  }
  cases.clear();
  sharedNode = unownedHigh = 0;
  EXPECT_EQ(node->ReferenceCount(), 1);
  node->Unref();
}

TEST(VariantSerialize, SharedObjectsComeBackAsNewSharedObjects) {
  Node::live = 0;
  {
    CVariant v, loaded;
    RegisteredNode* original = new RegisteredNode;
    original->number = 7;
    original->payload = 9;
    v.SetValueRefPtr(static_cast<Node*>(original));
    const std::vector<unsigned char> bytes = Store(v);
    EXPECT_EQ(bytes, Hex("8A 13 00 00 01 01 00  01 00 01 01 0C 00 00 00  07 00 00 00  01 00 00 00 09 00 00 00"));
    loaded = Load(bytes);
    v = 0;
    EXPECT_EQ(Node::live, 1);
    auto* node = dynamic_cast<RegisteredNode*>(loaded.GetValueRefPtr());
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(node->number, 7);
    EXPECT_EQ(node->payload.toInt(), 9);
    // A class made only through createBaseObject, as IBase's empty object.
    v.SetValueRefPtr(new BaseOnlyNode);
    EXPECT_EQ(Store(v), Hex("8C 13 00 00 01 01 00 01 00 00"));
    EXPECT_NE(dynamic_cast<BaseOnlyNode*>(Load(Store(v)).GetValueRefPtr()), nullptr);
  }
  EXPECT_EQ(Node::live, 0);
}

TEST(VariantSerialize, ObjectsThatCannotBeLoadedAreKeptWholeAndSharedByCopiesOnAnyThread) {
  // No record (7777), not shareable, nothing to load into: kept byte for byte;
  // without data, the code with a null object.
  const struct {
    const char* variant;  // the variant's bytes; an int 42 follows
    bool kept;
  } cases[] = {
      {"61 1E 00 00 01 00 00  02 00 01 01 04 00 00 00 AA BB CC DD", true},           // owned, framed
      {"61 1E 00 00 01 01 00  02 00 02 01 01 00 00 00 AA 02 00 00 00 00", true},     // shared, framed
      {"61 1E 00 00 01 00 01  05 00 00", true},                                      // save flag
      {"8D 13 00 00 01 01 00  01 00 00", true},                                      // not shareable
      {"8E 13 00 00 01 00 01  01 00 00", true},                                      // nothing to load into
      {"61 1E 00 00 00 00", false},                                                  // not present
      {"61 1E 00 00 00 01", false},                                                  // not present, shared
  };
  PlainBase::live = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.variant);
    const std::vector<unsigned char> written = Hex(c.variant);
    GMemStream mem;
    test::Load(mem, Hex(std::string(c.variant) + " 2A 00 00 00"));
    GDbArchiveImpl ar(&mem);
    CVariant v;
    v.Serialize(ar);
    EXPECT_EQ(v.GetVariantStru().type, written[0] | written[1] << 8);
    EXPECT_EQ(v.IsKept(), c.kept);
    EXPECT_EQ(v.GetValueRefPtr(), nullptr);
    int next = 0;
    ar >> next;
    EXPECT_EQ(next, 42);
    CVariant copy = v;
    if (c.kept) {
      EXPECT_EQ(copy.GetDBValueRefPtr(), v.GetDBValueRefPtr());  // one set of bytes, shared
      EXPECT_FALSE(copy == v) << "kept content equals only the variant that holds it";
      v = CVariant();
      // Copies taken and dropped on two threads at once neither race nor free the bytes early.
      auto churn = [&copy] {
        for (int i = 0; i < 1000; ++i) {
          CVariant taken = copy;
          CVariant moved = std::move(taken);
        }
      };
      std::thread other(churn);
      churn();
      other.join();
      EXPECT_EQ(Store(copy), written);  // still alive in the copy
    } else {
      EXPECT_EQ(v.GetVariantStru().value, 0u);  // a null object
      EXPECT_EQ(Store(v), Hex(std::string(c.variant).substr(0, 11) + " 00 00"));  // stores as not present
    }
  }
  EXPECT_EQ(PlainBase::live, 0);
  // Cut short: not kept (its framing would swallow what follows), skipped to the end.
  long long consumed = 0;
  CVariant cut = Load(Hex("61 1E 00 00 01 00 00  02 00 01 01 09 00 00 00 AA"), &consumed);
  EXPECT_FALSE(cut.IsKept());
  EXPECT_EQ(consumed, 15);
  EXPECT_EQ(Store(cut), Hex("61 1E 00 00 00 00"));
}

TEST(VariantSerialize, DamagedAndHostileInputLoadsWithoutHarm) {
  // Every prefix and single-byte change loads without a crash, leak or overread.
  RegisteredNode* node = new RegisteredNode;
  node->number = 3;
  node->payload = L"inner text";
  CVariant shared;
  shared.SetValueRefPtr(static_cast<Node*>(node));
  const std::vector<unsigned char> good = test::Store({CVariant(true), CVariant("abc"), CVariant(L"\u4e2d"), CVariant(2.5),
                                                      test::Id(9), shared, CVariant(CBox3<double>{})});
  for (size_t n = 0; n <= good.size(); ++n) test::LoadVariants({good.begin(), good.begin() + n}, 10);
  for (size_t i = 0; i < good.size(); ++i) {
    for (unsigned char flip : {0x01, 0x80, 0xFF}) {
      std::vector<unsigned char> bad = good;
      bad[i] ^= flip;
      test::LoadVariants(bad, 10);
    }
  }
}

TEST(VariantSerialize, NestingDepthIsBounded) {
  // Nodes whose payload is such a node, nested far deeper than real data.
  const std::vector<unsigned char> level = Hex("8A 13 00 00 01 01 00  01 00 01 01 00 00 00 00  07 00 00 00");
  std::vector<unsigned char> bytes;
  for (int i = 0; i < 20000; ++i) bytes.insert(bytes.end(), level.begin(), level.end());
  for (unsigned char b : Hex("01 00 00 00")) bytes.push_back(b);
  Node::live = 0;
  EXPECT_EQ(Load(bytes).GetVariantStru().type, test::kRegisteredNodeCode);  // no stack overflow
  EXPECT_EQ(Node::live, 0);
}

}  // namespace
}  // namespace hux
