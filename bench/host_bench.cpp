// Saving and loading a project of 10 000 and 100 000 entities (parts with a
// name, a mass and three points, under 100 assemblies) through the entity
// facade and each database device, against the bound of the store itself:
// the same rows (five integers and the data block of a part) written by a
// prepared INSERT in one transaction and read back by a plain SELECT through
// the same driver (the sqlite3 API, libpq).
//
// Every save starts from an empty database. PostgreSQL runs as a private
// server started for the run (as the tests do), on a Unix socket; without
// the server programs its benchmarks report why and measure nothing. Times
// are wall-clock: PostgreSQL's share of the work is in the server process.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include <hux/host/entity_facade.h>
#include <hux/host/sqlite_device.h>
#include <hux/io/archive.h>
#include <hux/io/memstream.h>
#include <hux/object/project.h>

#include "sample_model.h"

#ifdef HUX_BENCH_PG
#include <libpq-fe.h>

#include <hux/host/pg_device.h>

#include "pg_server.h"
#endif

namespace {

constexpr int kAssemblies = 100;

hux::host::EntityFacade& Facade() {
  static hux::host::EntityFacade facade;
  static const bool installed = [] {
    sample::RegisterSampleTypes();
    hux::SetIOFacade(&facade);
    return true;
  }();
  (void)installed;
  return facade;
}

// A project of `entities` entities: the project, kAssemblies assemblies and
// parts spread over them. The caller owns it; it has no device yet.
std::unique_ptr<sample::SampleProject> MakeProject(int entities) {
  Facade();
  auto project = std::make_unique<sample::SampleProject>();
  std::vector<sample::AssemblyEntity*> assemblies;
  for (int a = 0; a < kAssemblies; ++a) {
    auto* assembly = new sample::AssemblyEntity();
    project->AddChild(assembly);
    assembly->Data().label = "assembly " + std::to_string(a);
    assemblies.push_back(assembly);
  }
  for (int p = 0; p < entities - kAssemblies - 1; ++p) {
    auto* part = new sample::PartEntity();
    assemblies[p % kAssemblies]->AddChild(part);
    part->Data().name = L"part " + std::to_wstring(p);
    part->Data().mass = 0.5 * p;
    part->Data().points = {1.0 * p, 2.0, 3.0};
  }
  return project;
}

// The data block the facade stores for a part, for the plain rows.
std::string PartBlock() {
  Facade();
  sample::PartEntity part;
  part.Data().name = L"bracket 12345";
  part.Data().mass = 6172.5;
  part.Data().points = {12345.0, 2.0, 3.0};
  hux::GMemStream stream(true, nullptr, 0);
  hux::GDbArchiveImpl archive(&stream);
  static_cast<hux::IBase&>(part).Serialize(archive);
  part.GetBaseEntityImpl(false)->Serialize(archive);
  return std::string(stream.GetData(), stream.GetDataSize());
}

// One row per entity: id, parent id, place, type, flags, data.
struct PlainRow {
  long long id, parent, pos, type, flags;
};

PlainRow RowOf(int i) {
  return {i + 2, i < kAssemblies ? 1 : 2 + (i - kAssemblies) % kAssemblies, i, 20002, 0};
}

// ---- the engines ---------------------------------------------------------

// A database of one engine: a fresh empty one for each Reset().
class Store {
 public:
  virtual ~Store() = default;
  // Why the engine cannot be measured here; empty when it can.
  virtual std::string Unavailable() { return ""; }
  virtual void Reset() = 0;
  virtual std::wstring Location() = 0;
  virtual hux::GDBDevice* NewDevice() = 0;
  virtual void PlainSave(int rows, const std::string& block) = 0;
  virtual long long PlainLoad() = 0;  // returns the bytes read, so nothing is optimised away
};

class SqliteStore : public Store {
 public:
  SqliteStore() : m_file(std::filesystem::temp_directory_path() / "hux-host-bench.db") {}
  ~SqliteStore() override { std::filesystem::remove(m_file); }
  void Reset() override { std::filesystem::remove(m_file); }
  std::wstring Location() override { return m_file.wstring(); }
  hux::GDBDevice* NewDevice() override { return new hux::host::SqliteDevice(); }

