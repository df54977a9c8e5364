// The database engines the integration tests run against, behind one
// interface, so that a test written once runs on every engine.
//
// SQLite is always there when these tests are built. PostgreSQL joins when
// the PostgreSQL host is built and a private server could be started for the
// test run; TestEngines() lists only the engines that can be used now.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <hux/object/dbdevice.h>

namespace hux::test {

enum class Engine { Sqlite, Postgres };

std::vector<Engine> TestEngines();
// Every engine these tests were built with, usable now or not, and why one
// cannot be used (empty when it can): a suite listed per engine skips the
// engines that are missing and says why.
std::vector<Engine> BuiltEngines();
std::string WhyUnavailable(Engine engine);
const char* EngineName(Engine engine);
// The engine named by EngineName (for worker processes); throws when unknown.
Engine EngineByName(const std::string& name);

// A new device of the engine, not opened yet.
std::unique_ptr<hux::GDBDevice> NewDevice(Engine engine);
// The LastError() of a device made by NewDevice.
std::string DeviceError(hux::GDBDevice& device);

// A fresh, empty database for one test, dropped afterwards. Location() is
// what OpenDB takes: a file path for SQLite, a libpq connection string for
// PostgreSQL. Another process opens the same database with the same location.
class TestDatabase {
 public:
  explicit TestDatabase(Engine engine);
  ~TestDatabase();
  TestDatabase(const TestDatabase&) = delete;
  TestDatabase& operator=(const TestDatabase&) = delete;

  Engine GetEngine() const { return m_engine; }
  const std::wstring& Location() const { return m_location; }
  // A new device of the engine, opened on this database.
  std::unique_ptr<hux::GDBDevice> Open() const;

 private:
  Engine m_engine;
  std::wstring m_location;
  std::string m_cleanup;  // what the destructor removes (file or database)
};

}  // namespace hux::test
