// Property collections in memory: id numbering per class and product, by-name
// and by-id access, iteration, copies, the limits of the packed ids, and the
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

class PropertyCollection : public ::testing::Test {
 protected:
  void SetUp() override { CPropertyCollection::ClearPropertyScheme(); }
  void TearDown() override { CPropertyCollection::ClearPropertyScheme(); }
};

struct Visit {
  std::wstring product, name;
  int value;
};

std::vector<Visit> Iterate(CPropertyCollection& c) {
  std::vector<Visit> out;
  std::wstring product, name;
  CVariant value;
  c.First();
  while (c.Next(product, name, value)) out.push_back({product, name, value.toInt()});
  return out;
}

TEST_F(PropertyCollection, NumbersNamesPerClassAndProductInOrderOfFirstUse) {
  Owner owner(7201), other(7202);
  CPropertyCollection c(&owner), same(&owner), d(&other);
  // Each step: collection, active product, name, expected packed id.
  struct Step {
    CPropertyCollection* c;
    const wchar_t* product;
    const wchar_t* name;
    unsigned short id;
  } steps[] = {
      {&c, L"HUX", L"W", 1025},     {&c, L"HUX", L"V", 1026},     {&same, L"HUX", L"U", 1027},
      {&same, L"HUX", L"W", 1025},  {&c, L"ACME", L"X", 2049},    {&c, L"ACME", L"W", 2050},
      {&d, L"HUX", L"V", 1025},     {&d, L"ACME", L"V", 2049},    {&c, L"HUX", L"U", 1027},
  };
  int n = 0;
  for (const Step& s : steps) {
    ASSERT_TRUE(s.c->SetActiveProduct(s.product));
    EXPECT_TRUE(s.c->SetProperty(s.name, CVariant(++n)));
    EXPECT_EQ(s.c->GetPropertyID(s.name).Packed(), s.id) << n;
    EXPECT_EQ(s.c->GetProperty(s.id).toInt(), n) << n;
    std::wstring product, name;
    s.c->GetPropertyName(sPropertyID::FromPacked(s.id), product, name);
    EXPECT_EQ(product, s.product);
    EXPECT_EQ(name, s.name);
  }
  EXPECT_EQ(CPropertyCollection::AssignProducutID(L"HUX"), 1);
  EXPECT_EQ(CPropertyCollection::AssignProducutID(L"ACME"), 2);
}

TEST_F(PropertyCollection, UnknownNamesReadEmptyAndAssignNothing) {
  Owner owner(7203);
  CPropertyCollection c(&owner);
  EXPECT_TRUE(c.GetProperty(L"never").IsNull());  // class without a scheme
  c.SetProperty(L"a", CVariant(1));
  EXPECT_TRUE(c.GetProperty(L"never").IsNull());
  EXPECT_TRUE(c.GetPropertyID(L"never").IsNull());
  EXPECT_FALSE(c.RemoveProperty(L"never"));
  c.SetProperty(L"b", CVariant(2));
  EXPECT_EQ(c.GetPropertyID(L"b").Packed(), 1026);  // "never" took no index
  EXPECT_TRUE(c.GetProperty(static_cast<unsigned short>(1027)).IsNull());

  EXPECT_TRUE(c.RemoveProperty(L"a"));
  EXPECT_TRUE(c.GetProperty(L"a").IsNull());
  EXPECT_EQ(c.GetPropertyID(L"a").Packed(), 1025);  // the name keeps its id
  c.SetProperty(L"a", CVariant(3));
  EXPECT_EQ(c.GetProperty(static_cast<unsigned short>(1025)).toInt(), 3);
}

TEST_F(PropertyCollection, IdZeroIsNeverStored) {
  Owner owner(7204);
  CPropertyCollection c(&owner);
  // Were id 0 stored, every unknown name (which resolves to 0) would find it.
  EXPECT_FALSE(c.SetProperty(static_cast<unsigned short>(0), CVariant(5)));
  c.SetProperty(L"a", CVariant(1));
  EXPECT_TRUE(c.GetProperty(L"unknown").IsNull());
  EXPECT_TRUE(c.SetProperty(static_cast<unsigned short>(7), CVariant(7)));  // any other id is taken as given
  EXPECT_EQ(c.GetProperty(static_cast<unsigned short>(7)).toInt(), 7);
}

