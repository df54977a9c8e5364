// Whole projects through SaveProject, LoadProject and the entity facade on
// every engine: round trips, several users, killed saves, damaged databases.
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <limits>
#include <map>
#include <random>
#include <set>
#include <thread>

#include <hux/host/entity_facade.h>
#include <hux/object/project.h>

#include "sample_model.h"
#include "test_devices.h"

extern char** environ;

namespace hux {
namespace {

using host::EntityFacade;
using sample::AssemblyEntity;
using sample::PartEntity;
using test::Blob;
using test::BytesOf;

std::vector<IBaseEntity*> All(IBaseEntity* root) {
  std::vector<IBaseEntity*> all;
  IBaseEntity::GetAllLeafChild(root, all);
  return all;
}

// Ids, parents and data of a tree, in pre-order.
std::string Signature(IBaseEntity* root) {
  std::string out;
  for (IBaseEntity* e : All(root)) {
    out += std::to_string(e->GetObjectID()) + "<" + std::to_string(e->GetParent() ? e->GetParent()->GetObjectID() : 0) + " ";
    if (auto* part = dynamic_cast<PartEntity*>(e)) {
      const sample::PartData& d = part->Data();
      out += "P" + std::to_string(d.name.size()) + ":" + std::to_string(d.mass);
      for (double p : d.points) out += "," + std::to_string(p);
    } else if (auto* assembly = dynamic_cast<AssemblyEntity*>(e)) {
      out += "A" + assembly->Data().label + ":" + std::to_string(assembly->Data().revision);
    }
    out += ";";
  }
  return out;
}

// 'e' gives part (a, p) the mass, 'd' deletes it (assembly a when p < 0),
// 'n' adds a part of the mass under assembly a, 's' swaps part (a, p) out.
struct Change {
  char op;
  int a, p;
  double mass;
};

void Apply(IBaseProject* project, const Change& c) {
  IBaseEntity* assembly = project->GetAllChild()[c.a];
  if (c.op == 'n') {
    auto* part = new PartEntity();
    part->Data().mass = c.mass;
    assembly->AddChild(part);
  } else if (c.op == 'd') {
    if (c.p < 0)
      project->DeleteChild(assembly);
    else
      assembly->DeleteChild(assembly->GetAllChild()[c.p]);
  } else if (c.op == 's') {
    assembly->GetAllChild()[c.p]->SwapDataToDisk();
  } else {
    auto* part = static_cast<PartEntity*>(assembly->GetAllChild()[c.p]);
    part->Data().mass = c.mass;
    part->SetObjectFlag(true, EGOBJECT_MODIFIED);
  }
}

class ProjectDbTest : public ::testing::TestWithParam<test::Engine> {
 protected:
  // An engine that cannot be used now is built on SQLite, then skipped in SetUp.
  ProjectDbTest()
      : db(test::WhyUnavailable(GetParam()).empty() ? GetParam() : test::Engine::Sqlite), path(db.Location()) {
    sample::RegisterSampleTypes();
    SetIOFacade(&facade);
  }
  ~ProjectDbTest() override { SetIOFacade(nullptr); }
  void SetUp() override {
    if (const std::string why = test::WhyUnavailable(GetParam()); !why.empty()) GTEST_SKIP() << why;
  }

  // Assemblies (ids 2 ...) of `parts` parts each, and a plain entity.
  std::unique_ptr<IBaseProject> Build(int assemblies, int parts, bool save = true) {
    auto project = std::make_unique<sample::SampleProject>();
    project->SetProjectDBDevice(test::NewDevice(GetParam()).release());
    for (int a = 0; a < assemblies; ++a) {
      auto* assembly = new AssemblyEntity();
      assembly->Data().label = "a" + std::to_string(a);
      assembly->Data().revision = a;
      project->AddChild(assembly);
      for (int p = 0; p < parts; ++p) {
        auto* part = new PartEntity();
        part->Data().name = L"part \u00fc" + std::to_wstring(p);
        part->Data().mass = a + p * 0.5;
        part->Data().points.assign(p % 4, a * 1.25);
        assembly->AddChild(part);
      }
    }
    project->AddChild(new IBaseEntity());
    if (save) project->SaveProject(path);
    return project;
  }

  std::unique_ptr<IBaseProject> Reopen(const std::string& expected = "") {
    std::unique_ptr<GDBDevice> device = test::NewDevice(GetParam());
    std::unique_ptr<IBaseProject> project(IBaseProject::LoadProject(0, path, device.get()));
    if (project) device.release();
    if (!expected.empty()) {
      EXPECT_EQ(project ? Signature(project.get()) : facade.LastError(), expected);
    }
    return project;
  }

