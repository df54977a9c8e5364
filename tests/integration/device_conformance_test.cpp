// The contract every database device keeps, run on each engine, then what
// only one engine has (foreign files, connection strings, lost connections).
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <functional>
#include <thread>

#include <sqlite3.h>

#include <hux/host/sqlite_device.h>

#include "scratch_dir.h"
#include "test_devices.h"

#ifdef HUX_HAVE_PG_HOST
#include <hux/host/pg_device.h>

#include "pg_server.h"
#endif

namespace hux {
namespace {

using test::Engine;
using test::Ints;

class DeviceContract : public ::testing::TestWithParam<Engine> {
 protected:
  void SetUp() override {
    if (const std::string why = test::WhyUnavailable(GetParam()); !why.empty()) GTEST_SKIP() << why;
    db = std::make_unique<test::TestDatabase>(GetParam());
    device = db->Open();
  }

  static size_t Count(GDBDevice& on) {
    std::vector<CVariant> result;
    EXPECT_TRUE(on.QueryAllRows("T", {"K"}, result));
    return result.size();
  }

  std::unique_ptr<test::TestDatabase> db;
  std::unique_ptr<GDBDevice> device;
};

INSTANTIATE_TEST_SUITE_P(Engines, DeviceContract, ::testing::ValuesIn(test::BuiltEngines()),
                         [](const auto& info) { return std::string(test::EngineName(info.param)); });

// Names are quoted, never pasted: an unknown double-quoted name is no text literal.
TEST_P(DeviceContract, QuotedNamesAndColumnsAddedLater) {
  std::vector<CVariant> result;
  const std::string table = "t\"; DROP TABLE x; --", column = "c\"ol'umn";
  ASSERT_TRUE(device->EnsureTable(table, {"k", column})) << test::DeviceError(*device);
  ASSERT_TRUE(device->WriteRow(table, {"k", column}, {CVariant(1LL), CVariant(std::string("v"))}));
  // a table made by an older host gains the missing columns
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
  const bool pg = GetParam() == Engine::Postgres;
  const std::pair<const char*, std::function<bool()>> cases[] = {
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
      // PostgreSQL would cut the name short or at the zero, merging it with others
      {"a name too long", [&] { return !pg || device->EnsureTable(std::string(64, 'n'), {"K"}); }},
      {"a name with a zero", [&] { return !pg || device->EnsureTable("T", {"K", std::string("A\0B", 3)}); }},
  };
  for (const auto& [what, call] : cases) {
    ASSERT_TRUE(device->QueryAllRows("T", {"K"}, result)) << "a success clears the last error";
    ASSERT_TRUE(test::DeviceError(*device).empty());
    if (!call()) {
      EXPECT_FALSE(test::DeviceError(*device).empty()) << what;
    } else {
      EXPECT_FALSE(pg) << what << " succeeded";
    }
  }
  EXPECT_EQ(Count(*device), 0u);
  device->CloseDB();
  EXPECT_FALSE(device->IsDBOpen());
  EXPECT_THROW(device->BeginAccess(), std::runtime_error);
  EXPECT_FALSE(device->WriteRow("T", {"K"}, {CVariant(1LL)}));
}

TEST_P(DeviceContract, AccessIsOneTransaction) {
  ASSERT_TRUE(device->EnsureTable("T", {"K"}));
  std::unique_ptr<GDBDevice> other = db->Open();
  auto write = [&](long long k) { ASSERT_TRUE(device->WriteRow("T", {"K"}, {CVariant(k)})); };
  device->BeginAccess();
  device->BeginAccess();  // nested: joins the outer access
  write(1);
  device->EndAccess();
  EXPECT_EQ(Count(*other), 0u);
  device->EndAccess();
  EXPECT_EQ(Count(*other), 1u);

  device->BeginAccess();
  write(2);
  device->CancelAccess();
  device->EndAccess();
  EXPECT_EQ(Count(*device), 1u);

  device->BeginAccess();
  write(3);
  ASSERT_TRUE(device->EnsureTable("V", {"K"}));
  device->CloseDB();  // closing inside an access rolls it back
  ASSERT_TRUE(device->OpenDB(db->Location()));
  EXPECT_EQ(Count(*device), 1u);
  std::vector<CVariant> result;
  EXPECT_FALSE(device->QueryAllRows("V", {"K"}, result));
  device->EndAccess();  // outside an access: nothing happens
  device->CancelAccess();
  device->BeginAccess();
  write(4);
  device->EndAccess();
  EXPECT_EQ(Count(*other), 2u);  // a cancel outside an access does not reach the next one
  // a second connection's access waits for the first (check-then-write across processes)
  device->BeginAccess();
  write(5);
  std::atomic<bool> began{false};
  size_t seen = 0;
  std::thread second([&] {
    other->BeginAccess();
    began = true;
    seen = Count(*other);
    other->EndAccess();
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_FALSE(began);
  device->EndAccess();
  second.join();
  EXPECT_EQ(seen, 3u);
}

TEST(SqliteDevice, OpensOrCreatesAndRefusesOtherFiles) {
  test::ScratchDir dir;
  host::SqliteDevice device;
  ASSERT_TRUE(device.OpenDB(L"test.db")) << device.LastError();
  EXPECT_TRUE(std::filesystem::exists("test.db"));
  device.CloseDB();
  std::ofstream("test.db", std::ios::binary | std::ios::trunc) << std::string(4096, 'x');
  EXPECT_FALSE(device.OpenDB(L"test.db"));
  EXPECT_FALSE(device.IsDBOpen());
  EXPECT_FALSE(device.LastError().empty());
  EXPECT_FALSE(device.OpenDB(L"/nonexistent-dir/sub/x.db"));
  // a query failing after its first row (a computed column overflows) returns no rows
  ASSERT_TRUE(device.OpenDB(L"g.db"));
  sqlite3* raw = nullptr;
  ASSERT_EQ(sqlite3_open("g.db", &raw), SQLITE_OK);
  EXPECT_EQ(sqlite3_exec(raw, "CREATE TABLE G (K INTEGER PRIMARY KEY); INSERT INTO G VALUES (1), (2); ALTER TABLE G "
                              "ADD COLUMN A AS (abs(CASE WHEN K > 1 THEN -9223372036854775807 - 1 ELSE K END))",
                         nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(raw);
  std::vector<CVariant> result;
  EXPECT_FALSE(device.QueryAllRows("G", {"K", "A"}, result));
  EXPECT_TRUE(result.empty());
}

#ifdef HUX_HAVE_PG_HOST

class PgDeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const std::string why = test::WhyUnavailable(Engine::Postgres); !why.empty()) GTEST_SKIP() << why;
    db = std::make_unique<test::TestDatabase>(Engine::Postgres);
    location.assign(db->Location().begin(), db->Location().end());
    ASSERT_TRUE(device.OpenDB(db->Location())) << device.LastError();
  }

  void Admin(const std::string& sql) {
    if (std::string why; !test::PgExecute(location, sql, why)) throw std::runtime_error(why);
  }

  std::unique_ptr<test::TestDatabase> db;
  std::string location;
  host::PgDevice device;
};

TEST_F(PgDeviceTest, ConnectionStringsOfEveryFormAndBadOnes) {
  const auto field = [&](const std::string& key) {
    const size_t at = location.find(key + "=") + key.size() + 1;
    return location.substr(at, location.find(' ', at) - at);
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
  const std::string missing = location.substr(0, location.find("dbname=")) + "dbname=no_such_db user=postgres";
  EXPECT_FALSE(device.OpenDB(std::wstring(missing.begin(), missing.end())));
  EXPECT_NE(device.LastError().find("no_such_db"), std::string::npos) << device.LastError();
}

// The server ends the session inside an access, a statement fails, or the COMMIT is refused:
// the access fails as a whole.
TEST_F(PgDeviceTest, LostConnectionFailedStatementOrRefusedCommitFailsTheAccess) {
  ASSERT_TRUE(device.EnsureTable("T", {"K", "A"}));
  for (bool statementAfterLoss : {true, false}) {
    SCOPED_TRACE(statementAfterLoss);
    ASSERT_TRUE(device.OpenDB(db->Location()));
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
  Admin("ALTER TABLE \"T\" ADD CONSTRAINT small CHECK ((\"A\").i < 10)");
  device.BeginAccess();
  ASSERT_TRUE(device.WriteRow("T", {"K", "A"}, {CVariant(1LL), CVariant(1)}));
  EXPECT_TRUE(device.IsDBOpen());
  EXPECT_FALSE(device.WriteRow("T", {"K", "A"}, {CVariant(2LL), CVariant(99)}));
  EXPECT_THROW(device.EndAccess(), std::runtime_error);
  std::vector<CVariant> rows;
  ASSERT_TRUE(device.QueryAllRows("T", {"K"}, rows));
  EXPECT_TRUE(rows.empty());
  // a COMMIT the server refuses on a live connection: rolled back, and the exception says so
  Admin("CREATE FUNCTION refuse() RETURNS trigger LANGUAGE plpgsql AS "
        "$$BEGIN RAISE EXCEPTION 'refused at commit'; END$$");
  Admin("CREATE CONSTRAINT TRIGGER at_commit AFTER INSERT ON \"T\" DEFERRABLE INITIALLY DEFERRED "
        "FOR EACH ROW EXECUTE FUNCTION refuse()");
  device.BeginAccess();
  ASSERT_TRUE(device.WriteRow("T", {"K"}, {CVariant(1LL)}));
  try {
    device.EndAccess();
    ADD_FAILURE() << "the server refused the commit";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("failed and was rolled back"), std::string::npos) << e.what();
  }
  EXPECT_TRUE(device.IsDBOpen());
  ASSERT_TRUE(device.QueryAllRows("T", {"K"}, rows));
  EXPECT_TRUE(rows.empty());
}

// Tables made by other tools: typed columns are used as far as their types allow.
TEST_F(PgDeviceTest, ForeignColumnTypes) {
  ASSERT_TRUE(device.EnsureTable("T", {"K", "A"}));
  Admin("CREATE TABLE odd (k bigint PRIMARY KEY, small int2, i int4, f real, v varchar(9), flag bool, j jsonb, "
        "n numeric);"
        "INSERT INTO odd VALUES (1, -2, 70000, 1.5, 'x', true, '{}', 1.5);"
        "INSERT INTO \"T\" VALUES (1, ROW(1, 2.5, NULL, NULL))");
  const struct {
    const char* table;
    const char* column;
    const char* value;  // toString of the value read, null when the read fails
  } reads[] = {
      {"odd", "small", "-2"}, {"odd", "i", "70000"}, {"odd", "f", "1.5"}, {"odd", "v", "x"}, {"odd", "flag", "1"},
      {"odd", "j", nullptr},  {"odd", "n", nullptr}, {"T", "A", nullptr},  // a value record holding two values
  };
  for (const auto& c : reads) {
    std::vector<CVariant> result;
    EXPECT_EQ(device.QueryAllRows(c.table, {c.column}, result), c.value != nullptr) << c.column << device.LastError();
    ASSERT_EQ(result.size(), c.value ? 1u : 0u) << c.column;
    if (c.value) {
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
    EXPECT_EQ(device.WriteRow("odd", {"k", "small", "v", "f"}, row), ok) << row[0].toInt() << device.LastError();
  std::vector<CVariant> written;
  ASSERT_TRUE(device.QueryTable("odd", {"small", "v", "f"}, "k", 2, written));
  EXPECT_EQ(Ints({written[0]}), std::vector<long long>{32767});
  EXPECT_EQ(written[1].toString() + " " + written[2].toString(), "abc -0.75");
}

#endif

}  // namespace
}  // namespace hux
