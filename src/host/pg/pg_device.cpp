#include <hux/host/pg_device.h>

#include <libpq-fe.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <memory>
#include <stdexcept>

#include <hux/io/memstream.h>
#include <hux/object/datatype.h>
#include <hux/value/variant.h>

#include "host/text.h"

namespace hux::host {

namespace {

// Object ids of the built-in types the device reads and writes; they are
// fixed in every PostgreSQL release.
enum : Oid {
  kBool = 16,
  kBytea = 17,
  kName = 19,
  kInt8 = 20,
  kInt2 = 21,
  kInt4 = 23,
  kText = 25,
  kFloat4 = 700,
  kFloat8 = 701,
  kBpchar = 1042,
  kVarchar = 1043,
};

// The fields of hux_value, in order, and the types record_send gives them.
const Oid kValueFields[] = {kInt8, kFloat8, kText, kBytea};

// Serialises the creation of the value type and of tables between
// connections: PostgreSQL's "IF NOT EXISTS" is not safe against a second
// session creating the same object at the same moment.
const char* const kCreateLock = "SELECT pg_advisory_xact_lock(7378014433520001)";
const char* const kCreateValueType =
    "DO $$BEGIN IF to_regtype('hux_value') IS NULL THEN "
    "CREATE TYPE hux_value AS (i bigint, d double precision, t text, b bytea); END IF; END$$";

const char* const kBeginAccess =
    "BEGIN; SET LOCAL lock_timeout = '60s'; SELECT pg_advisory_xact_lock(7378014433520002); "
    "SET LOCAL lock_timeout = DEFAULT";

// The longest name PostgreSQL keeps whole (NAMEDATALEN - 1).
constexpr size_t kMaxName = 63;

// The bytea a single value may hold.
constexpr unsigned int kMaxBytes = 0x3FFFFFFF;

// A libpq message without its closing line breaks.
std::string Trimmed(const char* message) {
  std::string text = message ? message : "";
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return text;
}

struct ResultCloser {
  void operator()(PGresult* result) const { PQclear(result); }
};
using Result = std::unique_ptr<PGresult, ResultCloser>;

// Big-endian integers, the byte order of PostgreSQL's binary formats.
void PutBE(std::string& out, uint64_t value, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}
uint64_t GetBE(const char* data, int bytes) {
  uint64_t value = 0;
  for (int i = 0; i < bytes; ++i) value = (value << 8) | static_cast<unsigned char>(data[i]);
  return value;
}

// The GMemStream a variant holds (shared or owned), or null.
hux::GMemStream* StreamOf(const hux::CVariant& value) {
  if (hux::CReferenced* shared = value.GetValueRefPtr()) return dynamic_cast<hux::GMemStream*>(shared);
  const auto& stru = value.GetVariantStru();
  if (stru.type == hux::DT_MEM_STREAM && stru.isObject)
    return reinterpret_cast<hux::GMemStream*>(static_cast<uintptr_t>(stru.value));
  return nullptr;
}

enum class Kind { Null, Int, Double, Text, Blob, Other };

Kind KindOf(const hux::CVariant& value) {
  switch (value.GetVariantStru().type) {
    case hux::DT_NONE:
      return Kind::Null;
    case hux::DT_INT:
    case hux::DT_INT64:
    case hux::DT_UINT64:
    case hux::DT_BOOL:
    case hux::DT_CHAR:
    case hux::DT_UCHAR:
    case hux::DT_SHORT:
    case hux::DT_USHORT:
    case hux::DT_UINT:
      return Kind::Int;
    case hux::DT_DOUBLE:
    case hux::DT_FLOAT:
      return Kind::Double;
    case hux::DT_STRING:
    case hux::DT_WSTRING:
      return Kind::Text;
    default:
      return StreamOf(value) ? Kind::Blob : Kind::Other;
  }
}

// The binary form of a value as a field or column of type `type`; false
// (with `error`) when that type cannot hold it.
bool Encode(const hux::CVariant& value, Kind kind, Oid type, std::string& out, std::string& error) {
  out.clear();
  switch (type) {
    case kInt8:
    case kInt4:
    case kInt2: {
      if (kind != Kind::Int) break;
      const long long v = value.toInt64(nullptr);
      const int bytes = type == kInt8 ? 8 : type == kInt4 ? 4 : 2;
      if (bytes < 8 && (v < -(1LL << (8 * bytes - 1)) || v >= (1LL << (8 * bytes - 1)))) {
        error = "the integer " + std::to_string(v) + " does not fit the column";
        return false;
      }
      PutBE(out, static_cast<uint64_t>(v), bytes);
      return true;
    }
    case kFloat8:
    case kFloat4: {
      if (kind != Kind::Double && kind != Kind::Int) break;
      const double v = value.toDouble(nullptr);
      if (type == kFloat8) {
        uint64_t bits;
        std::memcpy(&bits, &v, 8);
        PutBE(out, bits, 8);
      } else {
        const float f = static_cast<float>(v);
        uint32_t bits;
        std::memcpy(&bits, &f, 4);
        PutBE(out, bits, 4);
      }
      return true;
    }
    case kText:
    case kVarchar: {
      if (kind != Kind::Text) break;
      const std::wstring text = value.toWString(nullptr);
      // PostgreSQL text cannot hold a zero character; cutting the text there
      // would lose the rest silently.
      if (text.find(L'\0') != std::wstring::npos) {
        error = "text with a zero character cannot be stored";
        return false;
      }
      out = ToUtf8(text);
      if (out.empty() && !text.empty()) {
        error = "the text is not valid Unicode";
        return false;
      }
      return true;
    }
    case kBytea: {
      if (kind != Kind::Blob) break;
      hux::GMemStream* stream = StreamOf(value);
      const unsigned int size = stream->GetDataSize();
      if (size > kMaxBytes) {
        error = "a byte block of " + std::to_string(size) + " bytes is larger than PostgreSQL stores";
        return false;
      }
      if (size) out.assign(stream->GetData(), size);
      return true;
    }
    default:
      break;
  }
  error = "a value of type code " + std::to_string(value.GetVariantStru().type) +
          " cannot be stored in a column of type " + std::to_string(type);
  return false;
}

// The binary record of hux_value holding `value` in the field of its kind.
bool EncodeComposite(const hux::CVariant& value, Kind kind, std::string& out, std::string& error) {
  const int field = kind == Kind::Int ? 0 : kind == Kind::Double ? 1 : kind == Kind::Text ? 2 : kind == Kind::Blob ? 3 : -1;
  if (field < 0) {
    error = "a value of type code " + std::to_string(value.GetVariantStru().type) + " cannot be stored";
    return false;
  }
  std::string bytes;
  if (!Encode(value, kind, kValueFields[field], bytes, error)) return false;
  out.clear();
  PutBE(out, 4, 4);
  for (int i = 0; i < 4; ++i) {
    PutBE(out, kValueFields[i], 4);
    if (i != field) {
      PutBE(out, static_cast<uint32_t>(-1), 4);  // null field
      continue;
    }
    PutBE(out, bytes.size(), 4);
    out += bytes;
  }
  return true;
}

// A variant from one binary value of a built-in type; false (with `error`)
// for a type the device does not read or a size that type cannot have.
bool DecodeScalar(Oid type, const char* data, int size, hux::CVariant& out, std::string& error) {
  auto sized = [&](int expected) {
    if (size == expected) return true;
    error = "a value of type " + std::to_string(type) + " has " + std::to_string(size) + " bytes, not " +
            std::to_string(expected);
    return false;
  };
  switch (type) {
    case kBool:
      if (!sized(1)) return false;
      out = hux::CVariant(static_cast<long long>(data[0] != 0));
      return true;
    case kInt2:
      if (!sized(2)) return false;
      out = hux::CVariant(static_cast<long long>(static_cast<int16_t>(GetBE(data, 2))));
      return true;
    case kInt4:
      if (!sized(4)) return false;
      out = hux::CVariant(static_cast<long long>(static_cast<int32_t>(GetBE(data, 4))));
      return true;
    case kInt8:
      if (!sized(8)) return false;
      out = hux::CVariant(static_cast<long long>(GetBE(data, 8)));
      return true;
    case kFloat4: {
      if (!sized(4)) return false;
      const uint32_t bits = static_cast<uint32_t>(GetBE(data, 4));
      float f;
      std::memcpy(&f, &bits, 4);
      out = hux::CVariant(static_cast<double>(f));
      return true;
    }
    case kFloat8: {
      if (!sized(8)) return false;
      const uint64_t bits = GetBE(data, 8);
      double d;
      std::memcpy(&d, &bits, 8);
      out = hux::CVariant(d);
      return true;
    }
    case kText:
    case kVarchar:
    case kBpchar:
    case kName: {
      const std::string utf8(data, size);
      std::wstring text = FromUtf8(utf8);
      if (text.empty() && !utf8.empty()) {
        error = "a text value is not valid UTF-8";
        return false;
      }
      out = hux::CVariant(text);
      return true;
    }
    case kBytea: {
      auto* stream = new hux::GMemStream();
      if (size > 0) stream->SetData(const_cast<char*>(data), size);
      hux::CVariant value;
      value.SetValueRefPtr(stream);  // the variant's reference keeps the stream
      out = value;
      return true;
    }
    default:
      error = "a value of type " + std::to_string(type) + " cannot be read";
      return false;
  }
}

// A variant from the binary record of a hux_value: the one field that is
// not null, or an empty variant when all are.
bool DecodeComposite(const char* data, int size, hux::CVariant& out, std::string& error) {
  error = "a damaged value record";
  if (size < 4) return false;
  const int64_t fields = static_cast<int32_t>(GetBE(data, 4));
  if (fields < 0 || fields > (size - 4) / 8) return false;
  int at = 4;
  bool found = false;
  out = hux::CVariant();
  for (int64_t i = 0; i < fields; ++i) {
    if (size - at < 8) return false;
    const Oid type = static_cast<Oid>(GetBE(data + at, 4));
    const int32_t length = static_cast<int32_t>(GetBE(data + at + 4, 4));
    at += 8;
    if (length == -1) continue;
    if (length < 0 || length > size - at) return false;
    if (found) {
      error = "a value record holds more than one value";
      return false;
    }
    if (!DecodeScalar(type, data + at, length, out, error)) return false;
    found = true;
    at += length;
  }
  if (at != size) return false;
  error.clear();
  return true;
}

}  // namespace

// The parameters of one statement, all in binary form.
struct PgDevice::Params {
  std::vector<Oid> types;
  std::vector<std::string> data;
  std::vector<bool> null;

