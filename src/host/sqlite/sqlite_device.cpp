#include <hux/host/sqlite_device.h>

#include <sqlite3.h>

#include <memory>
#include <set>
#include <stdexcept>

#include <hux/io/memstream.h>
#include <hux/object/datatype.h>
#include <hux/value/variant.h>

#include "host/text.h"

namespace hux::host {

namespace {

constexpr int kBusyTimeoutMs = 30000;

// "name" with inner quotes doubled: any table or column name is safe in SQL.
std::string Quote(const std::string& name) {
  std::string out = "\"";
  for (char c : name) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

std::string ColumnList(const std::vector<std::string>& columns) {
  std::string out;
  for (size_t i = 0; i < columns.size(); ++i) out += (i ? ", " : "") + Quote(columns[i]);
  return out;
}

struct StatementCloser {
  void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using Statement = std::unique_ptr<sqlite3_stmt, StatementCloser>;

// The GMemStream a variant holds (shared or owned), or null.
hux::GMemStream* StreamOf(const hux::CVariant& value) {
  if (hux::CReferenced* shared = value.GetValueRefPtr()) return dynamic_cast<hux::GMemStream*>(shared);
  const auto& stru = value.GetVariantStru();
  if (stru.type == hux::DT_MEM_STREAM && stru.isObject)
    return reinterpret_cast<hux::GMemStream*>(static_cast<uintptr_t>(stru.value));
  return nullptr;
}

// Binds `value` to parameter `index`; false for a kind a column cannot hold.
bool Bind(sqlite3_stmt* statement, int index, const hux::CVariant& value) {
  switch (value.GetVariantStru().type) {
    case hux::DT_NONE:
      return sqlite3_bind_null(statement, index) == SQLITE_OK;
    case hux::DT_INT:
    case hux::DT_INT64:
    case hux::DT_UINT64:
    case hux::DT_BOOL:
    case hux::DT_CHAR:
    case hux::DT_UCHAR:
    case hux::DT_SHORT:
    case hux::DT_USHORT:
    case hux::DT_UINT:
      return sqlite3_bind_int64(statement, index, value.toInt64(nullptr)) == SQLITE_OK;
    case hux::DT_DOUBLE:
    case hux::DT_FLOAT:
      return sqlite3_bind_double(statement, index, value.toDouble(nullptr)) == SQLITE_OK;
    case hux::DT_STRING:
    case hux::DT_WSTRING: {
      const std::string text = ToUtf8(value.toWString(nullptr));
      return sqlite3_bind_text64(statement, index, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8) ==
             SQLITE_OK;
    }
    default:
      break;
  }
  hux::GMemStream* stream = StreamOf(value);
  if (!stream) return false;
  const unsigned int size = stream->GetDataSize();
  // A zero-length blob, not null: the column holds an (empty) byte block.
  return sqlite3_bind_blob64(statement, index, size ? stream->GetData() : "", size, SQLITE_TRANSIENT) == SQLITE_OK;
}

hux::CVariant ColumnValue(sqlite3_stmt* statement, int column) {
  switch (sqlite3_column_type(statement, column)) {
    case SQLITE_INTEGER:
      return hux::CVariant(static_cast<long long>(sqlite3_column_int64(statement, column)));
    case SQLITE_FLOAT:
      return hux::CVariant(sqlite3_column_double(statement, column));
    case SQLITE_TEXT: {
      const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
      return hux::CVariant(FromUtf8(std::string(text ? text : "", sqlite3_column_bytes(statement, column))));
    }
    case SQLITE_BLOB: {
      const void* data = sqlite3_column_blob(statement, column);
      const int size = sqlite3_column_bytes(statement, column);
      auto* stream = new hux::GMemStream();
      if (data && size > 0) stream->SetData(static_cast<char*>(const_cast<void*>(data)), size);
      hux::CVariant value;
      value.SetValueRefPtr(stream);  // the variant's reference keeps the stream
      return value;
    }
    default:
      return hux::CVariant();
  }
}

}  // namespace

SqliteDevice::SqliteDevice() : m_db(nullptr), m_nAccessDepth(0), m_bAccessCancelled(false) {}

SqliteDevice::~SqliteDevice() { CloseDB(); }

bool SqliteDevice::Fail(const std::string& what) {
  m_strLastError = what + (m_db ? std::string(": ") + sqlite3_errmsg(m_db) : std::string());
  return false;
}

bool SqliteDevice::OpenDB(const std::wstring& path) {
  if (m_db && path == m_strPath) return true;
  CloseDB();
  sqlite3* db = nullptr;
  const int rc = sqlite3_open_v2(ToUtf8(path).c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  m_db = db;  // set even on failure, so that Fail reads its message
  if (rc != SQLITE_OK) {
    Fail("cannot open the database");
    CloseDB();
    return false;
  }
  // Other processes may hold the database's lock for a while (a long save):
  // wait for it rather than fail. Set first: reading the schema below may
  // already have to wait for another process's commit.
  sqlite3_busy_timeout(m_db, kBusyTimeoutMs);
  // A double-quoted name SQLite does not know must be an error, not a text
  // literal: otherwise a query of a missing column "succeeds" with the name
  // as its value, and a missing key column matches no row.
  sqlite3_db_config(m_db, SQLITE_DBCONFIG_DQS_DML, 0, nullptr);
  sqlite3_db_config(m_db, SQLITE_DBCONFIG_DQS_DDL, 0, nullptr);
  // Opening is lazy: read the schema once so that a file that is no
  // database fails here rather than at the first query.
  if (!Exec("SELECT count(*) FROM sqlite_master")) {
    const std::string error = m_strLastError;
    CloseDB();
    m_strLastError = error;
    return false;
  }
  m_strPath = path;
  m_strLastError.clear();
  return true;
}

void SqliteDevice::CloseDB() {
  if (!m_db) return;
  if (m_nAccessDepth > 0) Exec("ROLLBACK");
  m_nAccessDepth = 0;
  m_bAccessCancelled = false;
  sqlite3_close_v2(m_db);
  m_db = nullptr;
  m_strPath.clear();
}

bool SqliteDevice::IsDBOpen() { return m_db != nullptr; }

void SqliteDevice::BeginAccess() {
  if (!m_db) throw std::runtime_error("SqliteDevice: no database is open");
  if (m_nAccessDepth == 0) {
    if (!Exec("BEGIN IMMEDIATE")) throw std::runtime_error("SqliteDevice: " + m_strLastError);
    m_bAccessCancelled = false;
  }
  ++m_nAccessDepth;
}

void SqliteDevice::EndAccess() {
  if (m_nAccessDepth == 0 || --m_nAccessDepth > 0) return;
  if (m_bAccessCancelled) {
    m_bAccessCancelled = false;
    Exec("ROLLBACK");
    return;
  }
  if (!Exec("COMMIT")) {
    const std::string error = m_strLastError;
    Exec("ROLLBACK");
    throw std::runtime_error("SqliteDevice: " + error);
  }
}

void SqliteDevice::CancelAccess() {
  if (m_nAccessDepth > 0) m_bAccessCancelled = true;
}

bool SqliteDevice::Exec(const std::string& sql) {
  if (!m_db) return Fail("no database is open");
  char* message = nullptr;
  if (sqlite3_exec(m_db, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
    m_strLastError = sql + ": " + (message ? message : "failed");
    sqlite3_free(message);
    return false;
  }
  m_strLastError.clear();
  return true;
}

bool SqliteDevice::EnsureTable(const std::string& table, const std::vector<std::string>& columns) {
  if (columns.empty()) {
    m_strLastError = "EnsureTable: a table needs a key column";
    return false;
  }
  std::string sql = "CREATE TABLE IF NOT EXISTS " + Quote(table) + " (" + Quote(columns[0]) + " INTEGER PRIMARY KEY";
  for (size_t i = 1; i < columns.size(); ++i) sql += ", " + Quote(columns[i]);
  if (!Exec(sql + ")")) return false;

  // A table made by an older host may lack columns: add them.
  std::set<std::string> present;
  Statement info;
  {
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(m_db, ("PRAGMA table_info(" + Quote(table) + ")").c_str(), -1, &raw, nullptr) != SQLITE_OK)
      return Fail("table_info");
    info.reset(raw);
  }
  while (sqlite3_step(info.get()) == SQLITE_ROW) {
    const auto* name = reinterpret_cast<const char*>(sqlite3_column_text(info.get(), 1));
    if (name) present.insert(name);
  }
  for (size_t i = 1; i < columns.size(); ++i)
    if (!present.count(columns[i]) && !Exec("ALTER TABLE " + Quote(table) + " ADD COLUMN " + Quote(columns[i])))
      return false;
  return true;
}

bool SqliteDevice::WriteRow(const std::string& table, const std::vector<std::string>& columns,
                            const std::vector<hux::CVariant>& values) {
  if (!m_db) return Fail("no database is open");
  if (columns.empty() || columns.size() != values.size()) {
    m_strLastError = "WriteRow: the columns and values do not match";
    return false;
  }
  // Insert, or update only the named columns of an existing row, so that
  // columns not named (a swapped-out entity's data) are kept.
  std::string sql = "INSERT INTO " + Quote(table) + " (" + ColumnList(columns) + ") VALUES (";
  for (size_t i = 0; i < columns.size(); ++i) sql += i ? ", ?" : "?";
  sql += ") ON CONFLICT(" + Quote(columns[0]) + ") DO ";
  if (columns.size() == 1) {
    sql += "NOTHING";
  } else {
    sql += "UPDATE SET ";
    for (size_t i = 1; i < columns.size(); ++i)
      sql += (i > 1 ? ", " : "") + Quote(columns[i]) + " = excluded." + Quote(columns[i]);
  }
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(m_db, sql.c_str(), -1, &raw, nullptr) != SQLITE_OK) return Fail("WriteRow " + table);
  Statement statement(raw);
  for (size_t i = 0; i < values.size(); ++i) {
    if (!Bind(statement.get(), static_cast<int>(i + 1), values[i])) {
      m_strLastError = "WriteRow: column " + columns[i] + " cannot hold a value of type code " +
                       std::to_string(values[i].GetVariantStru().type);
      return false;
    }
  }
  if (sqlite3_step(statement.get()) != SQLITE_DONE) return Fail("WriteRow " + table);
  m_strLastError.clear();
  return true;
}

__int64 SqliteDevice::DeleteRows(const std::string& table, const std::string& keyColumn, __int64 keyValue) {
  if (!m_db) {
    Fail("no database is open");
    return -1;
  }
  const std::string sql = "DELETE FROM " + Quote(table) + " WHERE " + Quote(keyColumn) + " = ?";
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(m_db, sql.c_str(), -1, &raw, nullptr) != SQLITE_OK) {
    Fail("DeleteRows");
    return -1;
  }
  Statement statement(raw);
  sqlite3_bind_int64(statement.get(), 1, keyValue);
  if (sqlite3_step(statement.get()) != SQLITE_DONE) {
    Fail("DeleteRows");
    return -1;
  }
  m_strLastError.clear();
  return sqlite3_changes64(m_db);
}

bool SqliteDevice::ClearTable(const std::string& table) { return Exec("DELETE FROM " + Quote(table)); }

bool SqliteDevice::Query(const std::string& sql, const std::vector<std::string>& columns, bool keyed,
                         __int64 keyValue, std::vector<hux::CVariant>& result) {
  result.clear();
  if (!m_db) return Fail("no database is open");
  if (columns.empty()) {
    m_strLastError = "a query needs at least one column";
    return false;
  }
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(m_db, sql.c_str(), -1, &raw, nullptr) != SQLITE_OK) return Fail("query");
  Statement statement(raw);
  if (keyed) sqlite3_bind_int64(statement.get(), 1, keyValue);
  const int width = static_cast<int>(columns.size());
  int rc;
  while ((rc = sqlite3_step(statement.get())) == SQLITE_ROW)
    for (int c = 0; c < width; ++c) result.push_back(ColumnValue(statement.get(), c));
  if (rc != SQLITE_DONE) {
    result.clear();
    return Fail("query");
  }
  m_strLastError.clear();
  return true;
}

bool SqliteDevice::QueryAllRows(const std::string& table, const std::vector<std::string>& columns,
                                std::vector<hux::CVariant>& result) {
  return Query("SELECT " + ColumnList(columns) + " FROM " + Quote(table) + " ORDER BY rowid", columns, false, 0,
               result);
}

bool SqliteDevice::QueryTable(const std::string& table, const std::vector<std::string>& columns,
                              const std::string& keyColumn, __int64 keyValue, std::vector<hux::CVariant>& result) {
  return Query("SELECT " + ColumnList(columns) + " FROM " + Quote(table) + " WHERE " + Quote(keyColumn) +
                   " = ? ORDER BY rowid",
               columns, true, keyValue, result);
}

}  // namespace hux::host
