// The engines the integration tests run on (SQLite always, PostgreSQL when
// its host is built and a server runs) and the value helpers they share.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <hux/object/dbdevice.h>
#include <hux/value/variant.h>

namespace hux::test {

enum class Engine { Sqlite, Postgres };

// Every engine built; a test skips those WhyUnavailable gives a reason for.
std::vector<Engine> BuiltEngines();
std::string WhyUnavailable(Engine engine);
const char* EngineName(Engine engine);
Engine EngineByName(const std::string& name);  // throws when unknown
std::unique_ptr<hux::GDBDevice> NewDevice(Engine engine);  // not opened yet
std::string DeviceError(hux::GDBDevice& device);
// A byte-block variant; its bytes ("<none>" for no byte block); integers.
hux::CVariant Blob(const std::string& bytes);
std::string BytesOf(const hux::CVariant& value);
std::vector<long long> Ints(const std::vector<hux::CVariant>& values);

// A fresh database for one test, dropped afterwards. Location() is what
// OpenDB takes (a file path, or a libpq connection string).
class TestDatabase {
 public:
  explicit TestDatabase(Engine engine);
  ~TestDatabase();
  TestDatabase(const TestDatabase&) = delete;
  const std::wstring& Location() const { return m_location; }
  std::unique_ptr<hux::GDBDevice> Open() const;  // a new device opened on it

 private:
  Engine m_engine;
  std::wstring m_location;
  std::string m_cleanup;  // the file or database the destructor removes
};

}  // namespace hux::test
