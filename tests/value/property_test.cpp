// Property collections in memory: unknown names and removal, the limits of the
// packed ids, and the UTF-16 order of the scheme tables.
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

class PropertyCollection : public ::testing::Test {
 protected:
  void SetUp() override { CPropertyCollection::ClearPropertyScheme(); }
  void TearDown() override { CPropertyCollection::ClearPropertyScheme(); }
};

TEST_F(PropertyCollection, UnknownNamesAndRemoval) {
  Owner owner(7203);
  CPropertyCollection c(&owner);
  c.SetProperty(L"a", CVariant(1));
  EXPECT_FALSE(c.RemoveProperty(L"never"));
  // Id 0 is what unknown names resolve to; were it stored, they would find it.
  EXPECT_FALSE(c.SetProperty(static_cast<unsigned short>(0), CVariant(5)));
  EXPECT_TRUE(c.GetProperty(L"never").IsNull());
  EXPECT_TRUE(c.RemoveProperty(L"a"));
  EXPECT_TRUE(c.GetProperty(L"a").IsNull());
  // Removing the property an iteration is about to reach does not derail it.
  for (int i = 0; i < 3; ++i) c.SetProperty(L"p" + std::to_wstring(i), CVariant(i));
  std::wstring product, name;
  CVariant value;
  c.First();
  ASSERT_TRUE(c.Next(product, name, value));
  EXPECT_TRUE(c.RemoveProperty(L"p1"));
  ASSERT_TRUE(c.Next(product, name, value));
  EXPECT_EQ(name, L"p2");
  EXPECT_FALSE(c.Next(product, name, value));
}

TEST_F(PropertyCollection, RefusesIdsPastTheLimitsInsteadOfColliding) {
  Owner owner(7209);
  CPropertyCollection c(&owner);  // HUX 1
  for (int i = 2; i <= 63; ++i) ASSERT_EQ(CPropertyCollection::AssignProducutID(L"P" + std::to_wstring(i)), i);
  EXPECT_EQ(CPropertyCollection::AssignProducutID(L"P64"), 0);
  EXPECT_FALSE(c.SetActiveProduct(L"P64"));
  EXPECT_EQ(c.GetActiveProduct(), L"HUX");
  for (int i = 1; i <= 1023; ++i) ASSERT_TRUE(c.SetProperty(L"n" + std::to_wstring(i), CVariant(i)));
  EXPECT_FALSE(c.SetProperty(L"n1024", CVariant(1024)));
  EXPECT_EQ(c.GetProperty(static_cast<unsigned short>(1025)).toInt(), 1);  // nothing overwritten
  // Once the top id is taken, the lowest free one is next.
  Tables::Products().erase(L"P2");
  EXPECT_EQ(CPropertyCollection::AssignProducutID(L"NEW"), 2);
  auto& hux = Tables::Classes()[static_cast<eXOMDataType>(7209)].mapProductScheme[L"HUX"];
  hux.mapNameToID.erase(hux.mapIDToName.extract(sPropertyID(1, 7)).mapped());
  EXPECT_EQ(c.AssignPropertyID(L"HUX", 0, L"n1024").Packed(), 1024 + 7);
  // A stale product id cannot share ids across products.
  CPropertyCollection::ClearPropertyScheme();  // c keeps HUX's id 1 from before
  ASSERT_EQ(CPropertyCollection::AssignProducutID(L"ACME"), 1);
  c.SetProperty(L"a", CVariant(1));
  EXPECT_EQ(c.AssignPropertyID(L"HUX", 1, L"b").Packed(), 2 * 1024 + 2);
}

// With the index on, by-name answers stay those of the tables: per class and
// product, for names of every length, and after the tables were renumbered.
TEST_F(PropertyCollection, NameIndexAnswersAsTheTables) {
  Owner a(7211), b(7212);
  CPropertyCollection ca(&a), cb(&b);
  CPropertyCollection::SetNameIndex(true);
  std::vector<std::wstring> names;
  for (int i = 0; i < 300; ++i) names.push_back(std::wstring(i % 9, L'x') + std::to_wstring(i));
  const auto check = [&](CPropertyCollection& c, int sign) {
    auto& scheme = Tables::Classes()[static_cast<eXOMDataType>(c.GetObject()->GetObjectType())];
    const auto& ids = scheme.mapProductScheme[c.GetActiveProduct()].mapNameToID;
    for (int i = 0; i < 300; ++i) {
      const auto it = ids.find(names[i]);
      ASSERT_EQ(c.GetPropertyID(names[i]), it == ids.end() ? sPropertyID() : it->second);
      if (it != ids.end()) {
        ASSERT_EQ(c.GetProperty(names[i]).toInt(), sign * i);
      }
    }
  };
  cb.SetProperty(L"first", CVariant(0));  // b's ids run one ahead of a's
  for (int pass = 0; pass < 2; ++pass) {
    check(ca, 1);  // nothing yet: misses are not kept
    for (int i = 0; i < 300; ++i) ca.SetProperty(names[pass ? 299 - i : i], CVariant(pass ? 299 - i : i));
    for (int i = 0; i < 300; ++i) cb.SetProperty(names[i], CVariant(-i));
    for (int twice = 0; twice < 2; ++twice) {
      check(ca, 1);
      check(cb, -1);
    }
    ASSERT_TRUE(cb.SetActiveProduct(L"ACME"));
    EXPECT_TRUE(cb.GetProperty(names[5]).IsNull());
    ASSERT_TRUE(cb.SetActiveProduct(L"HUX"));
    CPropertyCollection::ClearPropertyScheme();  // the second pass numbers a's names backwards
  }
  // Turning the index on anew forgets what it held before direct edits.
  ca.SetProperty(L"edited", CVariant(1));
  CPropertyCollection::SetNameIndex(false);
  Tables::Classes()[static_cast<eXOMDataType>(7211)].mapProductScheme[L"HUX"].mapNameToID[L"edited"] = sPropertyID(1, 999);
  CPropertyCollection::SetNameIndex(true);
  EXPECT_EQ(ca.GetPropertyID(L"edited"), sPropertyID(1, 999));
  CPropertyCollection::SetNameIndex(false);
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
  const wchar_t alphabet[] = {L'A', 0xD7FF, 0xD800, 0xDC00, 0xE000, 0xFFFF, 0x10000, 0x10FFFF, 0x110000};
  std::mt19937 rng(5);
  auto random = [&] {
    std::wstring s(rng() % 10, L' ');
    for (wchar_t& c : s) c = alphabet[rng() % std::size(alphabet)];
    return s;
  };
  for (int i = 0; i < 20000; ++i) {
    const std::wstring a = random();
    const std::wstring b = (rng() % 2 ? a.substr(0, rng() % (a.size() + 1)) : std::wstring()) + random();
    ASSERT_EQ(less(a, b), ReferenceLess(a, b)) << testing::PrintToString(a) << " " << testing::PrintToString(b);
  }
}

}  // namespace
}  // namespace hux
