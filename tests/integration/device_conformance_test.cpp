// The device contract every database device keeps, run on each engine:
// tables, rows of every kind, the upsert that keeps unnamed columns,
// queries in key order, transactions with nesting and cancel, errors and
// hostile names. Then what only one engine has: files that are no SQLite
// database; PostgreSQL connection strings, lost connections and result
// types the device does not expect.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <hux/host/sqlite_device.h>
#include <hux/io/memstream.h>
#include <hux/value/variant.h>

#include "temp_db.h"
#include "test_devices.h"

#ifdef HUX_HAVE_PG_HOST
#include <hux/host/pg_device.h>

#include "pg_server.h"
#endif

namespace hux {
namespace {

using test::Engine;

std::vector<long long> Ints(const std::vector<CVariant>& values) {
  std::vector<long long> out;
  for (const CVariant& v : values) out.push_back(v.toInt64(nullptr));
  return out;
}

CVariant Blob(const std::string& bytes) {
  auto* blob = new GMemStream(true, nullptr, 0);
  blob->Write(const_cast<char*>(bytes.data()), static_cast<unsigned int>(bytes.size()));
  CVariant value;
  value.SetValueRefPtr(blob);
  return value;
}

// The bytes of a blob variant, or "<none>" when it holds no GMemStream.
std::string BytesOf(const CVariant& value) {
  auto* stream = dynamic_cast<GMemStream*>(value.GetValueRefPtr());
  return stream ? std::string(stream->GetData(), stream->GetDataSize()) : "<none>";
}

class DeviceContract : public ::testing::TestWithParam<Engine> {
 protected:
  void SetUp() override {
    if (const std::string why = test::WhyUnavailable(GetParam()); !why.empty()) GTEST_SKIP() << why;
    db = std::make_unique<test::TestDatabase>(GetParam());
    device = db->Open();
  }

  size_t Count(GDBDevice& on, const std::string& table = "T") {
    std::vector<CVariant> result;
    EXPECT_TRUE(on.QueryAllRows(table, {"K"}, result));
    return result.size();
  }

