// The variant's storage and ownership: codes and bits of every kind, deep
// copies of owned objects, reference counts of shared ones, and no leaks
// (live instances are counted through the factory records).
#include <hux/value/variant.h>

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <hux/object/factory.h>
#include <hux/object/referenced.h>

#include "value_test_util.h"

namespace hux {
namespace {

using test::LiveStrings;
using test::Narrow;
using test::Node;
using test::Wide;

unsigned long long Bits(const void* p, size_t n) {
  unsigned long long word = 0;
  std::memcpy(&word, p, n);
  return word;
}

TEST(Variant, ScalarsKeepTheirCodeAndBitsInline) {
  const float f = 3.5f;
  const double d = -2.25;
  const struct {
    CVariant v;
    eXOMDataType type;
    unsigned long long word;
  } cases[] = {
      {CVariant(true), DT_BOOL, 1},
      {CVariant(static_cast<char>(-1)), DT_CHAR, 0xFF},
      {CVariant(static_cast<unsigned char>(200)), DT_UCHAR, 200},
      {CVariant(static_cast<short>(-2)), DT_SHORT, 0xFFFE},
      {CVariant(static_cast<unsigned short>(65535)), DT_USHORT, 0xFFFF},
      {CVariant(-1), DT_INT, 0xFFFFFFFF},
      {CVariant(7u), DT_UINT, 7},
      {CVariant(f), DT_FLOAT, Bits(&f, 4)},
      {CVariant(-1LL), DT_INT64, ~0ull},
      {CVariant(5ULL), DT_UINT64, 5},
      {CVariant(d), DT_DOUBLE, Bits(&d, 8)},
      {CVariant(-3L), DT_INT64, static_cast<unsigned long long>(-3LL)},
      {CVariant(std::size_t{9}), DT_UINT64, 9},
  };
  static_assert(sizeof(CVariant) == sizeof(VariantStru), "one storage record, no vtable");
  EXPECT_EQ(CVariant().GetVariantStru().isBlank, 1);
  for (const auto& c : cases) {
    // The assignment stores as the constructor does, over any former content
    // (the rest of the word cleared).
    CVariant a(L"former text");
    a = c.v;
    for (const VariantStru* s : {&c.v.GetVariantStru(), &a.GetVariantStru()}) {
      EXPECT_EQ(s->type, c.type);
      EXPECT_EQ(s->value, c.word) << c.type;
      EXPECT_EQ(s->isBlank + s->isRefPtr + s->isObject, 0) << c.type;
    }
  }
}

TEST(Variant, StringsAreOwnedCopies) {
  LiveStrings live;
  {
    std::string source = "abc";
    CVariant a(source);
    source = "changed";
    EXPECT_EQ(Narrow(a), "abc");
    CVariant b(a);
    EXPECT_NE(a.GetVariantStru().value, b.GetVariantStru().value);
    const_cast<std::string&>(Narrow(b)) = "other";
    EXPECT_EQ(Narrow(a), "abc");
    CVariant c(L"wide \u4e2d");
    EXPECT_EQ(Wide(c), L"wide \u4e2d");
    c = 5;  // the string is destroyed before the int is stored
    EXPECT_EQ(live.count(), 2);
    a = std::wstring(L"w");
    b = "x";
    EXPECT_EQ(live.count(), 2);
    EXPECT_EQ(live.created(), 5) << "functions a module put in the record make every stored string";
    CVariant e(static_cast<const char*>(nullptr));  // no crash: the empty string
    EXPECT_EQ(Narrow(e), "");
    EXPECT_EQ(Wide(CVariant(static_cast<const wchar_t*>(nullptr))), L"");
    // Self-assignment and a source that is the variant's own object.
    a = a;
    b = Narrow(b);
    EXPECT_EQ(Narrow(b), "x");
    a = Wide(a).c_str();
    EXPECT_EQ(Wide(a), L"w");
  }
  EXPECT_EQ(live.count(), 0);
  // A source that lives inside the shared object the target releases.
  Node::live = 0;
  {
    Node* node = new Node;
    node->payload = CVariant("inner");
    CVariant holder;
    holder.SetValueRefPtr(node);  // the only reference
    holder = node->payload;       // releasing the node frees the source
    EXPECT_EQ(Narrow(holder), "inner");
    EXPECT_EQ(Node::live, 0);
  }
  EXPECT_EQ(live.count(), 0);
}

TEST(Variant, TextOverTextReusesTheHeldStringAndReleasedOnesServeIntact) {
  const std::string texts[] = {"", "twelve chars", std::string(64, 'x'), std::string(65, 'y'), std::string(300, 'z')};
  CVariant narrow(""), wide(L"");
  const auto narrowObject = narrow.GetVariantStru().value;
  const auto wideObject = wide.GetVariantStru().value;
  std::vector<CVariant> held;
  for (int round = 0; round < 3; ++round) {
    for (const std::string& text : texts) {
      const std::wstring w(text.begin(), text.end());
      narrow = text;
      wide = w;
      EXPECT_EQ(Narrow(narrow), text);
      EXPECT_EQ(Wide(wide), w);
      {
        CVariant a(text), b(w);  // released to the thread's kept strings
        held.push_back(a);
        held.push_back(b);
      }
      held.push_back(held[held.size() - 2]);
      CVariant copy(narrow);
      copy = std::string("other");
      EXPECT_EQ(Narrow(narrow), text) << "a copy owns its own string";
    }
  }
  EXPECT_EQ(narrow.GetVariantStru().value, narrowObject);
  EXPECT_EQ(wide.GetVariantStru().value, wideObject);
  for (size_t i = 0; i < held.size(); i += 3) {
    const std::string& text = texts[i / 3 % std::size(texts)];
    EXPECT_EQ(Narrow(held[i]), text);
    EXPECT_EQ(Wide(held[i + 1]), std::wstring(text.begin(), text.end()));
    EXPECT_EQ(Narrow(held[i + 2]), text);
  }
  wide = std::string("narrow now");
  EXPECT_EQ(Narrow(wide), "narrow now");
  // A thread's variant released after the thread's kept strings are freed.
  std::thread([] {
    thread_local CVariant late(std::string("late"));
    CVariant(std::string("kept")) = late;
    EXPECT_EQ(Narrow(late), "late");
  }).join();
}

TEST(Variant, SharedObjectsAreCountedOncePerVariant) {
  Node::live = 0;
  Node* node = new Node;
  node->Ref();  // the test's own reference
  {
    CVariant a;
    a.SetValueRefPtr(node);
    EXPECT_EQ(a.GetVariantStru().type, DT_REF_OBJECT);  // class not registered
    EXPECT_EQ(a.GetVariantStru().isRefPtr + a.GetVariantStru().isObject, 2);
    CVariant b(a), c;
    c = b;
    EXPECT_EQ(node->ReferenceCount(), 4);
    c = 1;  // drops its reference
    a.SetValueRefPtr(node);  // the same object again: still one reference
    CVariant moved(std::move(b));
    EXPECT_EQ(node->ReferenceCount(), 3);
    EXPECT_TRUE(b.IsNull());
  }
  EXPECT_EQ(node->ReferenceCount(), 1);
  node->Unref();
  {
    // Re-setting the only reference does not destroy the object on the way.
    CVariant a;
    a.SetValueRefPtr(new Node);
    a.SetValueRefPtr(a.GetValueRefPtr());
    EXPECT_EQ(a.GetValueRefPtr()->ReferenceCount(), 1);
    a.SetValueRefPtr(nullptr);
    EXPECT_TRUE(a.IsNull());
    EXPECT_EQ(Node::live, 0);
    a.SetValueRefPtr(new test::RegisteredNode);
    EXPECT_EQ(a.GetVariantStru().type, test::kRegisteredNodeCode);
  }
  EXPECT_EQ(Node::live, 0);
}

TEST(Variant, UnownedPointersAndIdsCarryNoLifetime) {
  Node::live = 0;
  Node* node = new Node;
  node->Ref();
  {
    CVariant v;
    v.SetDBValueRefPtr(node, static_cast<eXOMDataType>(4242));
    EXPECT_EQ(v.GetValueRefPtr(), nullptr);
    CVariant copy(v);
    EXPECT_EQ(copy.GetDBValueRefPtr(), node);
  }
  EXPECT_EQ(node->ReferenceCount(), 1);
  node->Unref();
  bool ok = false;
  EXPECT_EQ(test::Id(42).toObjectID(&ok), 42u);
  EXPECT_TRUE(ok);
  EXPECT_EQ(CVariant(42).toObjectID(&ok), 0u);
  EXPECT_FALSE(ok);
}

TEST(Variant, EqualityComparesCodeAndValue) {
  Node* node = new Node;
  CVariant shared, sameShared, otherShared, unowned;
  shared.SetValueRefPtr(node);
  sameShared.SetValueRefPtr(node);
  otherShared.SetValueRefPtr(new Node);
  unowned.SetDBValueRefPtr(node, DT_REF_OBJECT);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const struct {
    CVariant a, b;
    bool equal;
  } cases[] = {
      {CVariant(), CVariant(), true},
      {CVariant(), CVariant(0), false},
      {CVariant(7), CVariant(7), true},
      {CVariant(7), CVariant(8), false},
      {CVariant(7), CVariant(7LL), false},  // another code
      {CVariant(0.0), CVariant(-0.0), true},
      {CVariant(nan), CVariant(nan), false},
      {CVariant(1.5f), CVariant(1.5f), true},
      {CVariant("abc"), CVariant(std::string("abc")), true},
      {CVariant("abc"), CVariant("abd"), false},
      {CVariant("abc"), CVariant(L"abc"), false},
      {CVariant(L"\u4e2d"), CVariant(L"\u4e2d"), true},
      {CVariant(CVec3<double>{1, 2, 3}), CVariant(CVec3<double>{1, 2, 3}), true},
      {CVariant(CVec3<double>{1, 2, 3}), CVariant(CVec3<double>{1, 2, 4}), false},
      {CVariant(CBox3<double>{{0, 0, 0}, {1, 1, 1}}), CVariant(CBox3<double>{{0, 0, 0}, {1, 1, 2}}), false},
      {CVariant(FileAddress{9}), CVariant(FileAddress{9}), true},
      {shared, sameShared, true},
      {shared, otherShared, false},
      {test::Id(5), test::Id(5), true},
      {test::Id(5), CVariant(5ULL), false},
      {unowned, unowned, true},
      {unowned, shared, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.a == c.b, c.equal) << c.a.GetVariantStru().type << " vs " << c.b.GetVariantStru().type;
    EXPECT_EQ(c.b != c.a, !c.equal);
  }
}

TEST(Variant, VectorsOfVariantsMoveWithoutCopying) {
  LiveStrings live;
  {
    std::vector<CVariant> values;
    for (int i = 0; i < 100; ++i) values.emplace_back(std::to_string(i));
    EXPECT_EQ(live.created(), 100);  // growth moved them, never copied
    std::vector<CVariant> copy = values;
    values.erase(values.begin(), values.begin() + 50);
    EXPECT_EQ(live.count(), 150);
    EXPECT_EQ(Narrow(values.front()), "50");
  }
  EXPECT_EQ(live.count(), 0);
}

TEST(VariantRegistrations, StringAndValueRecordsAreMerged) {
  GBaseObjectFactory& f = GetBaseObjectFactory();
  for (eXOMDataType code : {DT_STRING, DT_WSTRING}) {
    const sClassFunctionPtr* r = f.GetFunctionPtr(code);
    EXPECT_TRUE(r && r->createVoidObject && r->deleteVoidObject && r->saveObject && r->loadObject) << code;
  }
  // Value objects are found by class name, are not persisted, and a null
  // source gives a zero object.
  const std::pair<eXOMDataType, size_t> values[] = {
      {DT_LOCAL_BOX, sizeof(LocalBox)},     {DT_LOCAL_VEC2D, sizeof(LocalVec2d)},
      {DT_LOCAL_VEC3D, sizeof(LocalVec3d)}, {DT_FILE_ADDRESS, sizeof(FileAddress)},
      {DT_LOCAL_COORD3D, sizeof(LocalCoord3d)},
  };
  for (const auto& [code, size] : values) {
    const sClassFunctionPtr* r = f.GetFunctionPtr(code);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(CVariant::GetDataTypeFromClassName(r->className.c_str()), code);
    EXPECT_EQ(r->saveObject, nullptr);
    void* zero = r->createVoidObject(nullptr);
    EXPECT_EQ(std::memcmp(zero, std::string(size, '\0').data(), size), 0);
    r->deleteVoidObject(zero);
  }
  EXPECT_EQ(CVariant::GetDataTypeFromClassName(nullptr), DT_NONE);
  EXPECT_STREQ(GetDataTypeName(DT_LOCAL_COORD3D), "DT_LOCAL_COORD3D");
  EXPECT_STREQ(GetDataTypeName(static_cast<eXOMDataType>(-1)), "DT_NONE");
  EXPECT_EQ(GetDataTypeName(static_cast<eXOMDataType>(3)), nullptr);
}

}  // namespace
}  // namespace hux