  void Add(Oid type, std::string bytes, bool isNull = false) {
    types.push_back(type);
    data.push_back(std::move(bytes));
    null.push_back(isNull);
  }
  void AddInt8(long long value) {
    std::string bytes;
    PutBE(bytes, static_cast<uint64_t>(value), 8);
    Add(kInt8, std::move(bytes));
  }
};

PgDevice::PgDevice()
    : m_conn(nullptr), m_nAccessDepth(0), m_bAccessCancelled(false), m_bLost(false), m_valueType(0) {}

PgDevice::~PgDevice() { CloseDB(); }

bool PgDevice::Fail(const std::string& what) {
  m_strLastError = what;
  return false;
}

bool PgDevice::OpenDB(const std::wstring& connection) {
  if (m_conn && connection == m_strConnection) {
    if (!Lost()) return true;
    // The connection was lost inside an access: that access is gone, and a
    // new connection must not pretend to continue it.
    if (m_nAccessDepth > 0) return Fail("the connection was lost inside an access; end the access first");
  }
  CloseDB();
  const std::string conninfo = ToUtf8(connection);
  if (conninfo.empty() && !connection.empty()) return Fail("the connection string is not valid Unicode");
  // The string is expanded as a whole connection string (either form); the
  // client encoding after it overrides one it names, since text travels as
  // UTF-8.
  const char* keys[] = {"dbname", "client_encoding", "fallback_application_name", nullptr};
  const char* values[] = {conninfo.c_str(), "UTF8", "hux", nullptr};
  PGconn* conn = PQconnectdbParams(keys, values, 1);
  if (!conn) return Fail("cannot open the database: out of memory");
  if (PQstatus(conn) != CONNECTION_OK) {
    const std::string message = Trimmed(PQerrorMessage(conn));
    PQfinish(conn);
    return Fail("cannot open the database: " + message);
  }
  // Notices ("table exists, skipping") are not errors and are not printed.
  PQsetNoticeProcessor(conn, [](void*, const char*) {}, nullptr);
  m_conn = conn;
  m_strConnection = connection;
  m_strLastError.clear();
  return true;
}

void PgDevice::CloseDB() {
  if (!m_conn) return;
  if (m_nAccessDepth > 0) Command("ROLLBACK");
  m_nAccessDepth = 0;
  m_bAccessCancelled = false;
  PQfinish(m_conn);
  m_conn = nullptr;
  m_bLost = false;
  m_strConnection.clear();
  m_statements.clear();
  Forget();
}

bool PgDevice::IsDBOpen() { return m_conn && (!Lost() || (!m_nAccessDepth && Usable())); }

bool PgDevice::Lost() const { return m_bLost || PQstatus(m_conn) != CONNECTION_OK; }

bool PgDevice::Usable() {
  if (!m_conn) return Fail("no database is open");
  if (!Lost()) return true;
  // Inside an access the transaction died with the connection: a new one
  // must not carry on as if it were the same.
  if (m_nAccessDepth > 0) return Fail("the connection to the server was lost: the access is rolled back");
  // Outside an access nothing depends on the session: connect again, as a
  // server restart or an idle timeout would otherwise end the device's use.
  PQreset(m_conn);
  m_bLost = false;
  m_statements.clear();
  Forget();
  if (PQstatus(m_conn) == CONNECTION_OK) return true;
  return Fail("the connection to the server was lost and cannot be made again: " + Trimmed(PQerrorMessage(m_conn)));
}

void PgDevice::Forget() {
  m_tables.clear();
  m_valueType = 0;
}

void PgDevice::BeginAccess() {
  if (!m_conn) throw std::runtime_error("PgDevice: no database is open");
  if (m_nAccessDepth == 0) {
    // One access at a time per database, as SQLite's BEGIN IMMEDIATE: what
    // an access reads stays true until it ends, so a check followed by a
    // write (a version, a counter) cannot be overtaken by another
    // connection. A peer holding the database longer than the wait fails
    // the begin rather than hanging the caller.
    if (!Command(kBeginAccess)) {
      const std::string error = m_strLastError;
      if (m_conn && PQtransactionStatus(m_conn) != PQTRANS_IDLE) Command("ROLLBACK");
      Fail(error);
      throw std::runtime_error("PgDevice: " + m_strLastError);
    }
    m_bAccessCancelled = false;
    m_strAccessError.clear();
  }
  ++m_nAccessDepth;
}

void PgDevice::Rollback() {
  Command("ROLLBACK");
  // Tables and the value type made during the access are gone with it.
  Forget();
}

void PgDevice::EndAccess() {
  if (m_nAccessDepth == 0 || --m_nAccessDepth > 0) return;
  const std::string earlier = m_strAccessError;
  m_strAccessError.clear();
  if (m_bAccessCancelled) {
    m_bAccessCancelled = false;
    Rollback();
    return;
  }
  if (Lost()) {
    Forget();
    Fail("the connection to the server was lost: nothing of the access was kept" +
         (earlier.empty() ? std::string() : " (" + earlier + ")"));
    throw std::runtime_error("PgDevice: " + m_strLastError);
  }
  // COMMIT of a failed transaction answers "ROLLBACK", not an error: the
  // state must be checked first.
  if (PQtransactionStatus(m_conn) != PQTRANS_INTRANS) {
    Rollback();
    Fail("the access was rolled back: " + (earlier.empty() ? std::string("a statement in it failed") : earlier));
    throw std::runtime_error("PgDevice: " + m_strLastError);
  }
  Result result(PQexec(m_conn, "COMMIT"));
  const bool committed = result && PQresultStatus(result.get()) == PGRES_COMMAND_OK &&
                         std::strcmp(PQcmdStatus(result.get()), "COMMIT") == 0;
  if (committed) return;
  Failed(result.get());
  if (Lost()) {
    Forget();
    Fail("the commit may or may not have been kept: " + m_strLastError);
  } else {
    Rollback();
    Fail("the commit failed and was rolled back: " + m_strLastError);
  }
  throw std::runtime_error("PgDevice: " + m_strLastError);
}

void PgDevice::CancelAccess() {
  if (m_nAccessDepth > 0) m_bAccessCancelled = true;
}

bool PgDevice::Quote(const std::string& name, std::string& quoted) {
  if (!m_conn) return Fail("no database is open");
  if (name.find('\0') != std::string::npos) return Fail("a name with a zero character: " + name);
  // PostgreSQL cuts longer names short, silently, so two long names could
  // name one table or column.
  if (name.size() > kMaxName) return Fail("the name " + name + " is longer than " + std::to_string(kMaxName) + " bytes");
  char* escaped = PQescapeIdentifier(m_conn, name.data(), name.size());
  if (!escaped) return Fail("the name " + name + " cannot be used: " + PQerrorMessage(m_conn));
  quoted = escaped;
  PQfreemem(escaped);
  return true;
}

PGresult* PgDevice::Run(const std::string& sql, const Params& params, bool binaryResult) {
  if (!Usable()) return nullptr;
  const int count = static_cast<int>(params.types.size());
  std::vector<const char*> values(count);
  std::vector<int> lengths(count);
  std::vector<int> formats(count, 1);
  for (int i = 0; i < count; ++i) {
    values[i] = params.null[i] ? nullptr : params.data[i].data();
    lengths[i] = static_cast<int>(params.data[i].size());
  }
  // Each statement is prepared once per connection (the key holds the
  // parameter types too); past a bound, statements run unprepared.
  std::string key = sql;
  for (Oid type : params.types) key += "\n" + std::to_string(type);
  auto it = m_statements.find(key);
  PGresult* result = nullptr;
  if (it == m_statements.end() && m_statements.size() < 256) {
    const std::string name = "hux_" + std::to_string(m_statements.size());
    result = PQprepare(m_conn, name.c_str(), sql.c_str(), count, params.types.data());
    if (result && PQresultStatus(result) == PGRES_COMMAND_OK) {
      PQclear(result);
      result = nullptr;
      it = m_statements.emplace(key, name).first;
    }
  }
  if (!result)
    result = it != m_statements.end()
                 ? PQexecPrepared(m_conn, it->second.c_str(), count, values.data(), lengths.data(), formats.data(),
                                  binaryResult)
                 : PQexecParams(m_conn, sql.c_str(), count, params.types.data(), values.data(), lengths.data(),
                                formats.data(), binaryResult);
  const ExecStatusType status = result ? PQresultStatus(result) : PGRES_FATAL_ERROR;
  if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) return result;
  Failed(result);
  PQclear(result);
  return nullptr;
}

