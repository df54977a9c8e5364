// Whole projects through the library's SaveProject and LoadProject and the
// SQLite host library, against a temporary database file: round trips,
// swapping, incremental saves, and damaged databases.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <hux/host/entity_facade.h>
#include <hux/host/sqlite_device.h>
#include <hux/io/memstream.h>
#include <hux/object/dbdevice.h>
#include <hux/object/project.h>
#include <hux/value/variant.h>

#include "sample_model.h"
#include "temp_db.h"

namespace hux {
namespace {

using sample::AssemblyEntity;
using sample::PartEntity;
using sample::SampleProject;
using host::EntityFacade;
using host::SqliteDevice;

// Everything a tree holds, in pre-order.
std::string Signature(IBaseEntity* root) {
  std::vector<IBaseEntity*> all;
  IBaseEntity::GetAllLeafChild(root, all);
  std::string out;
  for (IBaseEntity* e : all) {
    char buf[96];
    std::snprintf(buf, sizeof buf, "%lld<%lld ", e->GetObjectID(), e->GetParent() ? e->GetParent()->GetObjectID() : 0);
    out += buf;
    if (auto* part = dynamic_cast<PartEntity*>(e)) {
      const sample::PartData& d = part->Data();
      out += "P" + std::to_string(d.name.size()) + ":" + std::to_string(d.mass) + ":" + std::to_string(d.points.size());
      for (double p : d.points) out += "," + std::to_string(p);
    } else if (auto* assembly = dynamic_cast<AssemblyEntity*>(e)) {
      out += "A" + assembly->Data().label + ":" + std::to_string(assembly->Data().revision);
    } else if (dynamic_cast<IBaseProject*>(e)) {
      out += "project";
    } else {
      out += "plain";
    }
    out += ";";
  }
  return out;
}

class ProjectDbTest : public test::TempDbTest {
 protected:
  ProjectDbTest() {
    sample::RegisterSampleTypes();
    SetIOFacade(&facade);
  }
  ~ProjectDbTest() override { SetIOFacade(nullptr); }

  // A project of `assemblies` assemblies of `parts` parts each (ids 2 ...).
  std::unique_ptr<SampleProject> Build(int assemblies, int parts) {
    auto project = std::make_unique<SampleProject>();
    project->SetProjectDBDevice(new SqliteDevice());
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
    project->AddChild(new IBaseEntity());  // a plain entity travels too
    return project;
  }

  // LoadProject(0, path, new device); a device that did not reach a project
  // is freed here.
  std::unique_ptr<IBaseProject> Reopen() {
    auto* device = new SqliteDevice();
    IBaseProject* project = IBaseProject::LoadProject(0, path, device);
    if (!project) delete device;
    return std::unique_ptr<IBaseProject>(project);
  }

  SqliteDevice* DeviceOf(IBaseProject* project) { return static_cast<SqliteDevice*>(project->GetProjectDBDevice()); }

