// The variant's storage and ownership: owned strings, reuse of held text,
// reference counts of shared objects, and equality.
#include <hux/value/variant.h>

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <hux/object/referenced.h>

#include "value_test_util.h"

namespace hux {
namespace {

using test::Node;

const std::string& Narrow(const CVariant& v) { return *reinterpret_cast<const std::string*>(v.GetVariantStru().value); }
const std::wstring& Wide(const CVariant& v) { return *reinterpret_cast<const std::wstring*>(v.GetVariantStru().value); }

// While alive, counts the strings the factory makes and destroys for variants
// (the records of both string codes are wrapped, then restored).
struct LiveStrings {
  using Pair = std::pair<void* (*)(void const*), void (*)(void*)>;
  LiveStrings() {
    Wrap(0, {&Make<0>, &Drop<0>});
    Wrap(1, {&Make<1>, &Drop<1>});
    live = created = 0;
  }
  ~LiveStrings() {
    Wrap(0, saved[0]);
    Wrap(1, saved[1]);
  }
  static void Wrap(int k, Pair with) {
    sClassFunctionPtr* r = GetBaseObjectFactory().GetFunctionPtr(k ? DT_WSTRING : DT_STRING);
    saved[k] = {r->createVoidObject, r->deleteVoidObject};
    r->createVoidObject = with.first;
    r->deleteVoidObject = with.second;
  }
  template <int K>
  static void* Make(void const* source) {
    ++live;
    ++created;
    return saved[K].first(source);
  }
  template <int K>
  static void Drop(void* object) {
    live -= object != nullptr;
    saved[K].second(object);
  }
  static inline Pair saved[2]{};
  static inline int live = 0, created = 0;
};

TEST(Variant, StringsAreOwnedCopies) {
  LiveStrings live;
  {
    std::string source = "abc";
    CVariant a(source);
    source = "changed";
    CVariant b(a);
    const_cast<std::string&>(Narrow(b)) = "other";
    EXPECT_EQ(Narrow(a), "abc");
    CVariant c(L"wide \u4e2d");
    c = 5;  // the string is destroyed before the int is stored
    a = std::wstring(L"w");
    b = "x";
    EXPECT_EQ(live.live, 2);
    EXPECT_EQ(live.created, 5) << "functions a module put in the record make every stored string";
    EXPECT_EQ(Narrow(CVariant(static_cast<const char*>(nullptr))), "");
    // Sources that are the variant itself or its own object.
    a = a;
    b = Narrow(b);
    a = Wide(a).c_str();
    EXPECT_EQ(Narrow(b) + "/" + CVariant(Wide(a)).toString(), "x/w");
  }
  EXPECT_EQ(live.live, 0);
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
  EXPECT_EQ(live.live, 0);
}

TEST(Variant, TextOverTextReusesTheHeldStringAndReleasedOnesServeIntact) {
  const std::string texts[] = {"", "twelve chars", std::string(65, 'y'), std::string(300, 'z')};
  CVariant narrow(""), wide(L"");
  const auto narrowObject = narrow.GetVariantStru().value;
  const auto wideObject = wide.GetVariantStru().value;
  std::vector<CVariant> held;
  for (int round = 0; round < 2; ++round) {
    for (const std::string& text : texts) {
      narrow = text;
      wide = std::wstring(text.begin(), text.end());
      {
        CVariant a(text);  // released to the thread's kept strings
        held.push_back(a);
      }
      CVariant copy(narrow);
      copy = std::string("other");
      EXPECT_EQ(Narrow(narrow), text) << "a copy owns its own string";
    }
  }
  EXPECT_EQ(narrow.GetVariantStru().value, narrowObject);
  EXPECT_EQ(wide.GetVariantStru().value, wideObject);
  EXPECT_EQ(Wide(wide), std::wstring(300, L'z'));
  for (size_t i = 0; i < held.size(); ++i) EXPECT_EQ(Narrow(held[i]), texts[i % std::size(texts)]);
  // A thread's variant released after the thread's kept strings are freed.
  std::thread([] {
    thread_local CVariant late(std::string("late"));
    CVariant(std::string("kept")) = late;
  }).join();
}

TEST(Variant, SharedObjectsAreCountedOncePerVariantAndUnownedOnesNotAtAll) {
  Node::live = 0;
  Node* node = new Node;
  {
    CVariant a, unowned;
    a.SetValueRefPtr(node);
    CVariant b(a);
    a.SetValueRefPtr(node);  // the same object again: still one reference
    unowned.SetDBValueRefPtr(node, static_cast<eXOMDataType>(4242));
    CVariant copy(unowned);
    EXPECT_EQ(copy.GetDBValueRefPtr(), node);
    EXPECT_EQ(node->ReferenceCount(), 2);
  }
  EXPECT_EQ(Node::live, 0);
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
      {CVariant(7), CVariant(7), true},
      {CVariant(7), CVariant(8), false},
      {CVariant(7), CVariant(7LL), false},  // another code
      {CVariant(nan), CVariant(nan), false},
      {CVariant("abc"), CVariant(std::string("abc")), true},
      {CVariant(CVec3<double>{1, 2, 3}), CVariant(CVec3<double>{1, 2, 3}), true},
      {CVariant(CBox3<double>{{0, 0, 0}, {1, 1, 1}}), CVariant(CBox3<double>{{0, 0, 0}, {1, 1, 2}}), false},
      {shared, sameShared, true},
      {shared, otherShared, false},
      {unowned, unowned, true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.a == c.b, c.equal) << c.a.GetVariantStru().type << " vs " << c.b.GetVariantStru().type;
    EXPECT_EQ(c.b != c.a, !c.equal);
  }
}

}  // namespace
}  // namespace hux
