#include "test_devices.h"

#include <filesystem>
#include <random>
#include <stdexcept>

#include <hux/host/sqlite_device.h>

namespace hux::test {

std::vector<Engine> TestEngines() { return {Engine::Sqlite}; }

const char* EngineName(Engine engine) { return engine == Engine::Sqlite ? "sqlite" : "postgres"; }

Engine EngineByName(const std::string& name) {
  if (name == "sqlite") return Engine::Sqlite;
  if (name == "postgres") return Engine::Postgres;
  throw std::invalid_argument("unknown engine: " + name);
}

std::unique_ptr<hux::GDBDevice> NewDevice(Engine engine) {
  if (engine == Engine::Sqlite) return std::make_unique<hux::host::SqliteDevice>();
  throw std::runtime_error("the PostgreSQL host is not available");
}

TestDatabase::TestDatabase(Engine engine) : m_engine(engine) {
  if (engine != Engine::Sqlite) throw std::runtime_error("the PostgreSQL host is not available");
  std::random_device seed;
  const std::filesystem::path file =
      std::filesystem::temp_directory_path() / ("hux-db-" + std::to_string(seed()) + std::to_string(seed()) + ".db");
  m_location = file.wstring();
  m_cleanup = file.string();
}

TestDatabase::~TestDatabase() {
  std::error_code ignored;
  for (const char* suffix : {"", "-journal", "-wal", "-shm"}) std::filesystem::remove(m_cleanup + suffix, ignored);
}

std::unique_ptr<hux::GDBDevice> TestDatabase::Open() const {
  std::unique_ptr<hux::GDBDevice> device = NewDevice(m_engine);
  if (!device->OpenDB(m_location)) throw std::runtime_error("cannot open the test database");
  return device;
}

}  // namespace hux::test