  void Save(IBaseProject* project) {
    ASSERT_TRUE(facade.SaveModifiedData(project, project->GetProjectDBDevice())) << facade.LastError();
  }

  std::map<long long, std::vector<CVariant>> Rows(const std::vector<std::string>& columns) {
    std::vector<std::string> names{"ID"};
    names.insert(names.end(), columns.begin(), columns.end());
    std::vector<CVariant> values;
    EXPECT_TRUE(db.Open()->QueryAllRows(EntityFacade::kTable, names, values));
    std::map<long long, std::vector<CVariant>> rows;
    for (size_t i = 0; i + names.size() <= values.size(); i += names.size())
      rows[values[i].toInt64(nullptr)].assign(values.begin() + i + 1, values.begin() + i + names.size());
    return rows;
  }

  test::TestDatabase db;
  std::wstring path;
  EntityFacade facade;
};

INSTANTIATE_TEST_SUITE_P(Engines, ProjectDbTest, ::testing::ValuesIn(test::BuiltEngines()),
                         [](const auto& info) { return std::string(test::EngineName(info.param)); });

TEST_P(ProjectDbTest, SaveAndReopenGivesTheSameProject) {
  const std::string expected = Signature(Build(3, 8).get());
  const int written = facade.GetStats().rowsWritten;
  auto loaded = Reopen(expected);
  ASSERT_NE(loaded, nullptr);
  loaded->SaveProject(path);  // an unchanged project writes no row
  EXPECT_EQ(facade.GetStats().rowsWritten, written);
}

TEST_P(ProjectDbTest, ForeignTablesLoadWhatIsReachableOrNothing) {
  auto device = db.Open();
  EXPECT_EQ(Reopen(), nullptr);
  // entities but no root
  ASSERT_TRUE(device->EnsureTable(EntityFacade::kTable, {"ID", "PID", "POS", "TYPE", "FLAGS", "DATA"}));
  ASSERT_TRUE(device->WriteRow(EntityFacade::kTable, {"ID", "PID"}, {CVariant(5LL), CVariant(4LL)}));
  EXPECT_EQ(Reopen(), nullptr);
  EXPECT_EQ(facade.GetStats().entitiesLoaded, 0);
  // with a root, the table of an older host (no VERSION) loads; a cycle 900 <-> 901 and
  // 902 under a parent that does not exist are not followed
  ASSERT_TRUE(device->WriteRow(EntityFacade::kTable, {"ID", "PID", "TYPE"}, {CVariant(4LL), CVariant(0LL), CVariant(1500LL)}));
  for (long long id : {900, 901, 902})
    device->WriteRow(EntityFacade::kTable, {"ID", "PID", "POS", "TYPE"},
                     {CVariant(id), CVariant(id == 900 ? 901LL : id == 901 ? 900LL : 5000LL), CVariant(0LL), CVariant(static_cast<long long>(sample::DT_SAMPLE_PART))});
  auto loaded = Reopen();
  ASSERT_NE(loaded, nullptr) << facade.LastError();
  EXPECT_EQ(All(loaded.get()).size(), 2u);
  EXPECT_GE(loaded->GetLastUniqueID(), 902);
  device->BeginAccess();
  for (long long i = 0; i <= EntityFacade::kMaxDepth + 1; ++i)
    device->WriteRow(EntityFacade::kTable, {"ID", "PID", "TYPE"}, {CVariant(100000 + i), CVariant(i == 0 ? 4LL : 100000 + i - 1), CVariant(0LL)});
  device->EndAccess();
  EXPECT_EQ(Reopen(), nullptr);
  EXPECT_NE(facade.LastError().find("deeper"), std::string::npos) << facade.LastError();
}

TEST_P(ProjectDbTest, IncrementalAndSingleEntitySaves) {
  auto project = Build(4, 10);
  GDBDevice* device = project->GetProjectDBDevice();
  project->DeleteChild(project->GetAllChild()[2]);  // an assembly and its 10 parts
  std::vector<__int64> deleted;
  auto* part = static_cast<PartEntity*>(project->GetAllChild()[0]->GetAllChild()[4]);
  part->Data().name = L"renamed";
  part->SetObjectFlag(true, EGOBJECT_MODIFIED);
  Apply(project.get(), {'n', 1, 0, 3});
  IBaseEntity* added = project->GetAllChild()[1]->GetAllChild().back();
  const std::string expected = Signature(project.get());

  Save(project.get());
  EXPECT_EQ(facade.GetStats().rowsDeleted, 11);
  device->GetObjectsState().GetDeleteList(deleted);
  EXPECT_TRUE(deleted.empty());
  EXPECT_TRUE(facade.IsEntityStored(added->GetObjectID(), device));

  // single entities: a detached subtree loads, one deletes and saves again
  IBaseEntity* assembly = project->GetAllChild()[1];
  const std::string subtree = Signature(assembly);
  std::unique_ptr<IBaseEntity> copy(facade.LoadEntity(assembly->GetObjectID(), device));
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(Signature(copy.get()), std::to_string(assembly->GetObjectID()) + "<0" + subtree.substr(subtree.find(' ')));
  EXPECT_EQ(facade.LoadEntity(9999, device), nullptr);
  const __int64 id = assembly->GetAllChild()[0]->GetObjectID();
  EXPECT_TRUE(facade.DeleteEntityData(id, device));
  EXPECT_FALSE(facade.IsEntityStored(id, device));
  EXPECT_FALSE(facade.DeleteEntityData(id, device));
  EXPECT_EQ(facade.GetStats().rowsDeleted, 12);
  EXPECT_EQ(facade.LoadProjectData(1, nullptr), nullptr);
  EXPECT_NE(facade.LastError().find("needs a device"), std::string::npos) << facade.LastError();
  EXPECT_TRUE(facade.SaveEntityData(assembly->GetAllChild()[0], device)) << facade.LastError();
  project.reset();
  Reopen(expected);
}

TEST_P(ProjectDbTest, TwoUsersConflictOnlyOverOneEntity) {
  // Ids: project 1, assembly 2 holding 3, 4, 5, assembly 6 holding 7, 8, 9.
  const struct {
    Change a, b;
    bool bSavesWhole;
    long long conflict;  // the entity B's save names, 0 when it lands
    int with100, with200, parts;  // the stored project afterwards
  } cases[] = {
      {{'e', 0, 0, 100}, {'e', 1, 0, 200}, false, 0, 1, 1, 6},
      {{'e', 0, 0, 100}, {'e', 0, 0, 200}, false, 3, 1, 0, 6},
      {{'e', 0, 1, 100}, {'d', 0, 1, 0}, false, 4, 1, 0, 6},
      {{'d', 0, 1, 0}, {'e', 0, 1, 200}, false, 4, 0, 0, 5},
      {{'n', 1, 0, 100}, {'d', 1, -1, 0}, false, 6, 1, 0, 7},
      {{'n', 0, 0, 100}, {'n', 0, 0, 200}, false, 0, 1, 1, 8},
      {{'e', 0, 0, 100}, {'s', 0, 0, 0}, false, 0, 1, 0, 6},  // B's swapped-out copy is not written
      {{'e', 0, 0, 100}, {'e', 1, 0, 200}, true, 3, 1, 0, 6},
      {{'n', 0, 0, 100}, {'e', 1, 0, 200}, true, 0, 1, 1, 7},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(1, c.a.op) + " vs " + c.b.op + (c.bSavesWhole ? " whole" : ""));
    Build(2, 3);
    auto a = Reopen();
    auto b = Reopen();
    ASSERT_TRUE(a && b) << facade.LastError();
    Apply(a.get(), c.a);
    Apply(b.get(), c.b);
    Save(a.get());
    bool landed = true;
    if (c.bSavesWhole) {
      try {
        b->SaveProject(path);
      } catch (const std::runtime_error&) {
        landed = false;
      }
    } else {
      landed = facade.SaveModifiedData(b.get(), b->GetProjectDBDevice());
    }
    EXPECT_EQ(landed, c.conflict == 0) << facade.LastError();
    if (c.conflict) {
      EXPECT_NE(facade.LastError().find("entity " + std::to_string(c.conflict) + " "), std::string::npos);
      std::vector<__int64> deleted;
      b->GetProjectDBDevice()->GetObjectsState().GetDeleteList(deleted);
      bool modified = !deleted.empty();
      for (IBaseEntity* e : All(b.get())) modified |= e->HasObjectFlag(EGOBJECT_MODIFIED);
      EXPECT_TRUE(modified) << "B keeps what it could not save";
    }
    a.reset();
    b.reset();
    auto stored = Reopen();
    ASSERT_NE(stored, nullptr) << facade.LastError();
    std::vector<int> found(3);  // parts of mass 100, of mass 200, all parts
    for (IBaseEntity* e : All(stored.get()))
      if (auto* part = dynamic_cast<PartEntity*>(e))
        found = {found[0] + (part->Data().mass == 100), found[1] + (part->Data().mass == 200), found[2] + 1};
    EXPECT_EQ(found, std::vector<int>({c.with100, c.with200, c.parts}));
  }
}

TEST_P(ProjectDbTest, RowsOfUnknownTypesSurviveSaves) {
  Build(2, 3);
  // 900 (unknown, under 2) holds 901, a part; unknown 902 under the project, 903 under 6.
  const long long rows[][4] = {{900, 2, 1, 424242}, {901, 900, 0, sample::DT_SAMPLE_PART}, {902, 1, 7, 424243}, {903, 6, 0, 424242}};
  for (const auto& r : rows)
    ASSERT_TRUE(db.Open()->WriteRow(EntityFacade::kTable, {"ID", "PID", "POS", "TYPE", "DATA"},
                                    {CVariant(r[0]), CVariant(r[1]), CVariant(r[2]), CVariant(r[3]),
                                     Blob("newer \x01\x02 data " + std::to_string(r[0]))}));
  auto dump = [&] {
    std::map<long long, std::string> out;
    for (const auto& [id, v] : Rows({"PID", "POS", "TYPE", "DATA"}))
      if (id >= 900 && id <= 903) out[id] = v[0].toString() + "/" + v[1].toString() + "/" + v[2].toString() + "/" + BytesOf(v[3]);
    return out;
  };
  const std::map<long long, std::string> kept = dump();
  ASSERT_EQ(kept.size(), 4u);

  auto project = Reopen();
  ASSERT_NE(project, nullptr) << facade.LastError();
  EXPECT_EQ(All(project.get()).size(), 1u + 2 * 4 + 1);
  Apply(project.get(), {'e', 0, 0, 5});
  Save(project.get());
  Apply(project.get(), {'e', 0, 1, 7});
  project->SaveProject(path);
  EXPECT_EQ(dump(), kept);
  Apply(project.get(), {'d', 1, -1, 0});
  Save(project.get());
  std::map<long long, std::string> expected = kept;
  expected.erase(903);
  EXPECT_EQ(dump(), expected);
  // a project whose store the facade forgot replaces it whole
  project = Reopen();
  ASSERT_NE(project, nullptr) << facade.LastError();
  facade.Forget(project->GetProjectDBDevice());
  project->SaveProject(path);
  EXPECT_TRUE(dump().empty());
}

pid_t StartWorker(test::Engine engine, const std::wstring& location, const std::vector<std::string>& args) {
  std::vector<std::string> words{HUX_STORE_WORKER, test::EngineName(engine), std::string(location.begin(), location.end())};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  return posix_spawn(&pid, HUX_STORE_WORKER, nullptr, nullptr, argv.data(), environ) == 0 ? pid : -1;
}

int WaitFor(pid_t pid) {
  int status = 0;
  if (pid <= 0 || ::waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST_P(ProjectDbTest, WorkersSavingDisjointEntitiesAllLand) {
  constexpr int kWorkers = 4, kSaves = 30;
  Build(kWorkers, 1);
  std::vector<pid_t> workers;
  for (int w = 0; w < kWorkers; ++w)
    workers.push_back(StartWorker(GetParam(), path, {"edit", "a" + std::to_string(w), std::to_string(kSaves)}));
  for (pid_t pid : workers) EXPECT_EQ(WaitFor(pid), 0);

  auto loaded = Reopen();
  ASSERT_NE(loaded, nullptr) << facade.LastError();
  std::set<__int64> ids;
  for (IBaseEntity* assembly : loaded->GetAllChild()) {
    if (!dynamic_cast<AssemblyEntity*>(assembly)) continue;
    const auto& parts = assembly->GetAllChild();
    ASSERT_EQ(parts.size(), 1u + kSaves);
    for (int i = 0; i <= kSaves; ++i)
      EXPECT_EQ(static_cast<PartEntity*>(parts[i])->Data().mass, i ? i - 1 : kSaves);
    for (IBaseEntity* part : parts) ids.insert(part->GetObjectID());
  }
  EXPECT_EQ(ids.size(), kWorkers * (1u + kSaves));
}

TEST_P(ProjectDbTest, KilledSavesLeaveTheProjectWhole) {
  {
    auto project = Build(3, 4, false);
    for (IBaseEntity* e : All(project.get()))
      if (auto* part = dynamic_cast<PartEntity*>(e)) part->Data().name = L"g0", part->Data().mass = 0;
    project->SaveProject(path);
  }
  std::mt19937 random(77);
  int saved = 0;  // runs whose worker changed the project
  std::wstring previous = L"g0=0";
  for (int run = 0; run < 20; ++run) {
    SCOPED_TRACE(run);
    const pid_t pid = StartWorker(GetParam(), path, {"churn", std::to_string(run)});
    ASSERT_GT(pid, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(20 + random() % 150));
    ::kill(pid, SIGKILL);
    EXPECT_EQ(WaitFor(pid), 128 + SIGKILL) << "the worker was still saving";
    // every row loads, every part holds one save's number, the counter is above every id
    auto loaded = Reopen();
    ASSERT_NE(loaded, nullptr) << facade.LastError();
    const auto rows = Rows({});
    EXPECT_EQ(All(loaded.get()).size(), rows.size());
    EXPECT_GT(loaded->GetLastUniqueID(), rows.rbegin()->first);
    std::set<std::wstring> generations;
    for (IBaseEntity* e : All(loaded.get()))
      if (auto* part = dynamic_cast<PartEntity*>(e))
        generations.insert(part->Data().name + L"=" + std::to_wstring(static_cast<int>(part->Data().mass)));
    ASSERT_EQ(generations.size(), 1u);
    const std::wstring g = *generations.begin();
    EXPECT_EQ(g.substr(1, g.find(L'=') - 1), g.substr(g.find(L'=') + 1));
    saved += g != previous;
    previous = g;
  }
  EXPECT_GT(saved, 4) << "the workers were killed before they saved";
}

TEST_P(ProjectDbTest, HostileRowsLoadOrFailCleanly) {
  auto claiming = [](unsigned int size) {
    return Blob(std::string("\x01\x00\x01\x01", 4) + std::string(reinterpret_cast<const char*>(&size), 4) + "12345678");
  };
  const long long part = static_cast<long long>(sample::DT_SAMPLE_PART), kMax = std::numeric_limits<long long>::max();
  const struct {
    long long id;
    const char* column;
    CVariant value;
    size_t entities;    // loaded, of 29
    const char* error;  // null: the project loads
  } cases[] = {
      {1, "TYPE", CVariant(part), 0, "project"},     // a root that is no project
      {1, "TYPE", CVariant(424242LL), 0, "424242"},  // a root of a type nothing registers
      {5, "TYPE", CVariant(1LL << 40), 28, nullptr},  // kept, with what is beneath it
      {5, "TYPE", CVariant(std::string("part")), 28, nullptr},
      {2, "PID", CVariant(), 20, nullptr},  // a subtree cut off
      {5, "POS", CVariant(std::numeric_limits<long long>::min()), 29, nullptr},
      {5, "FLAGS", CVariant(std::string("x")), 29, nullptr},
      {5, "VERSION", CVariant(2.5), 29, nullptr},
      {5, "DATA", claiming(0x7fffffff), 29, nullptr},
      {5, "DATA", claiming(0xffffffff), 29, nullptr},
      {5, "DATA", CVariant(5LL), 29, nullptr},
      {kMax, "PID", CVariant(2LL), 30, nullptr},  // an id no counter reaches
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.column) + " " + c.value.toString());
    Build(3, 8);
    // An engine with typed columns refuses some values; SQLite holds any.
    if (!db.Open()->WriteRow(EntityFacade::kTable, {"ID", c.column}, {CVariant(c.id), c.value})) {
      EXPECT_NE(GetParam(), test::Engine::Sqlite);
      continue;
    }
    auto loaded = Reopen();
    if (c.error) {
      EXPECT_EQ(loaded, nullptr);
      EXPECT_NE(facade.LastError().find(c.error), std::string::npos) << facade.LastError();
      continue;
    }
    ASSERT_NE(loaded, nullptr) << facade.LastError();
    Signature(loaded.get());
    EXPECT_EQ(All(loaded.get()).size(), c.entities);
    EXPECT_GT(loaded->GetLastUniqueID(), std::prev(Rows({}).lower_bound(1LL << 60))->first);
    // a save leaves the damaged row to itself
    Apply(loaded.get(), {'n', 0, 0, 1});
    loaded->SaveProject(path);
    loaded.reset();
    EXPECT_NE(Reopen(), nullptr) << facade.LastError();
  }
}

}  // namespace
}  // namespace hux
