// The database engines the integration tests run against, behind one
// interface, so that a test written once runs on every engine: SQLite
// always, PostgreSQL when its host is built and a private server could be
// started for the run. Also the value helpers the tests share.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <hux/object/dbdevice.h>
#include <hux/value/variant.h>

namespace hux::test {

enum class Engine { Sqlite, Postgres };

// Every engine these tests were built with, usable now or not; a suite
// listed per engine skips those WhyUnavailable names a reason for.
std::vector<Engine> BuiltEngines();
std::string WhyUnavailable(Engine engine);
const char* EngineName(Engine engine);
// The engine named by EngineName (for worker processes); throws when unknown.
Engine EngineByName(const std::string& name);

// A new device of the engine, not opened yet, and the LastError() of one.
std::unique_ptr<hux::GDBDevice> NewDevice(Engine engine);
std::string DeviceError(hux::GDBDevice& device);

// A byte-block variant holding `bytes`; the bytes of one ("<none>" when the
// variant holds no byte block); the integers of a list of variants.
hux::CVariant Blob(const std::string& bytes);
std::string BytesOf(const hux::CVariant& value);
std::vector<long long> Ints(const std::vector<hux::CVariant>& values);

// A fresh, empty database for one test, dropped afterwards. Location() is
// what OpenDB takes: a file path for SQLite, a libpq connection string for
// PostgreSQL; another process opens the same database with it.
class TestDatabase {
 public:
  explicit TestDatabase(Engine engine);
  ~TestDatabase();
  TestDatabase(const TestDatabase&) = delete;
  TestDatabase& operator=(const TestDatabase&) = delete;

  const std::wstring& Location() const { return m_location; }
  // A new device of the engine, opened on this database.
  std::unique_ptr<hux::GDBDevice> Open() const;

 private:
  Engine m_engine;
  std::wstring m_location;
  std::string m_cleanup;  // what the destructor removes (file or database)
};

}  // namespace hux::test
