// The SQLite device: opening, tables, rows of every kind, the
// upsert that keeps unnamed columns, transactions and hostile names.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include <hux/host/sqlite_device.h>
#include <hux/io/memstream.h>
#include <hux/value/variant.h>

#include "temp_db.h"

namespace hux {
namespace {

using host::SqliteDevice;

class SqliteDeviceTest : public test::TempDbTest {};

std::vector<long long> Ints(const std::vector<CVariant>& values) {
  std::vector<long long> out;
  for (const CVariant& v : values) out.push_back(v.toInt64(nullptr));
  return out;
}

TEST_F(SqliteDeviceTest, OpensOrCreatesAndRefusesOtherFiles) {
  SqliteDevice device;
  ASSERT_TRUE(device.OpenDB(path)) << device.LastError();
  EXPECT_TRUE(std::filesystem::exists(File()));
  device.CloseDB();
  EXPECT_FALSE(device.IsDBOpen());

  {
    std::ofstream junk(File(), std::ios::binary | std::ios::trunc);
    junk << std::string(4096, 'x');
  }
  EXPECT_FALSE(device.OpenDB(path));
  EXPECT_FALSE(device.IsDBOpen());
  EXPECT_FALSE(device.LastError().empty());
  EXPECT_FALSE(device.OpenDB(L"/nonexistent-dir/sub/x.db"));
  EXPECT_THROW(device.BeginAccess(), std::runtime_error) << "no database is open";
}

TEST_F(SqliteDeviceTest, RowsOfEveryKindRoundTrip) {
  SqliteDevice device;
  ASSERT_TRUE(device.OpenDB(path));
  ASSERT_TRUE(device.EnsureTable("T", {"K", "A", "B"}));
  auto* blob = new GMemStream(true, nullptr, 0);
  const char bytes[] = {0, 1, 2, '\xFF'};
  blob->Write(const_cast<char*>(bytes), 4);
  CVariant blobValue;
  blobValue.SetValueRefPtr(blob);
  const std::vector<CVariant> rows[] = {
      {CVariant(3LL), CVariant(-7), CVariant(2.5)},
      {CVariant(1LL), CVariant(std::wstring(L"\u00e4\u4e2d\U0001F600")), CVariant(std::string("narrow"))},
      {CVariant(2LL), blobValue, CVariant()},
  };
  for (const auto& row : rows) ASSERT_TRUE(device.WriteRow("T", {"K", "A", "B"}, row)) << device.LastError();

  std::vector<CVariant> result{CVariant(99)};
  ASSERT_TRUE(device.QueryAllRows("T", {"K", "A", "B"}, result));
  ASSERT_EQ(result.size(), 9u) << "the old contents are replaced";
  EXPECT_EQ(Ints({result[0], result[3], result[6]}), (std::vector<long long>{1, 2, 3})) << "in key order";
  EXPECT_EQ(result[1].toWString(), L"\u00e4\u4e2d\U0001F600");
  EXPECT_EQ(result[2].toString(), "narrow");
  auto* back = dynamic_cast<GMemStream*>(result[4].GetValueRefPtr());
  ASSERT_NE(back, nullptr);
  ASSERT_EQ(back->GetDataSize(), 4u);
  EXPECT_EQ(std::string(back->GetData(), 4), std::string(bytes, 4));
  EXPECT_TRUE(result[5].IsNull());
  EXPECT_EQ(result[7].toInt(), -7);
  EXPECT_EQ(result[8].toDouble(), 2.5);

  // Values the table cannot hold are refused.
  CVariant id;
  id.SetObjectID(5);
  EXPECT_FALSE(device.WriteRow("T", {"K", "A"}, {CVariant(4LL), id}));
  EXPECT_FALSE(device.WriteRow("T", {"K", "A"}, {CVariant(4LL)})) << "columns and values differ";
}

TEST_F(SqliteDeviceTest, WriteRowUpdatesOnlyNamedColumns) {
  SqliteDevice device;
  ASSERT_TRUE(device.OpenDB(path));
  ASSERT_TRUE(device.EnsureTable("T", {"K", "A", "B"}));
  ASSERT_TRUE(device.WriteRow("T", {"K", "A", "B"}, {CVariant(1LL), CVariant(10), CVariant(20)}));
  ASSERT_TRUE(device.WriteRow("T", {"K", "A"}, {CVariant(1LL), CVariant(11)}));
  std::vector<CVariant> result;
  ASSERT_TRUE(device.QueryTable("T", {"A", "B"}, "K", 1, result));
  EXPECT_EQ(Ints(result), (std::vector<long long>{11, 20}));
  EXPECT_EQ(device.DeleteRows("T", "K", 1), 1);
  EXPECT_EQ(device.DeleteRows("T", "K", 1), 0);
  EXPECT_EQ(device.DeleteRows("Missing", "K", 1), -1);
}

TEST_F(SqliteDeviceTest, QueriesAnswerTheLibraryQueryAndOthersOfItsShape) {
  SqliteDevice device;
  ASSERT_TRUE(device.OpenDB(path));
  std::vector<CVariant> result{CVariant(1)};
  EXPECT_FALSE(device.QueryTable("EntityTable", {"ID"}, "PID", 0, result)) << "no table yet";
  EXPECT_TRUE(result.empty());
  ASSERT_TRUE(device.EnsureTable("EntityTable", {"ID", "PID"}));
  ASSERT_TRUE(device.QueryTable("EntityTable", {"ID"}, "PID", 0, result));
  EXPECT_TRUE(result.empty()) << "no row";
  for (long long id : {5, 3, 9, 4})
    ASSERT_TRUE(device.WriteRow("EntityTable", {"ID", "PID"}, {CVariant(id), CVariant(id == 3 ? 0LL : 3LL)}));
  ASSERT_TRUE(device.QueryTable("EntityTable", {"ID"}, "PID", 0, result));
  EXPECT_EQ(Ints(result), std::vector<long long>{3});
  ASSERT_TRUE(device.QueryTable("EntityTable", {"ID", "PID"}, "PID", 3, result));
  EXPECT_EQ(Ints(result), (std::vector<long long>{4, 3, 5, 3, 9, 3}));
}

TEST_F(SqliteDeviceTest, HostileNamesAreQuoted) {
  SqliteDevice device;
  ASSERT_TRUE(device.OpenDB(path));
  const std::string table = "t\"; DROP TABLE x; --";
  const std::string column = "c\"olumn";
  ASSERT_TRUE(device.EnsureTable(table, {"k", column})) << device.LastError();
  ASSERT_TRUE(device.WriteRow(table, {"k", column}, {CVariant(1LL), CVariant(std::string("v"))}));
  std::vector<CVariant> result;
  ASSERT_TRUE(device.QueryTable(table, {column}, "k", 1, result));
  ASSERT_EQ(result.size(), 1u);
  EXPECT_EQ(result[0].toString(), "v");
  // A table made by an older host gains the missing columns.
  ASSERT_TRUE(device.EnsureTable(table, {"k", column, "added"}));
  ASSERT_TRUE(device.QueryTable(table, {"added"}, "k", 1, result));
  ASSERT_EQ(result.size(), 1u);
  EXPECT_TRUE(result[0].IsNull());
}

TEST_F(SqliteDeviceTest, AccessIsOneTransaction) {
  SqliteDevice device;
  ASSERT_TRUE(device.OpenDB(path));
  ASSERT_TRUE(device.EnsureTable("T", {"K"}));
  auto count = [&] {
    std::vector<CVariant> result;
    device.QueryAllRows("T", {"K"}, result);
    return result.size();
  };
  device.BeginAccess();
  device.BeginAccess();  // nested: joins the outer access
  ASSERT_TRUE(device.WriteRow("T", {"K"}, {CVariant(1LL)}));
  device.EndAccess();
  EXPECT_TRUE(device.InAccess());
  device.EndAccess();
  EXPECT_EQ(count(), 1u);

  device.BeginAccess();
  ASSERT_TRUE(device.WriteRow("T", {"K"}, {CVariant(2LL)}));
  device.CancelAccess();
  device.EndAccess();
  EXPECT_EQ(count(), 1u) << "a cancelled access is rolled back";

  device.BeginAccess();
  ASSERT_TRUE(device.WriteRow("T", {"K"}, {CVariant(3LL)}));
  device.CloseDB();  // closing inside an access rolls it back
  ASSERT_TRUE(device.OpenDB(path));
  EXPECT_EQ(count(), 1u);
  device.EndAccess();  // outside an access: nothing happens
  device.CancelAccess();
  EXPECT_FALSE(device.InAccess());
}

}  // namespace
}  // namespace hux
