// LoadProject: the exact order of device and facade calls, the flags around
// them, and every way it fails.
#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <hux/object/dbdevice.h>
#include <hux/object/project.h>
#include <hux/value/variant.h>

#include "object_test_util.h"

namespace hux {
namespace {

using test::CallLog;
using test::CountedEntity;
using test::CountedProject;
using test::RecordingDevice;
using test::RecordingFacade;
using test::ScopedFacade;

class LoadProjectTest : public ::testing::Test {
 protected:
  LoadProjectTest() : facade(&log), installed(&facade) {
    device = new RecordingDevice(&log);
    device->destroyed = &deviceDestroyed;
    // A facade that builds a project the way a host does: attaches the
    // device and adds entities with their stored ids.
    facade.onLoad = [this](__int64 id, GDBDevice* d) -> IBaseEntity* {
      auto* project = new CountedProject;
      project->SetObjectID(id);
      project->SetProjectDBDevice(d);
      auto* stored = new CountedEntity(57);
      project->AddChild(stored);
      stored->AddChild(new CountedEntity);  // a stored id of 1 stays 1 while loading
      stored->SetObjectFlag(true, EGOBJECT_MODIFIED);
      return project;
    };
  }
  ~LoadProjectTest() override {
    if (!deviceDestroyed) delete device;
    EXPECT_EQ(test::g_liveEntities, 0);
  }

  void AnswerQuery(std::vector<CVariant> values) {
    device->onQuery = [values](std::vector<CVariant>& result) { result = values; };
  }

  CallLog log;
  RecordingFacade facade;
  ScopedFacade installed;
  RecordingDevice* device;
  bool deviceDestroyed = false;
};

TEST_F(LoadProjectTest, ProjectFoundByQuery) {
  AnswerQuery({CVariant(std::string("25")), CVariant(26LL)});  // the first value, through toInt64
  std::unique_ptr<IBaseProject> project(IBaseProject::LoadProject(0, L"/data/p.db", device));
  ASSERT_NE(project, nullptr);
  EXPECT_EQ(log, (CallLog{"OpenDB /data/p.db", "QueryTable EntityTable (ID,) PID=0 empty", "BeginAccess L1 S0",
                          "LoadProjectData 25 L1 S0", "EndAccess L1 S0"}));
  EXPECT_FALSE(device->GetContext().IsLoading()) << "the loading flag is lowered afterwards";
  IBaseEntity* stored = project->GetAllChild()[0];
  EXPECT_EQ(stored->GetObjectID(), 57);
  EXPECT_EQ(stored->GetAllChild()[0]->GetObjectID(), 1) << "no ids are handed out while loading";
  EXPECT_EQ(project->GetLastUniqueID(), 1);
  EXPECT_TRUE(stored->HasObjectFlag(EGOBJECT_MODIFIED)) << "constructed modified";
  stored->SetObjectFlag(false, EGOBJECT_MODIFIED);
  stored->SetObjectFlag(true, EGOBJECT_MODIFIED);
  EXPECT_TRUE(stored->HasObjectFlag(EGOBJECT_MODIFIED)) << "after loading, modifications are marked again";
}

TEST_F(LoadProjectTest, GivenIdSkipsQuery) {
  std::unique_ptr<IBaseProject> project(IBaseProject::LoadProject(25, L"p.db", device));
  ASSERT_NE(project, nullptr);
  EXPECT_EQ(log, (CallLog{"OpenDB p.db", "BeginAccess L1 S0", "LoadProjectData 25 L1 S0", "EndAccess L1 S0"}));
}

TEST_F(LoadProjectTest, FailuresReturnNullAndCallNoFacade) {
  // No row: nothing to convert, so no facade operation and no access.
  AnswerQuery({});
  EXPECT_EQ(IBaseProject::LoadProject(0, L"p.db", device), nullptr);
  EXPECT_EQ(log, (CallLog{"OpenDB p.db", "QueryTable EntityTable (ID,) PID=0 empty"}));

  // A first value that is no number.
  log.clear();
  AnswerQuery({CVariant()});
  EXPECT_EQ(IBaseProject::LoadProject(0, L"p.db", device), nullptr);
  EXPECT_EQ(log.size(), 2u);

  // The database cannot be opened.
  log.clear();
  device->openResult = false;
  EXPECT_EQ(IBaseProject::LoadProject(0, L"p.db", device), nullptr);
  EXPECT_EQ(IBaseProject::LoadProject(25, L"p.db", device), nullptr);
  EXPECT_EQ(log, (CallLog{"OpenDB p.db", "OpenDB p.db"}));

  // No device.
  EXPECT_EQ(IBaseProject::LoadProject(25, L"p.db", nullptr), nullptr);

  // No facade: nothing is touched.
  log.clear();
  device->openResult = true;
  SetIOFacade(nullptr);
  EXPECT_EQ(IBaseProject::LoadProject(25, L"p.db", device), nullptr);
  EXPECT_TRUE(log.empty());
  EXPECT_FALSE(deviceDestroyed) << "a failed load leaves the device to the caller";
}

TEST_F(LoadProjectTest, FacadeResultThatIsNoProject) {
  facade.onLoad = [](__int64, GDBDevice*) -> IBaseEntity* { return nullptr; };
  EXPECT_EQ(IBaseProject::LoadProject(25, L"p.db", device), nullptr);
  EXPECT_EQ(log.back(), "EndAccess L1 S0");

  // A plain entity is destroyed rather than lost (the fixture counts it).
  facade.onLoad = [](__int64, GDBDevice*) -> IBaseEntity* {
    auto* root = new CountedEntity(25);
    root->AddChild(new CountedEntity(26));
    return root;
  };
  EXPECT_EQ(IBaseProject::LoadProject(25, L"p.db", device), nullptr);
  EXPECT_EQ(test::g_liveEntities, 0);
  EXPECT_FALSE(device->GetContext().IsLoading());
}

TEST_F(LoadProjectTest, FailingFacadeClosesAccessAndLowersFlag) {
  facade.onLoad = [](__int64, GDBDevice*) -> IBaseEntity* { throw std::runtime_error("damaged"); };
  EXPECT_THROW(IBaseProject::LoadProject(25, L"p.db", device), std::runtime_error);
  EXPECT_EQ(log.back(), "EndAccess L1 S0");
  EXPECT_FALSE(device->GetContext().IsLoading()) << "a flag left raised would stop id assignment for good";

  log.clear();
  device->throwInBeginAccess = true;
  EXPECT_THROW(IBaseProject::LoadProject(25, L"p.db", device), std::runtime_error);
  EXPECT_EQ(log, (CallLog{"OpenDB p.db", "BeginAccess L1 S0"})) << "no EndAccess without a BeginAccess";
  EXPECT_FALSE(device->GetContext().IsLoading());
}

}  // namespace
}  // namespace hux
