#include "test_devices.h"

#include <filesystem>
#include <fstream>
#include <random>

#include <hux/host/sqlite_device.h>
#include <hux/io/memstream.h>

#ifdef HUX_HAVE_PG_HOST
#include <hux/host/pg_device.h>

#include "pg_server.h"
#endif

namespace hux::test {

namespace {

std::string RandomName(const std::string& prefix) {
  std::random_device seed;
  return prefix + std::to_string(seed()) + "_" + std::to_string(seed());
}

#ifdef HUX_HAVE_PG_HOST
// The server: $HUX_TEST_PG_HOST (host or socket folder, user postgres), else
// the one the ctest fixture wrote to HUX_PG_SERVER_FILE, put into the
// environment for worker processes; `why` says why there is none.
struct PgHost {
  std::string host, why;
};

const PgHost& TestPgHost() {
  static const PgHost found = [] {
    if (const char* host = std::getenv("HUX_TEST_PG_HOST"); host && *host) return PgHost{host, ""};
    std::string line;
#ifdef HUX_PG_SERVER_FILE
    std::getline(std::ifstream(HUX_PG_SERVER_FILE), line);
#endif
    if (line.rfind("none:", 0) == 0) return PgHost{"", "PostgreSQL tests skipped:" + line.substr(5)};
    if (line.empty())
      return PgHost{"", "PostgreSQL tests skipped: no server (ctest starts one; or set HUX_TEST_PG_HOST)"};
    setenv("HUX_TEST_PG_HOST", line.c_str(), 1);
    return PgHost{line, ""};
  }();
  return found;
}

std::string PgConnection(const std::string& dbname) {
  return "host=" + TestPgHost().host + " dbname=" + dbname + " user=postgres";
}
#endif

}  // namespace

std::vector<Engine> BuiltEngines() {
#ifdef HUX_HAVE_PG_HOST
  return {Engine::Sqlite, Engine::Postgres};
#else
  return {Engine::Sqlite};
#endif
}

std::string WhyUnavailable(Engine engine) {
  if (engine == Engine::Sqlite) return "";
#ifdef HUX_HAVE_PG_HOST
  return TestPgHost().why;
#else
  return "PostgreSQL tests skipped: the PostgreSQL host is not built (no libpq)";
#endif
}

const char* EngineName(Engine engine) { return engine == Engine::Sqlite ? "sqlite" : "postgres"; }

Engine EngineByName(const std::string& name) {
  if (name == "sqlite") return Engine::Sqlite;
  if (name == "postgres") return Engine::Postgres;
  throw std::invalid_argument("unknown engine: " + name);
}

std::unique_ptr<hux::GDBDevice> NewDevice(Engine engine) {
#ifdef HUX_HAVE_PG_HOST
  if (engine == Engine::Postgres) return std::make_unique<hux::host::PgDevice>();
#endif
  return std::make_unique<hux::host::SqliteDevice>();
}

std::string DeviceError(hux::GDBDevice& device) {
  if (auto* sqlite = dynamic_cast<hux::host::SqliteDevice*>(&device)) return sqlite->LastError();
#ifdef HUX_HAVE_PG_HOST
  if (auto* pg = dynamic_cast<hux::host::PgDevice*>(&device)) return pg->LastError();
#endif
  return "";
}

hux::CVariant Blob(const std::string& bytes) {
  auto* stream = new hux::GMemStream(true, nullptr, 0);
  if (!bytes.empty()) stream->Write(const_cast<char*>(bytes.data()), static_cast<unsigned int>(bytes.size()));
  hux::CVariant value;
  value.SetValueRefPtr(stream);
  return value;
}

std::string BytesOf(const hux::CVariant& value) {
  auto* stream = dynamic_cast<hux::GMemStream*>(value.GetValueRefPtr());
  return stream ? std::string(stream->GetData(), stream->GetDataSize()) : "<none>";
}

std::vector<long long> Ints(const std::vector<hux::CVariant>& values) {
  std::vector<long long> out;
  for (const hux::CVariant& v : values) out.push_back(v.toInt64(nullptr));
  return out;
}

TestDatabase::TestDatabase(Engine engine) : m_engine(engine) {
  if (const std::string why = WhyUnavailable(engine); !why.empty()) throw std::runtime_error(why);
  if (engine == Engine::Sqlite) {
    const auto file = std::filesystem::temp_directory_path() / (RandomName("hux-db-") + ".db");
    m_location = file.wstring();
    m_cleanup = file.string();
    return;
  }
#ifdef HUX_HAVE_PG_HOST
  m_cleanup = RandomName("hux_test_");
  if (std::string why; !PgCreateDatabase(PgConnection("postgres"), m_cleanup, why))
    throw std::runtime_error("the PostgreSQL server at " + TestPgHost().host + ": " + why);
  const std::string connection = PgConnection(m_cleanup);
  m_location.assign(connection.begin(), connection.end());
#endif
}

TestDatabase::~TestDatabase() {
  if (m_engine == Engine::Sqlite) {
    std::error_code ignored;
    for (const char* suffix : {"", "-journal", "-wal", "-shm"}) std::filesystem::remove(m_cleanup + suffix, ignored);
    return;
  }
#ifdef HUX_HAVE_PG_HOST
  std::string ignored;  // a failure leaves the database until the server goes
  PgExecute(PgConnection("postgres"), "DROP DATABASE IF EXISTS " + m_cleanup + " WITH (FORCE)", ignored);
#endif
}

std::unique_ptr<hux::GDBDevice> TestDatabase::Open() const {
  std::unique_ptr<hux::GDBDevice> device = NewDevice(m_engine);
  if (!device->OpenDB(m_location)) throw std::runtime_error("cannot open the test database");
  return device;
}

}  // namespace hux::test
