// PgDevice: a GDBDevice over a PostgreSQL database (library hux::pg_host;
// pair it with EntityFacade from entity_facade.h).
//
// OpenDB takes a libpq connection string in any of its forms, as key=value
// pairs ("host=db.example.org dbname=projects user=alice") or as a URI
// ("postgresql://alice@db.example.org/projects"); an empty string uses the
// libpq defaults and environment (PGHOST, PGDATABASE, ...). The database must
// exist: the device creates tables, not databases.
//
// Tables made by EnsureTable have a bigint key (their first column); every
// other column is of the composite type hux_value (i bigint, d double
// precision, t text, b bytea), created with the first table, so that a
// column holds any kind of value as SQLite's untyped columns do: integers
// in i, doubles in d, text in t, byte blocks in b, null as a null column.
// Rows travel as variants as with SqliteDevice (integers, doubles, text as
// wide strings, byte blocks as GMemStream objects, null as an empty
// variant). A value of a type or size the device does not expect in a
// result is an error, never a guess.
//
// BeginAccess and EndAccess bracket one transaction (nested brackets join
// the outermost one); CancelAccess makes its EndAccess roll back. As with
// SQLite, the accesses of all connections to one database run one after
// the other (BeginAccess waits up to a minute for the one in progress), so
// nothing an access has read changes under it before it ends. Unlike
// SQLite, PostgreSQL keeps nothing of a transaction after a failed
// statement: a statement that fails inside an access fails the access, the
// later ones fail too, and EndAccess rolls back and throws. A lost
// connection is an error, never a success: the server rolls back the open
// transaction, the operations fail and EndAccess throws. Outside an access
// the next operation connects again (so does OpenDB with the same string).
//
// Table and column names are quoted, values are bound as parameters, so any
// name or value is safe to pass. A device is used by one thread at a time.
#pragma once

#include <map>
#include <string>
#include <vector>

#include <hux/export.h>
#include <hux/object/dbdevice.h>

struct pg_conn;
struct pg_result;

namespace hux::host {

class HUX_API PgDevice : public hux::GDBDevice {
 public:
  PgDevice();
  // Closes the connection, rolling back an access still open.
  ~PgDevice() override;
  PgDevice(const PgDevice&) = delete;
  PgDevice& operator=(const PgDevice&) = delete;

  // Opening the connection string that is open already keeps the connection
  // (and an access in progress) while it works. False, with LastError, when
  // the server cannot be reached or refuses the connection.
  bool OpenDB(const std::wstring& connection) override;
  void CloseDB() override;
  // True while the connection works (outside an access, one that was lost
  // is made again first).
  bool IsDBOpen() override;
  // Throws std::runtime_error when no database is open or the transaction
  // cannot begin (also when another connection's access outlasts the wait).
  void BeginAccess() override;
  // Commits (or, after CancelAccess, rolls back) the outermost access.
  // Throws std::runtime_error, with nothing of the access kept, when the
  // commit fails, a statement of the access failed or the connection was
  // lost (a connection lost during the commit itself leaves its outcome
  // unknown, and says so).
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
  // The connection string of the open database, empty when none is open.
  const std::wstring& GetConnectionString() const { return m_strConnection; }
  // True while an access (transaction) is open.
  bool InAccess() const { return m_nAccessDepth > 0; }

 private:
  // A column as the catalog describes it.
  struct Column {
    unsigned int type = 0;  // the type's object id
    bool composite = false;  // of type hux_value
    bool key = false;        // part of the primary key
  };
  using Table = std::map<std::string, Column>;
  struct Params;

  const Table* Describe(const std::string& table, bool reload);
  const Column* Find(const std::string& table, const std::string& column);
  bool Lost() const;
  bool Usable();
  bool Quote(const std::string& name, std::string& quoted);
  pg_result* Run(const std::string& sql, const Params& params, bool binaryResult);
  bool Command(const std::string& sql);
  bool Query(const std::string& table, const std::vector<std::string>& columns, const std::string* keyColumn,
             __int64 keyValue, std::vector<hux::CVariant>& result);
  bool Fail(const std::string& what);
  bool Failed(const pg_result* result);
  void Rollback();
  void Forget();

  pg_conn* m_conn;
  std::wstring m_strConnection;
  int m_nAccessDepth;
  bool m_bAccessCancelled;
  bool m_bLost;  // the server ended the session
  std::string m_strLastError;
  std::string m_strAccessError;  // the first failure inside the access
  unsigned int m_valueType;      // object id of hux_value, 0 until known
  std::map<std::string, Table> m_tables;
  std::map<std::string, std::string> m_statements;  // SQL -> prepared name
};

}  // namespace hux::host