TEST_F(PropertyCollection, IteratesByPackedIdAcrossProducts) {
  Owner owner(7205);
  CPropertyCollection c(&owner);
  EXPECT_TRUE(Iterate(c).empty());
  c.SetActiveProduct(L"HUX");
  c.SetProperty(L"b", CVariant(1));
  c.SetActiveProduct(L"ACME");
  c.SetProperty(L"a", CVariant(2));
  c.SetActiveProduct(L"HUX");
  c.SetProperty(L"a", CVariant(3));
  c.SetProperty(static_cast<unsigned short>(5 * 1024 + 9), CVariant(4));  // no name anywhere
  const std::vector<Visit> got = Iterate(c);
  const std::vector<Visit> want = {{L"HUX", L"b", 1}, {L"HUX", L"a", 3}, {L"ACME", L"a", 2}, {L"", L"", 4}};
  ASSERT_EQ(got.size(), want.size());
  for (size_t i = 0; i < want.size(); ++i) {
    EXPECT_EQ(got[i].product, want[i].product) << i;
    EXPECT_EQ(got[i].name, want[i].name) << i;
    EXPECT_EQ(got[i].value, want[i].value) << i;
  }

  // Removing the property the iteration stands on does not derail it.
  std::wstring product, name;
  CVariant value;
  c.First();
  ASSERT_TRUE(c.Next(product, name, value));
  c.RemoveProperty(L"a");  // the HUX "a", the next one to visit
  ASSERT_TRUE(c.Next(product, name, value));
  EXPECT_EQ(value.toInt(), 2);
}

TEST_F(PropertyCollection, CopiesAreDeepAndCopyFromKeepsOwnerAndProduct) {
  Owner a(7206), b(7207);
  CPropertyCollection src(&a);
  src.SetActiveProduct(L"ACME");
  src.SetProperty(L"text", CVariant(std::wstring(L"one")));

  CPropertyCollection copy(src);
  EXPECT_EQ(copy.GetObject(), &a);
  EXPECT_EQ(copy.GetActiveProduct(), L"ACME");
  src.SetProperty(L"text", CVariant(std::wstring(L"two")));
  EXPECT_EQ(copy.GetProperty(L"text").toWString(), L"one");

  CPropertyCollection target(&b);
  target.SetProperty(L"old", CVariant(1));
  target.CopyFrom(src);
  EXPECT_EQ(target.GetObject(), &b);
  EXPECT_EQ(target.GetActiveProduct(), L"HUX");
  EXPECT_EQ(Iterate(target).size(), 1u);
  EXPECT_EQ(target.GetProperty(src.GetPropertyID(L"text").Packed()).toWString(), L"two");

  target = copy;
  EXPECT_EQ(target.GetObject(), &a);
  EXPECT_EQ(target.GetActiveProduct(), L"ACME");
  target = target;
  EXPECT_EQ(target.GetProperty(L"text").toWString(), L"one");
}

TEST_F(PropertyCollection, WithoutOwnerByNameFindsAndStoresNothing) {
  Owner owner(7208);
  CPropertyCollection named(&owner);
  named.SetProperty(L"a", CVariant(1));
  CPropertyCollection c;
  EXPECT_FALSE(c.SetProperty(L"a", CVariant(2)));
  EXPECT_TRUE(c.GetProperty(L"a").IsNull());
  EXPECT_TRUE(c.GetPropertyID(L"a").IsNull());
  EXPECT_FALSE(c.RemoveProperty(L"a"));
  EXPECT_EQ(c.FindActiveSchemeIDName(), nullptr);
  EXPECT_TRUE(c.AssignPropertyID(L"HUX", 1, L"b").IsNull());
  EXPECT_TRUE(Iterate(c).empty());
  // By id it works, without names.
  c.SetProperty(static_cast<unsigned short>(1025), CVariant(3));
  const std::vector<Visit> got = Iterate(c);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].name, L"");
  EXPECT_EQ(Tables::Classes().at(static_cast<eXOMDataType>(7208)).mapProductScheme.at(L"HUX").mapNameToID.size(), 1u);
}

TEST_F(PropertyCollection, RefusesProductsPastSixtyThree) {
  for (int i = 1; i <= 63; ++i) EXPECT_EQ(CPropertyCollection::AssignProducutID(L"P" + std::to_wstring(i)), i);
  EXPECT_EQ(CPropertyCollection::AssignProducutID(L"P64"), 0);
  EXPECT_EQ(Tables::Products().size(), 63u);
  EXPECT_EQ(Tables::Products().count(L"P64"), 0u);

  // The default product "HUX" no longer gets an id: by-name setting refuses.
  Owner owner(7209);
  CPropertyCollection c(&owner);
  EXPECT_FALSE(c.SetProperty(L"a", CVariant(1)));
  EXPECT_TRUE(Iterate(c).empty());
  EXPECT_FALSE(c.SetActiveProduct(L"P64"));
  EXPECT_EQ(c.GetActiveProduct(), L"HUX");
  ASSERT_TRUE(c.SetActiveProduct(L"P63"));
  EXPECT_TRUE(c.SetProperty(L"a", CVariant(1)));
  EXPECT_EQ(c.GetPropertyID(L"a").Packed(), 63 * 1024 + 1);
  EXPECT_EQ(Tables::Classes().at(static_cast<eXOMDataType>(7209)).mapProductScheme.count(L"HUX"), 0u);
}