bool PgDevice::Failed(const pg_result* result) {
  std::string message = Trimmed(result ? PQresultErrorMessage(result) : PQerrorMessage(m_conn));
  // A FATAL error ends the session (the server closes it after sending the
  // error, and libpq may not have seen the close yet).
  const char* severity = result ? PQresultErrorField(result, PG_DIAG_SEVERITY_NONLOCALIZED) : nullptr;
  if (severity && (std::strcmp(severity, "FATAL") == 0 || std::strcmp(severity, "PANIC") == 0)) m_bLost = true;
  if (Lost()) message = "the connection to the server was lost: " + message;
  if (m_nAccessDepth > 0 && m_strAccessError.empty()) m_strAccessError = message;
  return Fail(message);
}

bool PgDevice::Command(const std::string& sql) {
  if (!Usable()) return false;
  Result result(PQexec(m_conn, sql.c_str()));
  const ExecStatusType status = result ? PQresultStatus(result.get()) : PGRES_FATAL_ERROR;
  if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) {
    m_strLastError.clear();
    return true;
  }
  return Failed(result.get());
}

const PgDevice::Table* PgDevice::Describe(const std::string& table, bool reload) {
  if (!reload) {
    auto it = m_tables.find(table);
    if (it != m_tables.end()) return &it->second;
  }
  std::string quoted;
  if (!Quote(table, quoted)) return nullptr;
  Params params;
  params.Add(kText, quoted);
  Result result(Run(
      "SELECT a.attname, a.atttypid::int8, t.typname = 'hux_value' AND t.typtype = 'c', "
      "coalesce(a.attnum = ANY(i.indkey), false) "
      "FROM pg_attribute a JOIN pg_type t ON t.oid = a.atttypid "
      "LEFT JOIN pg_index i ON i.indrelid = a.attrelid AND i.indisprimary "
      "WHERE a.attrelid = to_regclass($1) AND a.attnum > 0 AND NOT a.attisdropped",
      params, false));
  if (!result) return nullptr;
  m_tables.erase(table);
  if (PQntuples(result.get()) == 0) {
    Fail("no table " + table);
    return nullptr;
  }
  Table& described = m_tables[table];
  for (int row = 0; row < PQntuples(result.get()); ++row) {
    Column column;
    column.type = static_cast<unsigned int>(std::strtoull(PQgetvalue(result.get(), row, 1), nullptr, 10));
    column.composite = PQgetvalue(result.get(), row, 2)[0] == 't';
    column.key = PQgetvalue(result.get(), row, 3)[0] == 't';
    if (column.composite) m_valueType = column.type;
    described[PQgetvalue(result.get(), row, 0)] = column;
  }
  return &described;
}