  std::unique_ptr<test::TestDatabase> db;
  std::unique_ptr<GDBDevice> device;
};

TEST_P(DeviceContract, RowsOfEveryKindRoundTrip) {
  ASSERT_TRUE(device->EnsureTable("T", {"K", "A", "B"}));
  const std::string bytes("\0\1\2\xFF", 4);
  const std::wstring text = L"\u00e4\u4e2d\U0001F600";
  const std::vector<CVariant> rows[] = {
      {CVariant(3LL), CVariant(-7), CVariant(2.5)},
      {CVariant(1LL), CVariant(text), CVariant(std::string("narrow"))},
      {CVariant(2LL), Blob(bytes), CVariant()},
      {CVariant(-4LL), CVariant(static_cast<long long>(LLONG_MIN)), Blob("")},
      {CVariant(9LL), CVariant(static_cast<long long>(LLONG_MAX)), CVariant(std::wstring())},
  };
  for (const auto& row : rows) ASSERT_TRUE(device->WriteRow("T", {"K", "A", "B"}, row)) << test::DeviceError(*device);

  std::vector<CVariant> result{CVariant(99)};
  ASSERT_TRUE(device->QueryAllRows("T", {"K", "A", "B"}, result));
  ASSERT_EQ(result.size(), 15u) << "the old contents are replaced";
  EXPECT_EQ(Ints({result[0], result[3], result[6], result[9], result[12]}),
            (std::vector<long long>{-4, 1, 2, 3, 9}))
      << "in key order";
  EXPECT_EQ(result[1].toInt64(nullptr), LLONG_MIN);
  EXPECT_EQ(BytesOf(result[2]), "") << "an empty blob stays a blob, not null";
  EXPECT_EQ(result[4].toWString(), text);
  EXPECT_EQ(result[5].toString(), "narrow");
  EXPECT_EQ(BytesOf(result[7]), bytes);
  EXPECT_TRUE(result[8].IsNull());
  EXPECT_EQ(result[10].toInt(), -7);
  EXPECT_EQ(result[11].toDouble(), 2.5);
  EXPECT_EQ(result[13].toInt64(nullptr), LLONG_MAX);
  EXPECT_FALSE(result[14].IsNull()) << "empty text is not null";
  EXPECT_EQ(result[14].toWString(), L"");
}

TEST_P(DeviceContract, WriteRowUpdatesOnlyNamedColumns) {
  ASSERT_TRUE(device->EnsureTable("T", {"K", "A", "B"}));
  ASSERT_TRUE(device->WriteRow("T", {"K", "A", "B"}, {CVariant(1LL), CVariant(10), CVariant(20)}));
  ASSERT_TRUE(device->WriteRow("T", {"K", "A"}, {CVariant(1LL), CVariant(11)}));
  ASSERT_TRUE(device->WriteRow("T", {"K"}, {CVariant(1LL)})) << "a key alone keeps the row";
  std::vector<CVariant> result;
  ASSERT_TRUE(device->QueryTable("T", {"A", "B"}, "K", 1, result));
  EXPECT_EQ(Ints(result), (std::vector<long long>{11, 20}));
  EXPECT_EQ(device->DeleteRows("T", "K", 1), 1);
  EXPECT_EQ(device->DeleteRows("T", "K", 1), 0);
  ASSERT_TRUE(device->WriteRow("T", {"K"}, {CVariant(2LL)}));
  ASSERT_TRUE(device->ClearTable("T"));
  EXPECT_EQ(Count(*device), 0u);
}

TEST_P(DeviceContract, QueriesAnswerTheLibraryQueryAndOthersOfItsShape) {
  std::vector<CVariant> result{CVariant(1)};
  ASSERT_TRUE(device->EnsureTable("EntityTable", {"ID", "PID"}));
  ASSERT_TRUE(device->QueryTable("EntityTable", {"ID"}, "PID", 0, result));
  EXPECT_TRUE(result.empty()) << "no row";
  for (long long id : {5, 3, 9, 4})
    ASSERT_TRUE(device->WriteRow("EntityTable", {"ID", "PID"}, {CVariant(id), CVariant(id == 3 ? 0LL : 3LL)}));
  ASSERT_TRUE(device->QueryTable("EntityTable", {"ID"}, "PID", 0, result));
  EXPECT_EQ(Ints(result), std::vector<long long>{3});
  ASSERT_TRUE(device->QueryTable("EntityTable", {"ID", "PID"}, "PID", 3, result));
  EXPECT_EQ(Ints(result), (std::vector<long long>{4, 3, 5, 3, 9, 3}));
  ASSERT_TRUE(device->QueryTable("EntityTable", {"PID"}, "ID", 9, result)) << "by the key column too";
  EXPECT_EQ(Ints(result), std::vector<long long>{3});
}

TEST_P(DeviceContract, HostileNamesAreQuoted) {
  const std::string table = "t\"; DROP TABLE x; --";
  const std::string column = "c\"ol'umn";
  ASSERT_TRUE(device->EnsureTable(table, {"k", column})) << test::DeviceError(*device);
  ASSERT_TRUE(device->WriteRow(table, {"k", column}, {CVariant(1LL), CVariant(std::string("v"))}));
  std::vector<CVariant> result;
  ASSERT_TRUE(device->QueryTable(table, {column}, "k", 1, result));
  ASSERT_EQ(result.size(), 1u);
  EXPECT_EQ(result[0].toString(), "v");
  // A table made by an older host gains the missing columns.
  ASSERT_TRUE(device->EnsureTable(table, {"k", column, "added"}));
  ASSERT_TRUE(device->QueryTable(table, {"added", column}, "k", 1, result));
  ASSERT_EQ(result.size(), 2u);
  EXPECT_TRUE(result[0].IsNull());
  EXPECT_EQ(result[1].toString(), "v");
}

TEST_P(DeviceContract, FailuresAreReportedNotHidden) {
  ASSERT_TRUE(device->EnsureTable("T", {"K", "A"}));
  CVariant id;
  id.SetObjectID(5);
  std::vector<CVariant> result;
  const bool sqlite = GetParam() == Engine::Sqlite;
  struct Case {
    const char* what;
    std::function<bool()> call;
    bool checked = true;
  };
  const Case cases[] = {
      {"a kind no column holds", [&] { return device->WriteRow("T", {"K", "A"}, {CVariant(4LL), id}); }},
      {"columns and values differ", [&] { return device->WriteRow("T", {"K", "A"}, {CVariant(4LL)}); }},
      {"no table", [&] { return device->QueryAllRows("Missing", {"K"}, result); }},
      {"no table, keyed", [&] { return device->QueryTable("Missing", {"K"}, "K", 1, result); }},
      {"no column", [&] { return device->QueryAllRows("T", {"K", "Z"}, result); }},
      {"no key column", [&] { return device->QueryTable("T", {"K"}, "Z", 1, result); }},
      {"no columns", [&] { return device->QueryAllRows("T", {}, result); }},
      {"no table to delete from", [&] { return device->DeleteRows("Missing", "K", 1) >= 0; }},
      {"no table to clear", [&] { return device->ClearTable("Missing"); }},
      {"a table without a key", [&] { return device->EnsureTable("U", {}); }},
      // PostgreSQL would cut the name short and so merge it with others.
      {"a name too long", [&] { return device->EnsureTable(std::string(64, 'n'), {"K"}); }, !sqlite},
  };
  for (const auto& [what, call, checked] : cases) {
    if (!checked) continue;
    ASSERT_TRUE(device->QueryAllRows("T", {"K"}, result)) << "a success clears the last error";
    ASSERT_TRUE(test::DeviceError(*device).empty());
    EXPECT_FALSE(call()) << what;
    EXPECT_FALSE(test::DeviceError(*device).empty()) << what;
  }
  EXPECT_EQ(Count(*device), 0u) << "nothing was written";
  device->CloseDB();
  EXPECT_FALSE(device->IsDBOpen());
  EXPECT_THROW(device->BeginAccess(), std::runtime_error) << "no database is open";
  EXPECT_FALSE(device->WriteRow("T", {"K"}, {CVariant(1LL)}));
}

TEST_P(DeviceContract, AccessIsOneTransaction) {
  ASSERT_TRUE(device->EnsureTable("T", {"K"}));
  std::unique_ptr<GDBDevice> other = db->Open();
  device->BeginAccess();
  device->BeginAccess();  // nested: joins the outer access
  ASSERT_TRUE(device->WriteRow("T", {"K"}, {CVariant(1LL)}));
  device->EndAccess();
  EXPECT_EQ(Count(*other), 0u) << "the inner end commits nothing";
  device->EndAccess();
  EXPECT_EQ(Count(*other), 1u);

  device->BeginAccess();
  ASSERT_TRUE(device->WriteRow("T", {"K"}, {CVariant(2LL)}));
  device->CancelAccess();
  device->EndAccess();
  EXPECT_EQ(Count(*device), 1u) << "a cancelled access is rolled back";

  device->BeginAccess();
  ASSERT_TRUE(device->WriteRow("T", {"K"}, {CVariant(3LL)}));
  ASSERT_TRUE(device->EnsureTable("V", {"K"}));
  device->CloseDB();  // closing inside an access rolls it back
  ASSERT_TRUE(device->OpenDB(db->Location()));
  EXPECT_EQ(Count(*device), 1u);
  std::vector<CVariant> result;
  EXPECT_FALSE(device->QueryAllRows("V", {"K"}, result)) << "a table made in a rolled-back access is gone";
  device->EndAccess();  // outside an access: nothing happens
  device->CancelAccess();
  device->BeginAccess();
  ASSERT_TRUE(device->WriteRow("T", {"K"}, {CVariant(4LL)}));
  device->EndAccess();
  EXPECT_EQ(Count(*other), 2u) << "a cancel outside an access does not reach the next one";
}

// What an access reads stays true until it ends: a second connection's
// access waits for the first, so check-then-write schemes hold across
// processes.
TEST_P(DeviceContract, AccessesOfTwoConnectionsRunOneAfterTheOther) {
  ASSERT_TRUE(device->EnsureTable("T", {"K"}));
  std::unique_ptr<GDBDevice> other = db->Open();
  device->BeginAccess();
  ASSERT_TRUE(device->WriteRow("T", {"K"}, {CVariant(1LL)}));
  std::atomic<bool> began{false};
  size_t seen = 0;
  std::thread second([&] {
    other->BeginAccess();
    began = true;
    seen = Count(*other);
    other->EndAccess();
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_FALSE(began) << "the second access began while the first was open";
  device->EndAccess();
  second.join();
  EXPECT_EQ(seen, 1u) << "the second access sees what the first committed";
}

INSTANTIATE_TEST_SUITE_P(Engines, DeviceContract, ::testing::ValuesIn(test::BuiltEngines()),
                         [](const auto& info) { return std::string(test::EngineName(info.param)); });

// ---- SQLite only --------------------------------------------------------------

class SqliteDeviceTest : public test::TempDbTest {};

TEST_F(SqliteDeviceTest, OpensOrCreatesAndRefusesOtherFiles) {
  host::SqliteDevice device;
  ASSERT_TRUE(device.OpenDB(path)) << device.LastError();
  EXPECT_TRUE(std::filesystem::exists(File()));
  device.CloseDB();
  {
    std::ofstream junk(File(), std::ios::binary | std::ios::trunc);
    junk << std::string(4096, 'x');
  }
  EXPECT_FALSE(device.OpenDB(path));
  EXPECT_FALSE(device.IsDBOpen());
  EXPECT_FALSE(device.LastError().empty());
  EXPECT_FALSE(device.OpenDB(L"/nonexistent-dir/sub/x.db"));
}

// ---- PostgreSQL only ----------------------------------------------------------

#ifdef HUX_HAVE_PG_HOST

class PgDeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const std::string why = test::WhyUnavailable(Engine::Postgres); !why.empty()) GTEST_SKIP() << why;
    db = std::make_unique<test::TestDatabase>(Engine::Postgres);
    ASSERT_TRUE(device.OpenDB(db->Location())) << device.LastError();
  }