  EntityFacade facade;
};

TEST_F(ProjectDbTest, SaveAndReopenGivesTheSameProject) {
  auto project = Build(6, 30);
  const std::string expected = Signature(project.get());
  project->SaveProject(path);
  EXPECT_EQ(facade.GetStats().rowsWritten, 1 + 6 * 31 + 1);
  const __int64 counter = project->GetLastUniqueID();
  project.reset();

  auto loaded = Reopen();
  ASSERT_NE(loaded, nullptr) << facade.LastError();
  EXPECT_NE(dynamic_cast<SampleProject*>(loaded.get()), nullptr) << "created through the factory";
  EXPECT_EQ(Signature(loaded.get()), expected);
  EXPECT_EQ(loaded->GetLastUniqueID(), counter);
  EXPECT_FALSE(DeviceOf(loaded.get())->GetContext().IsLoading());
  std::vector<IBaseEntity*> all;
  IBaseEntity::GetAllLeafChild(loaded.get(), all);
  for (IBaseEntity* e : all) {
    EXPECT_FALSE(e->HasObjectFlag(EGOBJECT_MODIFIED)) << e->GetObjectID();
    EXPECT_TRUE(e->HasObjectFlag(EGOBJECT_RECORD_DELETE)) << e->GetObjectID();
  }
  // New entities continue after the stored ids.
  loaded->AddChild(new PartEntity());
  EXPECT_EQ(loaded->GetAllChild().back()->GetObjectID(), counter + 1);
}

TEST_F(ProjectDbTest, EmptyOrForeignDatabaseLoadsNothing) {
  {
    SqliteDevice device;
    ASSERT_TRUE(device.OpenDB(path));  // an empty database: no entity table
  }
  EXPECT_EQ(Reopen(), nullptr);
  EXPECT_EQ(facade.GetStats().entitiesLoaded, 0);

  // A table with entities but no root (no PID 0): the query yields no row.
  {
    SqliteDevice device;
    ASSERT_TRUE(device.OpenDB(path));
    ASSERT_TRUE(device.EnsureTable("EntityTable", {"ID", "PID", "POS", "TYPE", "FLAGS", "DATA"}));
    ASSERT_TRUE(device.WriteRow("EntityTable", {"ID", "PID"}, {CVariant(5LL), CVariant(4LL)}));
  }
  EXPECT_EQ(Reopen(), nullptr);
  EXPECT_EQ(facade.GetStats().entitiesLoaded, 0);
}

TEST_F(ProjectDbTest, SwapOutAndInThroughTheDatabase) {
  auto project = Build(2, 5);
  project->SaveProject(path);
  auto* part = static_cast<PartEntity*>(project->GetAllChild()[1]->GetAllChild()[3]);
  const std::string before = Signature(part);
  part->Data().mass = 77.25;  // changed in memory only
  const std::string changed = Signature(part);
  EXPECT_NE(before, changed);

  part->SwapDataToDisk();
  EXPECT_TRUE(part->HasObjectFlag(EGOBJECT_SWAPPED));
  EXPECT_EQ(facade.GetStats().swappedOut, 1);
  part->SwapDataToDisk();  // nothing in memory: the stored data stays
  EXPECT_EQ(facade.GetStats().swappedOut, 1);

  // A full save keeps the swapped-out data (it is only in the database).
  project->SaveProject(path);
  EXPECT_EQ(facade.GetStats().swappedIn, 0);
  EXPECT_EQ(Signature(part), changed) << "swapped in on first use";
  EXPECT_EQ(facade.GetStats().swappedIn, 1);
  EXPECT_FALSE(part->HasObjectFlag(EGOBJECT_SWAPPED));

  // Swapped out again and reopened: the database holds the changed data.
  part->SwapDataToDisk();
  project->SaveProject(path);
  const std::string expected = Signature(project.get());
  project.reset();
  auto loaded = Reopen();
  ASSERT_NE(loaded, nullptr) << facade.LastError();
  EXPECT_EQ(Signature(loaded.get()), expected);
}

TEST_F(ProjectDbTest, SwapOutNeedsAnOpenDatabase) {
  auto project = Build(1, 2);  // never saved: its device has no database open
  auto* part = static_cast<PartEntity*>(project->GetAllChild()[0]->GetAllChild()[1]);
  part->Data().mass = 5.5;
  EXPECT_THROW(part->SwapDataToDisk(), std::runtime_error);
  EXPECT_FALSE(part->HasObjectFlag(EGOBJECT_SWAPPED));
  EXPECT_EQ(part->Data().mass, 5.5) << "the data stays in memory";

  PartEntity loose;  // outside any project: no device
  loose.Data().mass = 1.5;
  EXPECT_THROW(loose.SwapDataToDisk(), std::runtime_error);
  EXPECT_EQ(loose.Data().mass, 1.5);
}

TEST_F(ProjectDbTest, IncrementalSaveWritesChangesAndRemovesDeletions) {
  auto project = Build(4, 10);
  project->SaveProject(path);
  GDBDevice* device = project->GetProjectDBDevice();

  project->DeleteChild(project->GetAllChild()[2]);  // an assembly and its 10 parts
  std::vector<__int64> deleted;
  device->GetObjectsState().GetDeleteList(deleted);
  EXPECT_EQ(deleted.size(), 11u);
  auto* part = static_cast<PartEntity*>(project->GetAllChild()[0]->GetAllChild()[4]);
  part->Data().name = L"renamed";
  part->SetObjectFlag(true, EGOBJECT_MODIFIED);
  auto* added = new PartEntity();
  added->Data().mass = 3;
  project->GetAllChild()[1]->AddChild(added);
  // The entities after the deleted assembly moved up one place.
  IBaseEntity* moved = project->GetAllChild()[2];
  const std::string expected = Signature(project.get());

  ASSERT_TRUE(facade.SaveModifiedData(project.get(), device)) << facade.LastError();
  device->GetObjectsState().GetDeleteList(deleted);
  EXPECT_TRUE(deleted.empty()) << "the deletion list is emptied";
  EXPECT_FALSE(part->HasObjectFlag(EGOBJECT_MODIFIED));
  EXPECT_TRUE(facade.IsEntityStored(added->GetObjectID(), device));
  EXPECT_TRUE(facade.IsEntityStored(moved->GetObjectID(), device));
  project.reset();
  auto loaded = Reopen();
  ASSERT_NE(loaded, nullptr) << facade.LastError();
  EXPECT_EQ(Signature(loaded.get()), expected);
}

TEST_F(ProjectDbTest, SingleEntitiesThroughTheFacade) {
  auto project = Build(2, 3);
  project->SaveProject(path);
  GDBDevice* device = project->GetProjectDBDevice();
  IBaseEntity* assembly = project->GetAllChild()[1];
  const std::string expected = Signature(assembly);
  std::unique_ptr<IBaseEntity> copy(facade.LoadEntity(assembly->GetObjectID(), device));
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->GetParent(), nullptr) << "a detached subtree";
  EXPECT_EQ(Signature(copy.get()).substr(Signature(copy.get()).find(' ')), expected.substr(expected.find(' ')))
      << "same ids and data (only the root's parent differs)";
  EXPECT_EQ(facade.LoadEntity(9999, device), nullptr);

