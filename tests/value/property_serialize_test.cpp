// Property collections in archives: the bytes, adoption and remapping on
// load, and damaged input.
#include <hux/value/property.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "property_test_util.h"

namespace hux {
namespace {

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

// A pinned archive; the fuzz corpus is seeded from it (owners 0x7101, 0x7101, 0x7102).
const char kTwoClasses[] =
    "01 01 01000000 03000000 480055005800 01 01710000"  // product table, class 0x7101
    " 01000000 03000000 480055005800 02000000 0104 01000000 5700 0204 01000000 5800"
    " 01000000 0104 01000000 07000000"
    " 00 01000000 0204 01000000 09000000"                // the class again: no scheme
    " 01 00 02710000 01000000 03000000 480055005800 01000000 0104 01000000 5700"  // 0x7102
    " 01000000 0104 01000000 01000000";

TEST_F(PropertySerialize, WritesSchemesOncePerClassAndArchive) {
  Owner a(0x7101), b(0x7102);
  const struct {
    const char* what;
    std::function<std::vector<unsigned char>()> write;
    const char* bytes;
  } cases[] = {
      {"two collections of a class, then a second class", [&] {
         CPropertyCollection c1(&a), c2(&a), c3(&b);
         c1.SetProperty(L"W", CVariant(7));
         c2.SetProperty(L"X", CVariant(9));
         c3.SetProperty(L"W", CVariant(1));
         return WriteAll({&c1, &c2, &c3});
       }, kTwoClasses},
      {"ids only without names or owner; then the first scheme", [&] {
         CPropertyCollection plain(&a), orphan, empty(&a);
         plain.SetProperty(static_cast<unsigned short>(1025), CVariant(true));
         orphan.SetProperty(static_cast<unsigned short>(2049), CVariant(true));
         std::vector<unsigned char> out = WriteAll({&plain});
         empty.AssignPropertyID(L"HUX", 0, L"n");
         for (unsigned char byte : WriteAll({&orphan, &empty})) out.push_back(byte);
         return out;
       }, "00 01000000 0104 0F000000 01  00 01000000 0108 0F000000 01"
          " 01 01 01000000 03000000 480055005800 01 01710000"
          " 01000000 03000000 480055005800 01000000 0104 01000000 6E00 00000000"},
      {"products in UTF-16 order", [&] {
         CPropertyCollection c(&a);
         c.SetActiveProduct(L"\uFFFF");      // 2
         c.SetActiveProduct(L"\U00010000");  // 3, units D800 DC00: before U+FFFF
         c.SetProperty(L"n", CVariant(1));
         return WriteAll({&c});
       }, "01 01 03000000 03000000 480055005800 01 02000000 00D800DC 03 01000000 FFFF 02 01710000"
          " 01000000 02000000 00D800DC 01000000 010C 01000000 6E00 01000000 010C 01000000 01000000"},
  };
  for (const auto& k : cases) {
    CPropertyCollection::ClearPropertyScheme();
    EXPECT_EQ(k.write(), Hex(k.bytes)) << k.what;
  }
}

TEST_F(PropertySerialize, RemapsNeverMergeTwoPropertiesIntoOne) {
  const char* scheme = "01 00 01710000 01000000 03000000 480055005800 ";
  const struct {
    const char* what;
    const char* bytes;  // after the scheme header of class 0x7101, product HUX
    const char* prior;  // names the reader numbered first, in order
    std::vector<std::pair<std::wstring, int>> want;
    Remap remap;  // only the names whose ids differ
  } cases[] = {
      // W would become 1026 here; the file's unnamed 1026 would land on W: dropped.
      {"unnamed id where a waiting name would go", "01000000 0104 01000000 5700 01000000 0204 01000000 02000000",
       "V", {}, {}},
      {"unnamed id beside the name it would land on",
       "01000000 0104 01000000 5700 02000000 0104 01000000 01000000 0204 01000000 02000000", "V", {{L"W", 1}},
       {{1025, 1026}}},
      {"unnamed id beside an adopted name",
       "01000000 0104 01000000 5700 02000000 0104 01000000 01000000 0204 01000000 02000000", "", {{L"W", 1}, {L"", 2}},
       {}},
      {"unnamed id of a product this process does not know",
       "01000000 0104 01000000 5700 02000000 0104 01000000 01000000 0114 01000000 02000000", "", {{L"W", 1}, {L"", 2}},
       {}},
      {"one name under two ids: the first read is kept",
       "02000000 0104 01000000 5700 0204 01000000 5700 02000000 0104 01000000 01000000 0204 01000000 02000000",
       "V", {{L"W", 1}}, {{1025, 1026}}},
      {"one id under two names: the first name is the id's",
       "02000000 0104 01000000 5700 0104 01000000 5800 01000000 0104 01000000 01000000", "X", {{L"W", 1}},
       {{1025, 1026}}},
      {"id 0 names nothing and is no property",
       "01000000 0000 01000000 5700 02000000 0000 01000000 01000000 0104 01000000 02000000", "", {{L"", 2}}, {}},
  };
  Owner owner(0x7101);
  for (const auto& k : cases) {
    SCOPED_TRACE(k.what);
    CPropertyCollection::ClearPropertyScheme();
    CPropertyCollection c(&owner);
    for (const char* p = k.prior; *p; ++p) c.AssignPropertyID(L"HUX", 0, std::wstring(1, static_cast<wchar_t>(*p)));
    ReadAll(Hex(std::string(scheme) + k.bytes), {&c}, [&](GDbArchive& ar) { EXPECT_EQ(test::RemapOf(ar, 0x7101), k.remap); });
    std::vector<std::pair<std::wstring, int>> got;
    for (const auto& [product, name, value] : test::Visit(c)) got.emplace_back(name, value);
    EXPECT_EQ(got, k.want);
  }
}

TEST_F(PropertySerialize, NamesAFileOnlyDeclaresTakeNoIds) {
  // A file declaring 63 products and 1,023 names takes no ids: later ones still fit.
  test::FileScheme flood{{{L"HUX", 1}}, 0x7201, {{L"HUX", {}}}};
  for (unsigned i = 1; i <= 1023; ++i) flood.products[0].second.emplace_back(1024 + i, L"h" + std::to_wstring(i));
  for (unsigned char p = 2; p <= 63; ++p) {
    flood.table.emplace_back(L"P" + std::to_wstring(p), p);
    flood.products.push_back({L"P" + std::to_wstring(p), {{static_cast<unsigned short>(p * 1024 + 1), L"p"}}});
  }
  const test::FileScheme later{{{L"HUX", 1}, {L"LEGIT", 2}}, 0x7201, {{L"HUX", {{1025, L"a"}, {1026, L"b"}}},
                                                                       {L"LEGIT", {{2049, L"c"}}}}};
  const struct {
    const char* what;
    bool emptyTables;  // the flood's product table meets an empty one
    bool ownName;      // the process numbered a name of the class first
  } cases[] = {{"empty tables", true, false}, {"a new class", false, false}, {"a class with names", false, true}};
  Owner owner(0x7201);
  for (const auto& k : cases) {
    SCOPED_TRACE(k.what);
    CPropertyCollection::ClearPropertyScheme();
    CPropertyCollection dropped(&owner), c(&owner), d(&owner);
    if (k.emptyTables) CPropertyCollection::ClearPropertyScheme();
    if (k.ownName) c.AssignPropertyID(L"HUX", 0, L"x");
    ReadAll(test::Written([&](GDbArchive& w) { test::WriteCollection(w, flood, {{1025, 7}}); }), {&dropped});
    EXPECT_EQ(dropped.GetProperty(L"h1").toInt(), 7);
    EXPECT_TRUE(c.SetActiveProduct(L"MyApp"));
    EXPECT_TRUE(c.SetProperty(L"Weight", CVariant(2)));
    ReadAll(test::Written([&](GDbArchive& w) { test::WriteCollection(w, later, {{1025, 1}, {1026, 2}, {2049, 3}}); }),
            {&d});
    EXPECT_EQ(d.GetProperty(L"b").toInt(), 2);
    d.SetActiveProduct(L"LEGIT");
    EXPECT_EQ(d.GetProperty(L"c").toInt(), 3);
  }
}

TEST_F(PropertySerialize, LaterSchemesOfAClassRenameTheIdsTheyList) {
  // 300 schemes of one class each name one of 100 ids (each renamed twice).
  Owner owner(0x7202);
  std::vector<CPropertyCollection> read(300, CPropertyCollection(&owner));
  const auto bytes = test::Written([](GDbArchive& w) {
    for (int i = 0; i < 300; ++i) {
      const auto id = static_cast<unsigned short>(1025 + i % 100);
      test::WriteCollection(w, test::FileScheme{{}, 0x7202, {{L"HUX", {{id, L"n" + std::to_wstring(i)}}}}}, {{id, i}});
    }
  });
  std::vector<CPropertyCollection*> into;
  for (auto& c : read) into.push_back(&c);
  ReadAll(bytes, into);
  for (int i = 0; i < 300; ++i) EXPECT_EQ(read[i].GetProperty(L"n" + std::to_wstring(i)).toInt(), i) << i;
  // Two classes moving a name to the same id here: each remap holds its move.
  Owner a(0x7311), b(0x7312);
  CPropertyCollection ra(&a), rb(&b);
  for (CPropertyCollection* c : {&ra, &rb}) {
    c->AssignPropertyID(L"HUX", 0, L"first");
    c->AssignPropertyID(L"HUX", 0, L"x");  // 1026 here, 1124 in the file
  }
  const auto twoClasses = test::Written([](GDbArchive& w) {
    test::WriteCollection(w, test::FileScheme{{}, 0x7311, {{L"HUX", {{1124, L"x"}}}}}, {{1124, 7}});
    test::WriteCollection(w, test::FileScheme{{}, 0x7312, {{L"HUX", {{1124, L"x"}}}}}, {});
  });
  ReadAll(twoClasses, {&ra, &rb}, [](GDbArchive& ar) {
    EXPECT_EQ(test::RemapOf(ar, 0x7311), (Remap{{1124, 1026}}));
    EXPECT_EQ(test::RemapOf(ar, 0x7312), (Remap{{1124, 1026}}));
  });
}

TEST_F(PropertySerialize, DamagedCountsReadWhatIsDeliveredAndStop) {
  Owner owner(0x7101);
  const char* cases[] = {
      "01 01 FFFFFF7F",                                                             // product table
      "01 01 00000080 01710000 FFFFFF7F 03000000 480055005800",                     // products of the scheme
      "01 00 01710000 01000000 03000000 480055005800 FFFFFF7F 0104 01000000 5700",  // names of a product
      "01 00 01710000 01000000 03000000 480055005800 FFFFFF80",                     // negative name count
      "00 FFFFFF7F 0104 01000000 07000000",                                         // properties
      "00 FFFFFFFF",                                                                // negative property count
  };
  for (const char* bytes : cases) {
    CPropertyCollection c(&owner);
    test::FlakyDevice device(Hex(bytes));
    GDbArchiveImpl ar(&device);
    c.Serialize(ar);
    EXPECT_LE(device.largestRead, 64u * 1024u) << bytes;
  }
  const std::vector<unsigned char> full = Hex(kTwoClasses);
  for (size_t cut = 0; cut <= full.size(); ++cut) {
    CPropertyCollection c1(&owner), c2(&owner);
    CPropertyCollection::ClearPropertyScheme();
    ReadAll(std::vector<unsigned char>(full.begin(), full.begin() + static_cast<long>(cut)), {&c1, &c2});
  }
  // A product table with ids 0, 64 and one id twice keeps only the sound entry.
  CPropertyCollection c(&owner);
  CPropertyCollection::ClearPropertyScheme();
  ReadAll(Hex("01 01 04000000 01000000 4100 00 01000000 4200 40 01000000 4300 05 01000000 4400 05"
              " 01710000 01000000 01000000 4300 01000000 0114 01000000 6E00 01000000 0114 01000000 01000000"),
          {&c});
  EXPECT_EQ(Tables::Products(), (std::map<std::wstring, unsigned char, WStringUtf16Less>{{L"C", 5}}));
  EXPECT_EQ(c.GetProperty(static_cast<unsigned short>(0x1401)).toInt(), 1);
}

// Loading reuses the former properties' storage: whatever they held, the
// result is what an empty collection loads from the same bytes, also when the
// input repeats an id, names id 0, comes in falling order or stops short.
TEST_F(PropertySerialize, LoadingOverHeldPropertiesKeepsNoneOfThem) {
  const std::vector<unsigned char> input = test::Written([](GDbArchive& ar) {
    ar << false << 7;
    const std::pair<unsigned short, CVariant> properties[] = {
        {9, CVariant(std::string(30, 'n'))}, {2, CVariant(L"wide")}, {2, CVariant(5)},  {0, CVariant(1.5)},
        {3, CVariant(std::string())},        {4, CVariant(8)},       {5, CVariant("s")},
    };
    for (auto [id, value] : properties) {
      ar << id;
      value.Serialize(ar);
    }
  });
  for (size_t cut = 0; cut <= input.size(); ++cut) {
    CPropertyCollection held, fresh;
    const std::pair<unsigned short, CVariant> former[] = {
        {2, CVariant(std::string(40, 'a'))}, {3, CVariant(L"former")}, {4, CVariant("text")},
        {5, CVariant(2.5)},                  {6, CVariant("gone")},    {7, CVariant(std::string(50, 'b'))},
    };
    for (const auto& [id, value] : former) held.SetProperty(id, value);
    const std::vector<unsigned char> part(input.begin(), input.begin() + static_cast<long>(cut));
    ReadAll(part, {&held});
    ReadAll(part, {&fresh});
    EXPECT_EQ(WriteAll({&held}), WriteAll({&fresh})) << "cut at " << cut;
  }
}

}  // namespace
}  // namespace hux