const PgDevice::Column* PgDevice::Find(const std::string& table, const std::string& column) {
  // The cached description may predate a column another connection added.
  for (bool reload : {false, true}) {
    const Table* described = Describe(table, reload);
    if (!described) return nullptr;
    auto it = described->find(column);
    if (it != described->end()) return &it->second;
  }
  Fail("no column " + column + " in table " + table);
  return nullptr;
}

bool PgDevice::EnsureTable(const std::string& table, const std::vector<std::string>& columns) {
  if (columns.empty()) return Fail("EnsureTable: a table needs a key column");
  std::string quotedTable;
  std::vector<std::string> quoted(columns.size());
  if (!Quote(table, quotedTable)) return false;
  for (size_t i = 0; i < columns.size(); ++i)
    if (!Quote(columns[i], quoted[i])) return false;

  auto complete = [&](const Table* described) {
    if (!described) return false;
    for (const std::string& column : columns)
      if (!described->count(column)) return false;
    return true;
  };
  m_strLastError.clear();
  const Table* described = Describe(table, true);
  if (complete(described)) return true;
  if (!described && m_strLastError != "no table " + table) return false;

  // One simple query runs as one transaction (or inside the access's).
  std::string sql = std::string(kCreateLock) + "; " + kCreateValueType + "; CREATE TABLE IF NOT EXISTS " +
                    quotedTable + " (" + quoted[0] + " bigint PRIMARY KEY";
  for (size_t i = 1; i < columns.size(); ++i) sql += ", " + quoted[i] + " hux_value";
  sql += ")";
  if (columns.size() > 1) {
    sql += "; ALTER TABLE " + quotedTable;
    for (size_t i = 1; i < columns.size(); ++i) sql += (i > 1 ? "," : "") + std::string(" ADD COLUMN IF NOT EXISTS ") + quoted[i] + " hux_value";
  }
  if (!Command(sql)) return false;
  if (!complete(Describe(table, true))) return Fail("EnsureTable: table " + table + " lacks columns afterwards");
  m_strLastError.clear();
  return true;
}