  // Runs `sql` on a connection of its own; throws on failure.
  void Admin(const std::string& sql) {
    std::string why;
    if (!test::PgExecute(std::string(db->Location().begin(), db->Location().end()), sql, why))
      throw std::runtime_error(why);
  }

  std::unique_ptr<test::TestDatabase> db;
  host::PgDevice device;
};

TEST_F(PgDeviceTest, ConnectionStringsOfEveryFormAndBadOnes) {
  const std::wstring& location = db->Location();
  const std::string keyValue(location.begin(), location.end());
  const auto field = [&](const std::string& key) {
    const size_t at = keyValue.find(key + "=") + key.size() + 1;
    return keyValue.substr(at, keyValue.find(' ', at) - at);
  };
  const std::string uri = "postgresql:///" + field("dbname") + "?host=" + field("host") + "&user=postgres";
  ASSERT_TRUE(device.OpenDB(std::wstring(uri.begin(), uri.end()))) << device.LastError();
  EXPECT_TRUE(device.EnsureTable("T", {"K"}));

  for (const wchar_t* bad : {L"host=/nonexistent-dir dbname=x user=postgres", L"dbname = = =",
                             L"postgresql://[bad", L"host=/tmp dbname=\u00e4 connect_timeout=x"}) {
    EXPECT_FALSE(device.OpenDB(bad));
    EXPECT_FALSE(device.IsDBOpen());
    EXPECT_FALSE(device.LastError().empty());
    EXPECT_THROW(device.BeginAccess(), std::runtime_error);
  }
  const std::string missing = keyValue.substr(0, keyValue.find("dbname=")) + "dbname=no_such_db user=postgres";
  EXPECT_FALSE(device.OpenDB(std::wstring(missing.begin(), missing.end())));
  EXPECT_NE(device.LastError().find("no_such_db"), std::string::npos) << device.LastError();
}

// The server ends the device's session (as a restart or an administrator
// would): what the access wrote is lost, and the device must say so.
TEST_F(PgDeviceTest, LostConnectionFailsTheAccessAndKeepsNothing) {
  ASSERT_TRUE(device.EnsureTable("T", {"K"}));
  for (bool statementAfterLoss : {true, false}) {
    SCOPED_TRACE(statementAfterLoss);
    ASSERT_TRUE(device.OpenDB(db->Location())) << "connects again after a loss";
    device.BeginAccess();
    ASSERT_TRUE(device.WriteRow("T", {"K"}, {CVariant(1LL)}));
    Admin("SELECT pg_terminate_backend(pid) FROM pg_stat_activity "
          "WHERE datname = current_database() AND pid <> pg_backend_pid()");
    if (statementAfterLoss) {
      EXPECT_FALSE(device.WriteRow("T", {"K"}, {CVariant(2LL)}));
      EXPECT_NE(device.LastError().find("lost"), std::string::npos) << device.LastError();
      EXPECT_FALSE(device.IsDBOpen());
      EXPECT_FALSE(device.OpenDB(db->Location())) << "the lost access is still open";
    }
    EXPECT_THROW(device.EndAccess(), std::runtime_error);
    EXPECT_FALSE(device.InAccess());
  }
  std::vector<CVariant> rows;
  ASSERT_TRUE(device.QueryAllRows("T", {"K"}, rows)) << "outside an access the device connects again";
  EXPECT_TRUE(rows.empty()) << "nothing of a lost access is committed";
}

// PostgreSQL aborts a transaction at its first failed statement; the access
// must then fail as a whole rather than commit what came before.
TEST_F(PgDeviceTest, FailedStatementFailsTheAccess) {
  ASSERT_TRUE(device.EnsureTable("T", {"K", "A"}));
  Admin("ALTER TABLE \"T\" ADD CONSTRAINT small CHECK ((\"A\").i < 10)");
  device.BeginAccess();
  ASSERT_TRUE(device.WriteRow("T", {"K", "A"}, {CVariant(1LL), CVariant(1)}));
  EXPECT_FALSE(device.WriteRow("T", {"K", "A"}, {CVariant(2LL), CVariant(99)}));
  EXPECT_THROW(device.EndAccess(), std::runtime_error);
  std::vector<CVariant> rows;
  ASSERT_TRUE(device.QueryAllRows("T", {"K"}, rows));
  EXPECT_TRUE(rows.empty());
}

// Tables made by other tools: plain typed columns are read and written as
// far as their types allow; types and values the device does not expect are
// clear errors.
TEST_F(PgDeviceTest, ForeignColumnTypes) {
  ASSERT_TRUE(device.EnsureTable("T", {"K", "A"}));
  Admin("CREATE TABLE odd (k bigint PRIMARY KEY, small int2, i int4, f real, v varchar(9), flag bool, j jsonb, "
        "n numeric);"
        "INSERT INTO odd VALUES (1, -2, 70000, 1.5, 'x', true, '{}', 1.5);"
        "INSERT INTO \"T\" VALUES (1, ROW(1, 2.5, NULL, NULL))");
  struct Case {
    const char* table;
    const char* column;
    bool ok;
    const char* value;  // toString of the value read
  };
  const Case reads[] = {
      {"odd", "small", true, "-2"}, {"odd", "i", true, "70000"}, {"odd", "f", true, "1.5"},
      {"odd", "v", true, "x"},      {"odd", "flag", true, "1"},  {"odd", "j", false, ""},
      {"odd", "n", false, ""},      {"T", "A", false, ""},  // a value record holding two values
  };
  for (const Case& c : reads) {
    std::vector<CVariant> result;
    EXPECT_EQ(device.QueryAllRows(c.table, {c.column}, result), c.ok) << c.column << " " << device.LastError();
    EXPECT_EQ(result.size(), c.ok ? 1u : 0u) << c.column;
    if (c.ok && result.size() == 1) {
      EXPECT_EQ(result[0].toString(), c.value) << c.column;
    }
  }
  const std::pair<std::vector<CVariant>, bool> writes[] = {
      {{CVariant(2LL), CVariant(32767), CVariant(std::string("abc")), CVariant(-0.75)}, true},
      {{CVariant(3LL), CVariant(32768), CVariant(), CVariant()}, false},  // does not fit int2
      {{CVariant(4LL), CVariant(std::string("1")), CVariant(), CVariant()}, false},
      {{CVariant(5LL), CVariant(), CVariant(std::wstring(L"a\0b", 3)), CVariant()}, false},  // text cannot hold zero
  };
  for (const auto& [row, ok] : writes)
    EXPECT_EQ(device.WriteRow("odd", {"k", "small", "v", "f"}, row), ok) << row[0].toInt() << " " << device.LastError();
  std::vector<CVariant> written;
  ASSERT_TRUE(device.QueryTable("odd", {"small", "v", "f"}, "k", 2, written));
  ASSERT_EQ(written.size(), 3u);
  EXPECT_EQ(written[0].toInt(), 32767);
  EXPECT_EQ(written[1].toString(), "abc");
  EXPECT_EQ(written[2].toDouble(), -0.75);
}

#endif

}  // namespace
}  // namespace hux
