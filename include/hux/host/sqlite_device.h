// SqliteDevice: a GDBDevice over an SQLite database file (library
// hux::sqlite_host; pair it with EntityFacade from entity_facade.h).
//
// OpenDB opens the file, creating it when it does not exist. Tables made by
// EnsureTable have a 64-bit integer key (their first column) and untyped
// other columns; rows travel as variants (integers, doubles, text as wide
// strings, byte blocks as GMemStream objects, null as an empty variant).
// BeginAccess and EndAccess bracket one transaction (nested brackets join
// the outermost one); CancelAccess makes its EndAccess roll back. The
// transaction takes the database's write lock when it begins, so accesses of
// several processes run one after the other; a process waits up to 30
// seconds for another's access to end before it fails.
//
// Table and column names are quoted, values are bound as parameters, so any
// name or value is safe to pass. A device is used by one thread at a time.
#pragma once

#include <string>
#include <vector>

#include <hux/export.h>
#include <hux/object/dbdevice.h>

struct sqlite3;

namespace hux::host {

class HUX_API SqliteDevice : public hux::GDBDevice {
 public:
  SqliteDevice();
  // Closes the database, rolling back an access still open.
  ~SqliteDevice() override;
  SqliteDevice(const SqliteDevice&) = delete;
  SqliteDevice& operator=(const SqliteDevice&) = delete;

  // Opening the path that is open already keeps the connection (and an
  // access in progress). A file that is not an SQLite database gives false.
  bool OpenDB(const std::wstring& path) override;
  void CloseDB() override;
  bool IsDBOpen() override;
  // Throws std::runtime_error when no database is open or the transaction
  // cannot begin.
  void BeginAccess() override;
  // Commits (or, after CancelAccess, rolls back) the outermost access. A
  // commit that fails is rolled back and throws std::runtime_error.
  void EndAccess() override;
  void CancelAccess() override;
  bool EnsureTable(const std::string& table, const std::vector<std::string>& columns) override;
  bool WriteRow(const std::string& table, const std::vector<std::string>& columns,
                const std::vector<hux::CVariant>& values) override;
  __int64 DeleteRows(const std::string& table, const std::string& keyColumn, __int64 keyValue) override;
  bool ClearTable(const std::string& table) override;
  bool QueryAllRows(const std::string& table, const std::vector<std::string>& columns,
                    std::vector<hux::CVariant>& result) override;
  bool QueryTable(const std::string& table, const std::vector<std::string>& columns, const std::string& keyColumn,
                  __int64 keyValue, std::vector<hux::CVariant>& result) override;

  // The message of the last failure, empty after a success.
  const std::string& LastError() const { return m_strLastError; }
  // The path of the open database, empty when none is open.
  const std::wstring& GetPath() const { return m_strPath; }
  // True while an access (transaction) is open.
  bool InAccess() const { return m_nAccessDepth > 0; }

 private:
  bool Exec(const std::string& sql);
  bool Query(const std::string& sql, const std::vector<std::string>& columns, bool keyed, __int64 keyValue,
             std::vector<hux::CVariant>& result);
  bool Fail(const std::string& what);

  sqlite3* m_db;
  std::wstring m_strPath;
  int m_nAccessDepth;
  bool m_bAccessCancelled;
  std::string m_strLastError;
};

}  // namespace hux::host