bool PgDevice::WriteRow(const std::string& table, const std::vector<std::string>& columns,
                        const std::vector<hux::CVariant>& values) {
  if (!m_conn) return Fail("no database is open");
  if (columns.empty() || columns.size() != values.size())
    return Fail("WriteRow: the columns and values do not match");
  std::vector<std::string> quoted(columns.size());
  std::string quotedTable;
  if (!Quote(table, quotedTable)) return false;
  Params params;
  for (size_t i = 0; i < columns.size(); ++i) {
    const Column* column = Find(table, columns[i]);
    if (!column || !Quote(columns[i], quoted[i])) return false;
    const Kind kind = KindOf(values[i]);
    std::string bytes, error;
    if (kind != Kind::Null && !(column->composite ? EncodeComposite(values[i], kind, bytes, error)
                                                  : Encode(values[i], kind, column->type, bytes, error)))
      return Fail("WriteRow: column " + columns[i] + ": " + error);
    params.Add(column->type, std::move(bytes), kind == Kind::Null);
  }
  // Insert, or update only the named columns of an existing row, so that
  // columns not named (a swapped-out entity's data) are kept.
  std::string sql = "INSERT INTO " + quotedTable + " (";
  for (size_t i = 0; i < quoted.size(); ++i) sql += (i ? ", " : "") + quoted[i];
  sql += ") VALUES (";
  for (size_t i = 0; i < quoted.size(); ++i) sql += (i ? ", $" : "$") + std::to_string(i + 1);
  sql += ") ON CONFLICT (" + quoted[0] + ") DO ";
  if (quoted.size() == 1) {
    sql += "NOTHING";
  } else {
    sql += "UPDATE SET ";
    for (size_t i = 1; i < quoted.size(); ++i) sql += (i > 1 ? ", " : "") + quoted[i] + " = EXCLUDED." + quoted[i];
  }
  Result result(Run(sql, params, true));
  if (!result) return Fail("WriteRow " + table + ": " + m_strLastError);
  m_strLastError.clear();
  return true;
}