  void PlainSave(int rows, const std::string& block) override {
    sqlite3* db = nullptr;
    sqlite3_open(m_file.c_str(), &db);
    sqlite3_exec(db,
                 "CREATE TABLE EntityTable (ID INTEGER PRIMARY KEY, PID, POS, TYPE, FLAGS, DATA); BEGIN IMMEDIATE",
                 nullptr, nullptr, nullptr);
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO EntityTable VALUES (?, ?, ?, ?, ?, ?)", -1, &insert, nullptr);
    for (int i = 0; i < rows; ++i) {
      const PlainRow row = RowOf(i);
      const long long values[] = {row.id, row.parent, row.pos, row.type, row.flags};
      for (int c = 0; c < 5; ++c) sqlite3_bind_int64(insert, c + 1, values[c]);
      sqlite3_bind_blob64(insert, 6, block.data(), block.size(), SQLITE_TRANSIENT);
      if (sqlite3_step(insert) != SQLITE_DONE) std::abort();
      sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(db);
  }

  long long PlainLoad() override {
    sqlite3* db = nullptr;
    sqlite3_open(m_file.c_str(), &db);
    sqlite3_stmt* select = nullptr;
    sqlite3_prepare_v2(db, "SELECT ID, PID, POS, TYPE, FLAGS, DATA FROM EntityTable ORDER BY ID", -1, &select,
                       nullptr);
    long long bytes = 0;
    while (sqlite3_step(select) == SQLITE_ROW) {
      for (int c = 0; c < 5; ++c) bytes += sqlite3_column_int64(select, c) & 1;
      const std::string data(static_cast<const char*>(sqlite3_column_blob(select, 5)),
                             sqlite3_column_bytes(select, 5));
      bytes += data.size();
    }
    sqlite3_finalize(select);
    sqlite3_close(db);
    return bytes;
  }

 private:
  std::filesystem::path m_file;
};

#ifdef HUX_BENCH_PG
class PgStore : public Store {
 public:
  PgStore() {
    bool missing = false;
    m_server = hux::test::PgServer::Start(m_why, missing);
  }
  ~PgStore() override { Drop(); }

  std::string Unavailable() override { return m_server ? "" : m_why; }

  void Reset() override {
    Drop();
    m_name = "hux_bench_" + std::to_string(++m_count);
    std::string why;
    if (!hux::test::PgCreateDatabase(m_server->ConnectionString("postgres"), m_name, why)) {
      std::fprintf(stderr, "%s\n", why.c_str());
      std::abort();
    }
  }
  std::wstring Location() override {
    const std::string connection = m_server->ConnectionString(m_name);
    return std::wstring(connection.begin(), connection.end());
  }
  hux::GDBDevice* NewDevice() override { return new hux::host::PgDevice(); }

  void PlainSave(int rows, const std::string& block) override {
    PGconn* conn = PQconnectdb(m_server->ConnectionString(m_name).c_str());
    Check(conn, PQexec(conn,
                       "CREATE TABLE EntityTable (ID bigint PRIMARY KEY, PID bigint, POS bigint, TYPE bigint, "
                       "FLAGS bigint, DATA bytea); BEGIN"));
    const Oid types[] = {20, 20, 20, 20, 20, 17};
    Check(conn, PQprepare(conn, "insert", "INSERT INTO EntityTable VALUES ($1, $2, $3, $4, $5, $6)", 6, types));
    for (int i = 0; i < rows; ++i) {
      const PlainRow row = RowOf(i);
      const long long values[] = {row.id, row.parent, row.pos, row.type, row.flags};
      char ints[5][8];
      const char* params[6];
      int lengths[6];
      const int formats[6] = {1, 1, 1, 1, 1, 1};
      for (int c = 0; c < 5; ++c) {
        for (int b = 0; b < 8; ++b) ints[c][b] = static_cast<char>(values[c] >> (56 - 8 * b));
        params[c] = ints[c];
        lengths[c] = 8;
      }
      params[5] = block.data();
      lengths[5] = static_cast<int>(block.size());
      Check(conn, PQexecPrepared(conn, "insert", 6, params, lengths, formats, 1));
    }
    Check(conn, PQexec(conn, "COMMIT"));
    PQfinish(conn);
  }

  long long PlainLoad() override {
    PGconn* conn = PQconnectdb(m_server->ConnectionString(m_name).c_str());
    PGresult* result = PQexecParams(conn, "SELECT ID, PID, POS, TYPE, FLAGS, DATA FROM EntityTable ORDER BY ID", 0,
                                    nullptr, nullptr, nullptr, nullptr, 1);
    if (PQresultStatus(result) != PGRES_TUPLES_OK) std::abort();
    long long bytes = 0;
    for (int r = 0; r < PQntuples(result); ++r) {
      for (int c = 0; c < 5; ++c) bytes += PQgetvalue(result, r, c)[7] & 1;
      const std::string data(PQgetvalue(result, r, 5), PQgetlength(result, r, 5));
      bytes += data.size();
    }
    PQclear(result);
    PQfinish(conn);
    return bytes;
  }

 private:
  static void Check(PGconn* conn, PGresult* result) {
    const ExecStatusType status = PQresultStatus(result);
    PQclear(result);
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
      std::fprintf(stderr, "%s\n", PQerrorMessage(conn));
      std::abort();
    }
  }
  void Admin(const std::string& sql) {
    std::string why;
    if (!hux::test::PgExecute(m_server->ConnectionString("postgres"), sql, why)) {
      std::fprintf(stderr, "%s\n", why.c_str());
      std::abort();
    }
  }
  void Drop() {
    if (!m_name.empty()) Admin("DROP DATABASE " + m_name + " WITH (FORCE)");
    m_name.clear();
  }

