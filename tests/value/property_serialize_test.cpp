// Property collections in archives: the bytes of the scheme and the
// collection, schemes once per class and archive, adoption and merging on
// load with the archive's remap, and damaged or hostile input.
#include <hux/value/property.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "property_test_util.h"

namespace hux {
namespace {

using test::FlakyDevice;
using test::Hex;
using test::Owner;
using test::ReadAll;
using test::Tables;
using test::WriteAll;

using Remap = std::map<unsigned short, unsigned short>;

class PropertySerialize : public ::testing::Test {
 protected:
  void SetUp() override { CPropertyCollection::ClearPropertyScheme(); }
  void TearDown() override { CPropertyCollection::ClearPropertyScheme(); }
};

// The pinned archives (also the seeds of the fuzz target's corpus, which reads
// collections with owners of the classes 0x7101, 0x7101, 0x7102).
const char kWorkedExample[] =
    "01 01 01000000 03000000 480055005800 01 01710000"
    " 01000000 03000000 480055005800 01000000 0104 01000000 5700"
    " 01000000 0104 01000000 07000000";
const char kTwoClasses[] =
    // class 0x7101, first collection: product table, scheme with W and X
    "01 01 01000000 03000000 480055005800 01 01710000"
    " 01000000 03000000 480055005800 02000000 0104 01000000 5700 0204 01000000 5800"
    " 01000000 0104 01000000 07000000"
    // class 0x7101 again: no scheme
    " 00 01000000 0204 01000000 09000000"
    // class 0x7102: its scheme, without the product table
    " 01 00 02710000 01000000 03000000 480055005800 01000000 0104 01000000 5700"
    " 01000000 0104 01000000 01000000";

TEST_F(PropertySerialize, WritesTheWorkedExample) {
  Owner owner(0x7101);
  CPropertyCollection c(&owner);
  c.SetProperty(L"W", CVariant(7));
  EXPECT_EQ(WriteAll({&c}), Hex(kWorkedExample));
}

TEST_F(PropertySerialize, WritesEachSchemeOncePerArchiveAndTheProductTableFirst) {
  Owner a(0x7101), b(0x7102);
  CPropertyCollection c1(&a), c2(&a), c3(&b);
  c1.SetProperty(L"W", CVariant(7));
  c2.SetProperty(L"X", CVariant(9));
  c3.SetProperty(L"W", CVariant(1));
  EXPECT_EQ(WriteAll({&c1, &c2, &c3}), Hex(kTwoClasses));
}

TEST_F(PropertySerialize, WritesSchemeFlagZeroWithoutNamesOrOwner) {
  Owner owner(7301);
  CPropertyCollection c(&owner), orphan, empty(&owner);
  c.SetProperty(static_cast<unsigned short>(1025), CVariant(true));
  orphan.SetProperty(static_cast<unsigned short>(2049), CVariant(true));
  // No class has names yet: ids only.
  EXPECT_EQ(WriteAll({&c}), Hex("00 01000000 0104 0F000000 01"));
  // The class has a name now, but the orphan has no class: its ids only, and
  // the next collection carries the archive's first scheme.
  empty.AssignPropertyID(L"HUX", 0, L"n");
  const std::vector<unsigned char> bytes = WriteAll({&orphan, &empty});
  EXPECT_EQ(bytes, Hex("00 01000000 0108 0F000000 01"
                       " 01 01 01000000 03000000 480055005800 01 851C0000"
                       " 01000000 03000000 480055005800 01000000 0104 01000000 6E00 00000000"));
  CPropertyCollection orphan2, full(&owner);
  full.SetProperty(L"n", CVariant(5));
  ReadAll(bytes, {&orphan2, &full});
  EXPECT_TRUE(orphan2.GetProperty(static_cast<unsigned short>(2049)).toBool());
  EXPECT_TRUE(full.GetProperty(L"n").IsNull());  // an empty collection reads back empty
}

TEST_F(PropertySerialize, WritesProductsInUtf16Order) {
  Owner owner(7302);
  CPropertyCollection c(&owner);
  c.SetActiveProduct(L"\uFFFF");
  c.SetActiveProduct(L"\U00010000");
  c.SetProperty(L"n", CVariant(1));
  // Product table: HUX (1), then U+10000 (3, units D800 DC00), then U+FFFF (2).
  const std::vector<unsigned char> bytes = WriteAll({&c});
  const std::vector<unsigned char> table = Hex(
      "01 01 03000000 03000000 480055005800 01 02000000 00D800DC 03 01000000 FFFF 02"
      " 861C0000 01000000 02000000 00D800DC 01000000 010C 01000000 6E00");
  ASSERT_GE(bytes.size(), table.size());
  EXPECT_EQ(std::vector<unsigned char>(bytes.begin(), bytes.begin() + static_cast<long>(table.size())), table);
}

TEST_F(PropertySerialize, AdoptsSchemesInAnEmptyProcess) {
  Owner owner(7303);
  std::vector<unsigned char> bytes;
  {
    CPropertyCollection c(&owner), d(&owner);
    c.SetActiveProduct(L"ACME");
    c.SetProperty(L"a", CVariant(1));
    c.SetActiveProduct(L"HUX");
    c.SetProperty(L"b", CVariant(2));
    d.SetProperty(L"b", CVariant(3));
    bytes = WriteAll({&c, &d});
  }
  const auto written = Tables::Classes();
  CPropertyCollection c(&owner), d(&owner);
  CPropertyCollection::ClearPropertyScheme();
  ReadAll(bytes, {&c, &d}, [](GDbArchive& ar) { EXPECT_EQ(ar.GetMapPropertyID(static_cast<eXOMDataType>(7303), false), nullptr); });
  EXPECT_EQ(Tables::Products(), (std::map<std::wstring, unsigned char, WStringUtf16Less>{{L"HUX", 1}, {L"ACME", 2}}));
  const auto& scheme = Tables::Classes().at(static_cast<eXOMDataType>(7303)).mapProductScheme;
  EXPECT_EQ(scheme.at(L"ACME").mapNameToID, written.at(static_cast<eXOMDataType>(7303)).mapProductScheme.at(L"ACME").mapNameToID);
  EXPECT_EQ(c.GetProperty(static_cast<unsigned short>(2049)).toInt(), 1);
  EXPECT_EQ(c.GetProperty(L"b").toInt(), 2);
  EXPECT_EQ(d.GetProperty(L"b").toInt(), 3);
}

TEST_F(PropertySerialize, RemapsNamesThatTheProcessNumberedOtherwise) {
  Owner owner(7304);
  std::vector<unsigned char> bytes;
  {
    CPropertyCollection c(&owner), d(&owner);
    for (const wchar_t* n : {L"a", L"b", L"c"}) c.SetProperty(n, CVariant(std::wstring(n)));
    d.SetProperty(L"a", CVariant(std::wstring(L"da")));
    d.SetProperty(L"c", CVariant(std::wstring(L"dc")));
    bytes = WriteAll({&c, &d});  // a 1025, b 1026, c 1027
  }
  CPropertyCollection::ClearPropertyScheme();
  CPropertyCollection c(&owner), d(&owner);
  for (const wchar_t* n : {L"c", L"a", L"b"}) c.AssignPropertyID(L"HUX", 0, n);  // c 1025, a 1026, b 1027
  Remap remap;
  ReadAll(bytes, {&c, &d}, [&](GDbArchive& ar) { remap = *ar.GetMapPropertyID(static_cast<eXOMDataType>(7304), false); });
  EXPECT_EQ(remap, (Remap{{1025, 1026}, {1026, 1027}, {1027, 1025}}));
  for (const wchar_t* n : {L"a", L"b", L"c"}) EXPECT_EQ(c.GetProperty(n).toWString(), n);
  EXPECT_EQ(d.GetProperty(L"a").toWString(), L"da");  // the collection after the scheme too
  EXPECT_EQ(d.GetProperty(L"c").toWString(), L"dc");
  EXPECT_TRUE(d.GetProperty(L"b").IsNull());
}

TEST_F(PropertySerialize, RemappedIdsFollowTheProcessProductIds) {
  Owner owner(7305);
  std::vector<unsigned char> bytes;
  {
    CPropertyCollection c(&owner);  // HUX 1
    c.SetActiveProduct(L"ACME");    // ACME 2
    c.SetProperty(L"x", CVariant(1));
    c.SetActiveProduct(L"HUX");
    c.SetProperty(L"x", CVariant(2));
    bytes = WriteAll({&c});
  }
  CPropertyCollection::ClearPropertyScheme();
  ASSERT_EQ(CPropertyCollection::AssignProducutID(L"ACME"), 1);
  CPropertyCollection c(&owner);  // HUX 2
  Remap remap;
  ReadAll(bytes, {&c}, [&](GDbArchive& ar) { remap = *ar.GetMapPropertyID(static_cast<eXOMDataType>(7305), false); });
  EXPECT_EQ(remap, (Remap{{1025, 2049}, {2049, 1025}}));
  EXPECT_EQ(c.GetProperty(L"x").toInt(), 2);
  c.SetActiveProduct(L"ACME");
  EXPECT_EQ(c.GetProperty(L"x").toInt(), 1);
  EXPECT_EQ(c.GetPropertyID(L"x").Packed(), 1025);
}

TEST_F(PropertySerialize, AdoptsOnlySchemesWhoseIdsFitTheProcessProducts) {
  // The process keeps its product table (HUX 1, ACME 2); the file numbered
  // ACME 1 and HUX 2 and has no other scheme of the class. Adopting its ids
  // unchanged would give ACME's first name the id of HUX's first.
  Owner owner(7306), other(7307);
  std::vector<unsigned char> bytes;
  {
    CPropertyCollection::AssignProducutID(L"ACME");
    CPropertyCollection c(&owner);
    c.SetActiveProduct(L"ACME");
    c.SetProperty(L"acme", CVariant(1));
    c.SetActiveProduct(L"HUX");
    c.SetProperty(L"hux", CVariant(2));
    bytes = WriteAll({&c});
  }
  CPropertyCollection::ClearPropertyScheme();
  CPropertyCollection d(&other);
  d.SetActiveProduct(L"ACME");
  d.SetProperty(L"z", CVariant(0));  // HUX 1, ACME 2
  CPropertyCollection c(&owner);
  ReadAll(bytes, {&c});
  EXPECT_EQ(c.GetProperty(L"hux").toInt(), 2);
  EXPECT_EQ(c.GetPropertyID(L"hux").Packed(), 1025);
  c.SetActiveProduct(L"ACME");
  EXPECT_EQ(c.GetProperty(L"acme").toInt(), 1);
  EXPECT_EQ(c.GetPropertyID(L"acme").Packed(), 2049);
}

TEST_F(PropertySerialize, WithoutOwnerLoadsTheSchemeIntoTheFileClass) {
  Owner a(0x7101);
  CPropertyCollection orphan, c(&a);
  CPropertyCollection::AssignProducutID(L"HUX");
  c.AssignPropertyID(L"HUX", 0, L"X");  // the file has W 1025, X 1026
  ReadAll(Hex(kTwoClasses), {&orphan, &c});
  EXPECT_EQ(orphan.GetProperty(static_cast<unsigned short>(1026)).toInt(), 7);  // W, remapped
  EXPECT_EQ(c.GetProperty(L"X").toInt(), 9);
}

// ---- damaged and hostile input ----------------------------------------------

TEST_F(PropertySerialize, RemapsCannotMergeTwoPropertiesIntoOne) {
  Owner owner(0x7101);
  struct Case {
    const char* name;
    const char* bytes;  // one collection of class 0x7101
    const char* prior;  // names the process assigns first, in order
    std::vector<std::pair<std::wstring, int>> want;
  } cases[] = {
      // The file names only W (1025); the process has V 1025, so W becomes
      // 1026. The file's unnamed 1026 would land on W: it is dropped.
      {"unnamed id on a remap target",
       "01 00 01710000 01000000 03000000 480055005800 01000000 0104 01000000 5700"
       " 01000000 0204 01000000 02000000",
       "V", {}},
      {"unnamed id beside the name it would land on",
       "01 00 01710000 01000000 03000000 480055005800 01000000 0104 01000000 5700"
       " 02000000 0104 01000000 01000000 0204 01000000 02000000",
       "V", {{L"W", 1}}},
      // One name under two ids: both load into the name, the first is kept.
      {"one name under two ids",
       "01 00 01710000 01000000 03000000 480055005800 02000000 0104 01000000 5700 0204 01000000 5700"
       " 02000000 0104 01000000 01000000 0204 01000000 02000000",
       "V", {{L"W", 1}}},
      // One id under two names: the first name (in id order) is the id's.
      {"one id under two names",
       "01 00 01710000 01000000 03000000 480055005800 02000000 0104 01000000 5700 0104 01000000 5800"
       " 01000000 0104 01000000 01000000",
       "X", {{L"W", 1}}},
      // Id 0 in the scheme names nothing; a property with id 0 is no property.
      {"id zero",
       "01 00 01710000 01000000 03000000 480055005800 01000000 0000 01000000 5700"
       " 02000000 0000 01000000 01000000 0104 01000000 02000000",
       "", {{L"", 2}}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    CPropertyCollection::ClearPropertyScheme();
    CPropertyCollection c(&owner);
    for (const char* p = k.prior; *p; ++p) c.AssignPropertyID(L"HUX", 0, std::wstring(1, static_cast<wchar_t>(*p)));
    ReadAll(Hex(k.bytes), {&c});
    std::vector<std::pair<std::wstring, int>> got;
    std::wstring product, name;
    CVariant value;
    c.First();
    while (c.Next(product, name, value)) got.emplace_back(name, value.toInt());
    EXPECT_EQ(got, k.want);
  }
}

TEST_F(PropertySerialize, NamesTheProcessCannotNumberAreDropped) {
  Owner owner(0x7101);
  CPropertyCollection c(&owner);
  for (int i = 2; i <= 63; ++i) CPropertyCollection::AssignProducutID(L"P" + std::to_wstring(i));
  // The file's W is under product "ACME", which gets no id here.
  ReadAll(Hex("01 00 01710000 01000000 04000000 410043004D004500 01000000 0108 01000000 5700"
              " 01000000 0108 01000000 07000000"),
          {&c}, [](GDbArchive& ar) { EXPECT_EQ(*ar.GetMapPropertyID(static_cast<eXOMDataType>(0x7101), false), (Remap{{2049, 0}})); });
  c.First();
  std::wstring product, name;
  CVariant value;
  EXPECT_FALSE(c.Next(product, name, value));
  // A client's remap entry onto 0 drops the property as well.
  CPropertyCollection d(&owner);
  GMemStream mem;
  test::Load(mem, Hex("00 02000000 0104 01000000 01000000 0204 01000000 02000000"));
  GDbArchiveImpl ar(&mem);
  (*ar.GetMapPropertyID(static_cast<eXOMDataType>(0x7101), true))[1025] = 0;
  d.Serialize(ar);
  EXPECT_TRUE(d.GetProperty(static_cast<unsigned short>(1025)).IsNull());
  EXPECT_EQ(d.GetProperty(static_cast<unsigned short>(1026)).toInt(), 2);
}

TEST_F(PropertySerialize, DamagedCountsReadWhatIsDeliveredAndStop) {
  Owner owner(0x7101);
  const char* cases[] = {
      "01 01 FFFFFF7F",                                                                // product table
      "01 01 00000080 01710000 FFFFFF7F 03000000 480055005800",                        // products of the scheme
      "01 00 01710000 01000000 03000000 480055005800 FFFFFF7F 0104 01000000 5700",     // names of a product
      "01 00 01710000 01000000 03000000 480055005800 FFFFFF80",                        // negative name count
      "00 FFFFFF7F 0104 01000000 07000000",                                            // properties
      "00 FFFFFFFF",                                                                   // negative property count
  };
  for (const char* bytes : cases) {
    SCOPED_TRACE(bytes);
    CPropertyCollection::ClearPropertyScheme();
    CPropertyCollection c(&owner);
    FlakyDevice device(Hex(bytes));
    GDbArchiveImpl ar(&device);
    c.Serialize(ar);
    EXPECT_LE(device.largestRead, 64u * 1024u);
    std::wstring product, name;
    CVariant value;
    int n = 0;
    for (c.First(); c.Next(product, name, value);) ++n;
    EXPECT_LE(n, 1);
  }

  // Every prefix of the pinned archives reads without harm, and a bad product
  // table (ids 0, 64 and one id twice) is not adopted as it stands.
  const std::vector<unsigned char> full = Hex(kTwoClasses);
  for (size_t cut = 0; cut <= full.size(); ++cut) {
    CPropertyCollection::ClearPropertyScheme();
    CPropertyCollection c1(&owner), c2(&owner);
    CPropertyCollection::ClearPropertyScheme();
    ReadAll(std::vector<unsigned char>(full.begin(), full.begin() + static_cast<long>(cut)), {&c1, &c2});
  }
  CPropertyCollection c(&owner);
  CPropertyCollection::ClearPropertyScheme();
  ReadAll(Hex("01 01 04000000 01000000 4100 00 01000000 4200 40 01000000 4300 05 01000000 4400 05"
              " 01710000 00000000 00000000"),
          {&c});
  EXPECT_EQ(Tables::Products(), (std::map<std::wstring, unsigned char, WStringUtf16Less>{{L"C", 5}}));
}

}  // namespace
}  // namespace hux