  const __int64 id = assembly->GetAllChild()[0]->GetObjectID();
  EXPECT_TRUE(facade.IsEntityStored(id, device));
  EXPECT_TRUE(facade.DeleteEntityData(id, device));
  EXPECT_FALSE(facade.IsEntityStored(id, device));
  EXPECT_FALSE(facade.DeleteEntityData(id, device));
  EXPECT_TRUE(facade.SaveEntityData(assembly->GetAllChild()[0], device));
  EXPECT_TRUE(facade.IsEntityStored(id, device));
}

// An entity class the factory cannot create again.
class UnregisteredEntity : public IBaseEntity {};

TEST_F(ProjectDbTest, FailedSaveKeepsTheStoredProject) {
  auto project = Build(2, 2);
  project->SaveProject(path);
  const std::string stored = Signature(project.get());
  project->GetAllChild()[0]->AddChild(new UnregisteredEntity());
  static_cast<PartEntity*>(project->GetAllChild()[1]->GetAllChild()[0])->Data().mass = -1;
  EXPECT_THROW(project->SaveProject(path), std::runtime_error);
  EXPECT_FALSE(project->GetProjectDBDevice()->GetContext().IsSaving());
  EXPECT_FALSE(DeviceOf(project.get())->InAccess());
  project.reset();
  auto loaded = Reopen();
  ASSERT_NE(loaded, nullptr);
  EXPECT_EQ(Signature(loaded.get()), stored) << "the failed save was rolled back whole";
}

// ---- damaged databases -----------------------------------------------------

class DamagedDbTest : public ProjectDbTest {
 protected:
  void SetUp() override {
    auto project = Build(3, 8);
    project->SaveProject(path);
  }
  // Runs `change` on the stored table through a device of its own.
  template <class Change>
  void Damage(Change&& change) {
    SqliteDevice device;
    ASSERT_TRUE(device.OpenDB(path));
    change(device);
  }
};

TEST_F(DamagedDbTest, UnbuildableTreeFailsTheLoadAndKeepsTheDevice) {
  const struct {
    long long id, type;
    const char* error;
  } cases[] = {
      {5, 424242, "424242"},                                          // a type the factory does not know
      {1, static_cast<long long>(sample::DT_SAMPLE_PART), "project"},  // a root that is no project
  };
  for (const auto& c : cases) {
    SetUp();
    Damage([&](SqliteDevice& d) { d.WriteRow("EntityTable", {"ID", "TYPE"}, {CVariant(c.id), CVariant(c.type)}); });
    auto* device = new SqliteDevice();
    EXPECT_EQ(IBaseProject::LoadProject(0, path, device), nullptr);
    EXPECT_NE(facade.LastError().find(c.error), std::string::npos) << facade.LastError();
    EXPECT_FALSE(device->InAccess());
    delete device;  // still the caller's
  }
}

TEST_F(DamagedDbTest, OrphansAndCyclesAreNotReached) {
  Damage([](SqliteDevice& d) {
    // 900 -> 901 -> 900 (a cycle) and 902 under a parent that does not exist.
    for (long long id : {900, 901, 902}) {
      d.WriteRow("EntityTable", {"ID", "PID", "POS", "TYPE"},
                 {CVariant(id), CVariant(id == 900 ? 901LL : id == 901 ? 900LL : 5000LL), CVariant(0LL),
                  CVariant(static_cast<long long>(sample::DT_SAMPLE_PART))});
    }
  });
  auto loaded = Reopen();
  ASSERT_NE(loaded, nullptr) << facade.LastError();
  std::vector<IBaseEntity*> all;
  IBaseEntity::GetAllLeafChild(loaded.get(), all);
  EXPECT_EQ(all.size(), 1u + 3 * 9 + 1);
}

TEST_F(DamagedDbTest, TooDeepTreeFailsCleanly) {
  Damage([](SqliteDevice& d) {
    d.BeginAccess();
    for (long long i = 0; i <= EntityFacade::kMaxDepth + 1; ++i)
      d.WriteRow("EntityTable", {"ID", "PID", "TYPE"},
                 {CVariant(100000 + i), CVariant(i == 0 ? 1LL : 100000 + i - 1), CVariant(0LL)});
    d.EndAccess();
  });
  EXPECT_EQ(Reopen(), nullptr);
  EXPECT_NE(facade.LastError().find("deeper"), std::string::npos) << facade.LastError();
}

TEST_F(DamagedDbTest, DamagedDataNeverCrashes) {
  // Every row's data cut short, overwritten with random bytes, or replaced
  // by values that are no byte block: the load finishes each time.
  std::vector<CVariant> ids;
  Damage([&](SqliteDevice& d) { d.QueryAllRows("EntityTable", {"ID"}, ids); });
  std::mt19937 random(1234);
  for (int round = 0; round < 24; ++round) {
    Damage([&](SqliteDevice& d) {
      std::vector<CVariant> data;
      for (const CVariant& id : ids) {
        d.QueryTable("EntityTable", {"DATA"}, "ID", id.toInt64(), data);
        auto* stream = data.empty() ? nullptr : dynamic_cast<GMemStream*>(data[0].GetValueRefPtr());
        if (!stream) continue;
        std::string bytes(stream->GetData(), stream->GetDataSize());
        if (round % 3 == 0) {
          bytes.resize(random() % (bytes.size() + 1));
        } else if (round % 3 == 1) {
          for (int k = 0; k < 4 && !bytes.empty(); ++k) bytes[random() % bytes.size()] = static_cast<char>(random());
        } else {
          d.WriteRow("EntityTable", {"ID", "DATA"}, {id, CVariant(std::string("not a blob"))});
          continue;
        }
        auto* damaged = new GMemStream(true, nullptr, 0);
        if (!bytes.empty()) damaged->Write(bytes.data(), static_cast<unsigned int>(bytes.size()));
        CVariant value;
        value.SetValueRefPtr(damaged);
        d.WriteRow("EntityTable", {"ID", "DATA"}, {id, value});
      }
    });
    auto loaded = Reopen();
    ASSERT_NE(loaded, nullptr) << "round " << round << ": " << facade.LastError();
    Signature(loaded.get());  // every entity's data is readable
    EXPECT_GE(loaded->GetLastUniqueID(), 1 + 3 * 9 + 1) << "the counter never falls below a stored id";
  }
}

}  // namespace
}  // namespace hux