  std::unique_ptr<hux::test::PgServer> m_server;
  std::string m_why;
  std::string m_name;
  int m_count = 0;
};
#endif

Store* StoreOf(bool pg) {
  static SqliteStore sqlite;
#ifdef HUX_BENCH_PG
  if (pg) {
    static PgStore postgres;
    return &postgres;
  }
#endif
  return pg ? nullptr : &sqlite;
}

// ---- the benchmarks ------------------------------------------------------

void Save(benchmark::State& state, bool pg) {
  Store* store = StoreOf(pg);
  const int entities = static_cast<int>(state.range(0));
  std::unique_ptr<sample::SampleProject> project = MakeProject(entities);
  project->SetProjectDBDevice(store->NewDevice());
  for (auto _ : state) {
    state.PauseTiming();
    project->GetProjectDBDevice()->CloseDB();
    store->Reset();
    state.ResumeTiming();
    project->SaveProject(store->Location());
  }
  state.SetItemsProcessed(state.iterations() * entities);
}

void Load(benchmark::State& state, bool pg) {
  Store* store = StoreOf(pg);
  const int entities = static_cast<int>(state.range(0));
  store->Reset();
  {
    std::unique_ptr<sample::SampleProject> project = MakeProject(entities);
    project->SetProjectDBDevice(store->NewDevice());
    project->SaveProject(store->Location());
  }
  for (auto _ : state) {
    std::unique_ptr<hux::IBaseProject> loaded(hux::IBaseProject::LoadProject(0, store->Location(), store->NewDevice()));
    if (!loaded || loaded->GetAllChild().size() != kAssemblies) {
      state.SkipWithError(("the project did not load: " + Facade().LastError()).c_str());
      break;
    }
    state.PauseTiming();
    loaded.reset();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * entities);
}

// Swapping every part of a loaded project out, one entity save each: the
// cost of one such save must not grow with the number of entities.
void SwapOut(benchmark::State& state, bool pg) {
  Store* store = StoreOf(pg);
  const int entities = static_cast<int>(state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    store->Reset();
    {
      std::unique_ptr<sample::SampleProject> project = MakeProject(entities);
      project->SetProjectDBDevice(store->NewDevice());
      project->SaveProject(store->Location());
    }
    std::unique_ptr<hux::IBaseProject> loaded(hux::IBaseProject::LoadProject(0, store->Location(), store->NewDevice()));
    if (!loaded) {
      state.SkipWithError(("the project did not load: " + Facade().LastError()).c_str());
      break;
    }
    std::vector<hux::IBaseEntity*> parts;
    for (hux::IBaseEntity* assembly : loaded->GetAllChild())
      for (hux::IBaseEntity* part : assembly->GetAllChild()) parts.push_back(part);
    state.ResumeTiming();
    for (hux::IBaseEntity* part : parts) part->SwapDataToDisk();
    state.PauseTiming();
    loaded.reset();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * entities);
}

void PlainSave(benchmark::State& state, bool pg) {
  Store* store = StoreOf(pg);
  const std::string block = PartBlock();
  for (auto _ : state) {
    state.PauseTiming();
    store->Reset();
    state.ResumeTiming();
    store->PlainSave(static_cast<int>(state.range(0)), block);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void PlainLoad(benchmark::State& state, bool pg) {
  Store* store = StoreOf(pg);
  store->Reset();
  store->PlainSave(static_cast<int>(state.range(0)), PartBlock());
  for (auto _ : state) benchmark::DoNotOptimize(store->PlainLoad());
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

// Registers the save and load benchmarks of one engine, each at 10 000
// entities (three runs) and 100 000 (one run).
void Register(const std::string& engine, bool pg) {
  using Function = void (*)(benchmark::State&, bool);
  const std::pair<const char*, Function> runs[] = {
      {"Save/hux", &Save}, {"Save/plain", &PlainSave}, {"Load/hux", &Load}, {"Load/plain", &PlainLoad}};
  for (const auto& [name, function] : runs)
    for (const auto& [entities, iterations] : {std::pair{10000, 3}, std::pair{100000, 1}})
      benchmark::RegisterBenchmark((engine + name).c_str(), function, pg)
          ->Arg(entities)
          ->Iterations(iterations)
          ->Unit(benchmark::kMillisecond)
          ->UseRealTime();
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  Register("Sqlite", false);
  for (int entities : {10000, 40000})
    benchmark::RegisterBenchmark("SqliteSwapOut/hux", &SwapOut, false)
        ->Arg(entities)
        ->Iterations(1)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
  // Without a server the PostgreSQL runs are left out, and the reason said.
  Store* pg = StoreOf(true);
  const std::string why = pg ? pg->Unavailable() : "the PostgreSQL host is not built";
  if (why.empty())
    Register("Pg", true);
  else
    std::fprintf(stderr, "PostgreSQL not measured: %s\n", why.c_str());
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
