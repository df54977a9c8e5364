// Property collections in memory: ids per class and product, by-name and
// by-id access, iteration, copies, the limits of the packed ids, and the
// UTF-16 order of the scheme tables.
#include <hux/value/property.h>

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "property_test_util.h"

namespace hux {
namespace {

using test::Owner;
using test::Tables;
using test::Visit;
using Visited = std::vector<std::tuple<std::wstring, std::wstring, int>>;

class PropertyCollection : public ::testing::Test {
 protected:
  void SetUp() override { CPropertyCollection::ClearPropertyScheme(); }
  void TearDown() override { CPropertyCollection::ClearPropertyScheme(); }
};

TEST_F(PropertyCollection, NumbersNamesPerClassAndProductInOrderOfFirstUse) {
  Owner owner(7201), other(7202);
  CPropertyCollection c(&owner), same(&owner), d(&other);
  const struct {
    CPropertyCollection* c;
    const wchar_t* product;
    const wchar_t* name;
    unsigned short id;
  } steps[] = {
      {&c, L"HUX", L"W", 1025},    {&c, L"HUX", L"V", 1026},   {&same, L"HUX", L"U", 1027},
      {&same, L"HUX", L"W", 1025}, {&c, L"ACME", L"X", 2049},  {&c, L"ACME", L"W", 2050},
      {&d, L"HUX", L"V", 1025},    {&d, L"ACME", L"V", 2049},  {&c, L"HUX", L"U", 1027},
  };
  int n = 0;
  for (const auto& s : steps) {
    ASSERT_TRUE(s.c->SetActiveProduct(s.product));
    EXPECT_TRUE(s.c->SetProperty(s.name, CVariant(++n)));
    EXPECT_EQ(s.c->GetPropertyID(s.name).Packed(), s.id) << n;
    EXPECT_EQ(s.c->GetProperty(s.id).toInt(), n) << n;
    std::wstring product, name;
    s.c->GetPropertyName(sPropertyID::FromPacked(s.id), product, name);
    EXPECT_EQ(product + L"/" + name, std::wstring(s.product) + L"/" + s.name);
  }
}

TEST_F(PropertyCollection, UnknownNamesRemovalAndIteration) {
  Owner owner(7203);
  CPropertyCollection c(&owner);
  EXPECT_TRUE(c.GetProperty(L"never").IsNull());  // the class has no scheme yet
  c.SetProperty(L"a", CVariant(1));
  EXPECT_TRUE(c.GetPropertyID(L"never").IsNull());
  EXPECT_FALSE(c.RemoveProperty(L"never"));
  // Id 0 is what unknown names resolve to; were it stored, they would find it.
  EXPECT_FALSE(c.SetProperty(static_cast<unsigned short>(0), CVariant(5)));
  EXPECT_TRUE(c.GetProperty(L"never").IsNull());
  c.SetProperty(L"b", CVariant(2));
  EXPECT_EQ(c.GetPropertyID(L"b").Packed(), 1026);  // "never" took no index
  EXPECT_TRUE(c.RemoveProperty(L"a"));
  EXPECT_TRUE(c.GetProperty(L"a").IsNull());
  c.SetProperty(L"a", CVariant(3));
  EXPECT_EQ(c.GetProperty(static_cast<unsigned short>(1025)).toInt(), 3);
  // Iteration goes by packed id across products.
  c.SetActiveProduct(L"ACME");
  c.SetProperty(L"a", CVariant(4));
  c.SetActiveProduct(L"HUX");
  c.SetProperty(static_cast<unsigned short>(5 * 1024 + 9), CVariant(5));  // no name anywhere
  EXPECT_EQ(Visit(c), (Visited{{L"HUX", L"a", 3}, {L"HUX", L"b", 2}, {L"ACME", L"a", 4}, {L"", L"", 5}}));
  // Removing the property the iteration stands on does not derail it.
  std::wstring product, name;
  CVariant value;
  c.First();
  c.Next(product, name, value);
  c.RemoveProperty(L"b");
  ASSERT_TRUE(c.Next(product, name, value));
  EXPECT_EQ(value.toInt(), 4);
}

TEST_F(PropertyCollection, CopiesAreDeepAndCopyFromKeepsOwnerAndProduct) {
  Owner a(7206), b(7207);
  CPropertyCollection src(&a);
  src.SetActiveProduct(L"ACME");
  src.SetProperty(L"text", CVariant(L"one"));
  CPropertyCollection copy(src), target(&b);
  src.SetProperty(L"text", CVariant(L"two"));
  EXPECT_EQ(copy.GetProperty(L"text").toWString(), L"one");
  target.SetProperty(L"old", CVariant(1));
  target.CopyFrom(src);
  EXPECT_EQ(target.GetObject(), &b);
  EXPECT_EQ(target.GetActiveProduct(), L"HUX");
  EXPECT_EQ(Visit(target).size(), 1u);
  target = copy;
  EXPECT_EQ(target.GetObject(), &a);
  EXPECT_EQ(target.GetProperty(L"text").toWString(), L"one");
}

TEST_F(PropertyCollection, WithoutOwnerByNameFindsAndStoresNothing) {
  CPropertyCollection c;
  EXPECT_FALSE(c.SetProperty(L"a", CVariant(2)));
  EXPECT_FALSE(c.RemoveProperty(L"a"));
  EXPECT_EQ(c.FindActiveSchemeIDName(), nullptr);
  EXPECT_TRUE(c.AssignPropertyID(L"HUX", 1, L"b").IsNull());
  EXPECT_TRUE(Tables::Classes().empty());
  c.SetProperty(static_cast<unsigned short>(1025), CVariant(3));
  EXPECT_EQ(Visit(c), (Visited{{L"", L"", 3}}));
}

TEST_F(PropertyCollection, RefusesIdsPastTheLimitsInsteadOfColliding) {
  Owner owner(7209);
  CPropertyCollection c(&owner);  // HUX 1
  for (int i = 2; i <= 63; ++i) ASSERT_EQ(CPropertyCollection::AssignProducutID(L"P" + std::to_wstring(i)), i);
  EXPECT_EQ(CPropertyCollection::AssignProducutID(L"P64"), 0);
  EXPECT_EQ(Tables::Products().count(L"P64"), 0u);
  EXPECT_FALSE(c.SetActiveProduct(L"P64"));
  EXPECT_EQ(c.GetActiveProduct(), L"HUX");
  for (int i = 1; i <= 1023; ++i) ASSERT_TRUE(c.SetProperty(L"n" + std::to_wstring(i), CVariant(i)));
  EXPECT_FALSE(c.SetProperty(L"n1024", CVariant(1024)));
  EXPECT_EQ(c.GetProperty(static_cast<unsigned short>(1025)).toInt(), 1);  // nothing overwritten
  EXPECT_EQ(Visit(c).size(), 1023u);
  // Once the top id is taken (only loaded tables leave holes below it), the
  // lowest free id is next.
  Tables::Products().erase(L"P2");
  EXPECT_EQ(CPropertyCollection::AssignProducutID(L"NEW"), 2);
  auto& hux = Tables::Classes()[static_cast<eXOMDataType>(7209)].mapProductScheme[L"HUX"];
  hux.mapNameToID.erase(hux.mapIDToName.extract(sPropertyID(1, 7)).mapped());
  EXPECT_EQ(c.AssignPropertyID(L"HUX", 0, L"n1024").Packed(), 1024 + 7);
  // A stale product id cannot share ids across products.
  CPropertyCollection::ClearPropertyScheme();  // c keeps HUX's id 1 from before
  ASSERT_EQ(CPropertyCollection::AssignProducutID(L"ACME"), 1);
  c.SetProperty(L"a", CVariant(1));
  EXPECT_EQ(c.GetPropertyID(L"a").Packed(), 2 * 1024 + 1);
  EXPECT_EQ(c.AssignPropertyID(L"HUX", 1, L"b").Packed(), 2 * 1024 + 2);
}

// The reference: UTF-16 units compared as numbers, then the characters.
bool ReferenceLess(const std::wstring& a, const std::wstring& b) {
  auto units = [](const std::wstring& s) {
    std::u16string out;
    for (wchar_t w : s) {
      const auto c = static_cast<char32_t>(w);
      if (c > 0x10FFFF) out.push_back(u'\xFFFD');
      if (c > 0xFFFF && c <= 0x10FFFF) out += {char16_t(0xD800 + ((c - 0x10000) >> 10)), char16_t(0xDC00 + (c & 0x3FF))};
      if (c <= 0xFFFF) out.push_back(static_cast<char16_t>(c));
    }
    return out;
  };
  const std::u16string ua = units(a), ub = units(b);
  return ua != ub ? ua < ub : std::u32string(a.begin(), a.end()) < std::u32string(b.begin(), b.end());
}

TEST(PropertyOrder, WideStringsOrderByUtf16Units) {
  const WStringUtf16Less less;
  const wchar_t alphabet[] = {L'A', 0xD7FF, 0xD800, 0xDBFF, 0xDC00, 0xE000, 0xFFFF, 0x10000, 0x10400, 0x10FFFF, 0x110000};
  std::mt19937 rng(5);
  auto random = [&] {
    std::wstring s(rng() % 10, L' ');
    for (wchar_t& c : s) c = alphabet[rng() % std::size(alphabet)];
    return s;
  };
  for (int i = 0; i < 20000; ++i) {
    // Half the pairs share a beginning, so that they differ at every position.
    const std::wstring a = random();
    const std::wstring b = (rng() % 2 ? a.substr(0, rng() % (a.size() + 1)) : std::wstring()) + random();
    ASSERT_EQ(less(a, b), ReferenceLess(a, b)) << testing::PrintToString(a) << " " << testing::PrintToString(b);
  }
}

}  // namespace
}  // namespace hux