TEST_F(PropertyCollection, RefusesNamesPastOneThousandTwentyThree) {
  Owner owner(7210);
  CPropertyCollection c(&owner);
  for (int i = 1; i <= 1023; ++i) ASSERT_TRUE(c.SetProperty(L"n" + std::to_wstring(i), CVariant(i)));
  EXPECT_EQ(c.GetPropertyID(L"n1023").Packed(), 1024 + 1023);
  EXPECT_FALSE(c.SetProperty(L"n1024", CVariant(1024)));
  EXPECT_TRUE(c.GetPropertyID(L"n1024").IsNull());
  EXPECT_TRUE(c.GetProperty(L"n1024").IsNull());
  EXPECT_EQ(c.GetProperty(static_cast<unsigned short>(1024 + 1)).toInt(), 1);  // nothing overwritten
  EXPECT_EQ(Iterate(c).size(), 1023u);
  // Another product of the class has room of its own.
  c.SetActiveProduct(L"ACME");
  EXPECT_TRUE(c.SetProperty(L"n1024", CVariant(1024)));
}

TEST_F(PropertyCollection, PastTheTopTakesTheLowestFreeId) {
  // Ids with holes below the top come only from loaded tables and schemes.
  Tables::Products()[L"HUX"] = 63;
  EXPECT_EQ(CPropertyCollection::AssignProducutID(L"NEXT"), 1);
  EXPECT_EQ(CPropertyCollection::AssignProducutID(L"THEN"), 2);
  Owner owner(7211);
  auto& scheme = Tables::Classes()[static_cast<eXOMDataType>(7211)].mapProductScheme[L"HUX"];
  scheme.mapIDToName[sPropertyID(63, 1023)] = L"top";
  scheme.mapNameToID[L"top"] = sPropertyID(63, 1023);
  CPropertyCollection c(&owner);
  EXPECT_EQ(c.AssignPropertyID(L"HUX", 0, L"low").Packed(), 63 * 1024 + 1);
}

TEST_F(PropertyCollection, StaleProductIdCannotShareIdsAcrossProducts) {
  Owner owner(7212);
  CPropertyCollection c(&owner);  // "HUX" is product 1 here
  CPropertyCollection::ClearPropertyScheme();
  ASSERT_EQ(CPropertyCollection::AssignProducutID(L"ACME"), 1);
  c.SetProperty(L"a", CVariant(1));
  EXPECT_EQ(c.GetPropertyID(L"a").Packed(), 2 * 1024 + 1);
  EXPECT_EQ(CPropertyCollection::AssignProducutID(L"HUX"), 2);
  EXPECT_EQ(c.AssignPropertyID(L"HUX", 1, L"b").Packed(), 2 * 1024 + 2);  // the argument 1 is ACME's
}

// ---- order of the scheme tables ---------------------------------------------

// The reference: UTF-16 units compared as numbers, then the characters.
bool ReferenceLess(const std::wstring& a, const std::wstring& b) {
  auto units = [](const std::wstring& s) {
    std::u16string out;
    for (wchar_t w : s) {
      const auto c = static_cast<char32_t>(w);
      if (c > 0x10FFFF) {
        out.push_back(u'\xFFFD');
      } else if (c > 0xFFFF) {
        out.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
      } else {
        out.push_back(static_cast<char16_t>(c));
      }
    }
    return out;
  };
  const std::u16string ua = units(a), ub = units(b);
  if (ua != ub) return ua < ub;
  return std::u32string(a.begin(), a.end()) < std::u32string(b.begin(), b.end());
}

TEST(PropertyOrder, WideStringsOrderByUtf16Units) {
  const WStringUtf16Less less;
  const std::pair<std::wstring, std::wstring> ordered[] = {
      {L"\U00010000", L"\uFFFF"},        {L"\U00010000", L"\uE000"},       {L"\uD7FF", L"\U00010000"},
      {L"\U00010400", L"\U0001F600"},    {L"a", L"ab"},                    {L"", L"\U00010000"},
      {L"x\U0010FFFF", L"x\uFFFF"},      {L"\xD800", L"\U00010000"},       {L"\U00010000", L"\xD800\xDC01"},
      {L"\xD800\xDC00", L"\U00010000"},  // same units: ordered by the characters
  };
  for (const auto& [lo, hi] : ordered) {
    EXPECT_TRUE(less(lo, hi)) << testing::PrintToString(lo);
    EXPECT_FALSE(less(hi, lo)) << testing::PrintToString(lo);
  }

  const wchar_t alphabet[] = {L'A', 0xD7FF, 0xD800, 0xDBFF, 0xDC00, 0xE000, 0xFFFD, 0xFFFF,
                              0x10000, 0x103FF, 0x10400, 0x10FFFF, 0x110000};
  std::mt19937 rng(5);
  auto random = [&] {
    std::wstring s(rng() % 4, L' ');
    for (wchar_t& c : s) c = alphabet[rng() % std::size(alphabet)];
    return s;
  };
  for (int i = 0; i < 20000; ++i) {
    const std::wstring a = random(), b = random();
    ASSERT_EQ(less(a, b), ReferenceLess(a, b)) << testing::PrintToString(a) << " " << testing::PrintToString(b);
  }
}

}  // namespace
}  // namespace hux