__int64 PgDevice::DeleteRows(const std::string& table, const std::string& keyColumn, __int64 keyValue) {
  std::string quotedTable, quotedKey;
  const Column* key = Find(table, keyColumn);
  if (!key || !Quote(table, quotedTable) || !Quote(keyColumn, quotedKey)) return -1;
  Params params;
  params.AddInt8(keyValue);
  Result result(Run("DELETE FROM " + quotedTable + " WHERE " +
                        (key->composite ? "(" + quotedKey + ").i" : quotedKey) + " = $1",
                    params, true));
  if (!result) {
    Fail("DeleteRows " + table + ": " + m_strLastError);
    return -1;
  }
  m_strLastError.clear();
  return std::strtoll(PQcmdTuples(result.get()), nullptr, 10);
}

bool PgDevice::ClearTable(const std::string& table) {
  std::string quotedTable;
  if (!Describe(table, false) || !Quote(table, quotedTable)) return false;
  Result result(Run("DELETE FROM " + quotedTable, Params(), true));
  if (!result) return Fail("ClearTable " + table + ": " + m_strLastError);
  m_strLastError.clear();
  return true;
}

bool PgDevice::Query(const std::string& table, const std::vector<std::string>& columns,
                     const std::string* keyColumn, __int64 keyValue, std::vector<hux::CVariant>& result) {
  result.clear();
  if (!m_conn) return Fail("no database is open");
  if (columns.empty()) return Fail("a query needs at least one column");
  std::string quotedTable, quotedName;
  if (!Quote(table, quotedTable)) return false;
  std::string sql = "SELECT ";
  for (size_t i = 0; i < columns.size(); ++i) {
    if (!Find(table, columns[i]) || !Quote(columns[i], quotedName)) return false;
    sql += (i ? ", " : "") + quotedName;
  }
  sql += " FROM " + quotedTable;
  Params params;
  if (keyColumn) {
    const Column* key = Find(table, *keyColumn);
    if (!key || !Quote(*keyColumn, quotedName)) return false;
    sql += " WHERE " + (key->composite ? "(" + quotedName + ").i" : quotedName) + " = $1";
    params.AddInt8(keyValue);
  }
  // Rows in the order of the table's key, as the device contract asks.
  std::string order;
  for (const auto& [name, column] : *Describe(table, false)) {
    if (!column.key || !Quote(name, quotedName)) continue;
    order += (order.empty() ? " ORDER BY " : ", ") + quotedName;
  }
  Result rows(Run(sql + order, params, true));
  if (!rows) return Fail("query " + table + ": " + m_strLastError);
  const int width = static_cast<int>(columns.size());
  if (PQnfields(rows.get()) != width) return Fail("query " + table + ": the server answered other columns");
  const int count = PQntuples(rows.get());
  result.reserve(static_cast<size_t>(count) * width);
  std::string error;
  for (int r = 0; r < count; ++r) {
    for (int c = 0; c < width; ++c) {
      hux::CVariant value;
      if (!PQgetisnull(rows.get(), r, c)) {
        const Oid type = PQftype(rows.get(), c);
        const char* data = PQgetvalue(rows.get(), r, c);
        const int size = PQgetlength(rows.get(), r, c);
        const bool ok = m_valueType && type == m_valueType ? DecodeComposite(data, size, value, error)
                                                           : DecodeScalar(type, data, size, value, error);
        if (!ok) {
          result.clear();
          return Fail("query " + table + ": column " + columns[c] + ": " + error);
        }
      }
      result.push_back(std::move(value));
    }
  }
  m_strLastError.clear();
  return true;
}

bool PgDevice::QueryAllRows(const std::string& table, const std::vector<std::string>& columns,
                            std::vector<hux::CVariant>& result) {
  return Query(table, columns, nullptr, 0, result);
}

bool PgDevice::QueryTable(const std::string& table, const std::vector<std::string>& columns,
                          const std::string& keyColumn, __int64 keyValue, std::vector<hux::CVariant>& result) {
  return Query(table, columns, &keyColumn, keyValue, result);
}

}  // namespace hux::host
