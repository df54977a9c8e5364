// Entity trees: ids in pre-order, flag rules, deletion recording, swapping data out and in.
#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <type_traits>
#include <vector>

#include <hux/object/dbdevice.h>
#include <hux/object/entity.h>
#include <hux/object/project.h>

#include "object_test_util.h"

namespace hux {
namespace {

using test::CallLog;
using test::CountedEntity;
using test::CountedImpl;
using test::CountedProject;
using test::RecordingDevice;
using test::ScopedFacade;
using Ids = std::vector<__int64>;

static_assert(!std::is_copy_constructible_v<IBaseEntity> && !std::is_copy_assignable_v<IBaseEntity>);

constexpr EGOBJECT_FLAG M = EGOBJECT_MODIFIED;
constexpr EGOBJECT_FLAG S = EGOBJECT_SWAPPED;
constexpr EGOBJECT_FLAG R = EGOBJECT_RECORD_DELETE;
constexpr EGOBJECT_FLAG N = EGOBJECT_NO_MODIFIED;

Ids IdsOf(IBaseEntity* root) {
  std::vector<IBaseEntity*> all;
  IBaseEntity::GetAllLeafChild(root, all);
  Ids ids;
  for (IBaseEntity* e : all) ids.push_back(e->GetObjectID());
  return ids;
}

IBaseEntity* AddChildren(IBaseEntity* parent, std::initializer_list<__int64> ids) {
  for (__int64 id : ids) parent->AddChild(new CountedEntity(id));
  return parent->GetAllChild().back();
}

class EntityTest : public ::testing::Test {
 protected:
  ~EntityTest() override {
    SetIOFacade(nullptr);
    EXPECT_EQ(test::g_liveEntities, 0) << "entities leaked or destroyed twice";
    EXPECT_EQ(test::g_liveImpls, 0) << "implementation objects leaked or destroyed twice";
  }
  CallLog log;
  test::RecordingFacade facade{&log};
};

TEST_F(EntityTest, IdsFromProjectCounterInPreOrder) {
  enum Root { Project, ProjectLoading, PlainEntity };
  const struct {
    Root root;
    __int64 middleId;
    Ids ids;  // of the added subtree x(y(w), z), pre-order
  } cases[] = {
      {Project, 1, {2, 3, 4, 5}},
      {Project, 57, {2, 57, 3, 4}},  // a stored id is kept
      {Project, -3, {2, 3, 4, 5}},   // ids of 1 or less are none
      {ProjectLoading, 1, {1, 1, 1, 1}},
      {PlainEntity, 1, {1, 1, 1, 1}},
  };
  for (const auto& c : cases) {
    std::unique_ptr<IBaseEntity> root(c.root == PlainEntity ? static_cast<IBaseEntity*>(new CountedEntity)
                                                            : new CountedProject);
    auto* project = dynamic_cast<IBaseProject*>(root.get());
    if (project) project->SetProjectDBDevice(new RecordingDevice(&log));
    if (c.root == ProjectLoading) project->GetProjectDBDevice()->GetContext().SetLoading(true);
    auto* x = new CountedEntity;
    AddChildren(AddChildren(x, {c.middleId}), {1});
    AddChildren(x, {1});
    root->AddChild(x);
    EXPECT_EQ(IdsOf(x), c.ids) << c.root << " " << c.middleId;
    EXPECT_TRUE(!project || project->GetLastUniqueID() == c.ids.back());
  }
  EXPECT_TRUE(log.empty()) << "id assignment touches no device operation";
}

TEST_F(EntityTest, GetAllLeafChildAppendsPreOrderOfDeepTrees) {
  CountedProject project;
  IBaseEntity* tip = &project;
  for (int i = 0; i < 2000; ++i) {
    AddChildren(tip, {1, 1});  // a leaf beside each inner node
    tip->AddChild(nullptr);  // ignored
    tip = tip->GetAllChild()[0];
  }
  std::vector<IBaseEntity*> out{nullptr};
  IBaseEntity::GetAllLeafChild(&project, out);
  ASSERT_EQ(out.size(), 1u + 4001u) << "appends";
  EXPECT_EQ(out[2], project.GetAllChild()[0]);
  EXPECT_EQ(out[2001]->GetObjectID(), 4000) << "the deepest pair is numbered last";
  EXPECT_EQ(out.back(), project.GetAllChild()[1]);
}

TEST_F(EntityTest, SetObjectFlagRules) {
  enum Place { Detached, InProject, InProjectWithDevice, Loading };
  const struct {
    bool facade;
    Place place;
    unsigned int before;
    bool on;
    EGOBJECT_FLAG flag;
    unsigned int after;
  } cases[] = {
      {true, InProjectWithDevice, M, true, S, S},  // swapped clears modified
      {true, InProjectWithDevice, S, true, M, M},  // and the other way round
      {true, InProjectWithDevice, M | N, true, M, M | N},
      {true, InProjectWithDevice, S | N, true, M, S | N},  // no-modified blocks modified
      {true, InProjectWithDevice, N, true, M | R, N | R},
      {true, Loading, S, true, M, S},
      {true, InProjectWithDevice, 0, true, M | S, M | S},
      {true, InProject, S | N, true, M, M | N},  // no-modified needs a device
      {true, Detached, S | N, true, M, M | N},   // and a project
      {true, InProjectWithDevice, M | S | R, false, S | R, M},
      {false, InProjectWithDevice, M, true, S, M | S},  // no facade: plain bits
      {false, InProjectWithDevice, N, true, M, M | N},
  };
  for (const auto& c : cases) {
    CountedProject project;
    if (c.place >= InProjectWithDevice) project.SetProjectDBDevice(new RecordingDevice(&log));
    auto* e = new CountedEntity(5);
    std::unique_ptr<CountedEntity> detached(c.place == Detached ? e : nullptr);
    if (c.place != Detached) project.AddChild(e);
    if (c.place == Loading) project.GetProjectDBDevice()->GetContext().SetLoading(true);
    e->SetObjectFlag(false, M);
    e->SetObjectFlag(true, static_cast<EGOBJECT_FLAG>(c.before));
    ScopedFacade installed(c.facade ? &facade : nullptr);
    e->SetObjectFlag(c.on, c.flag);
    EXPECT_EQ(e->GetObjectFlags(), c.after) << "case " << (&c - cases);
  }
  CountedEntity e;  // M
  EXPECT_FALSE(e.HasObjectFlag(M | S)) << "every bit must be set";
}

TEST_F(EntityTest, DeleteChildRecordsIdsOnlyUnderAllConditions) {
  const struct {
    bool facade, flag, device, recordingOff, recorded;
  } cases[] = {
      {true, true, true, false, true},   {false, true, true, false, false}, {true, false, true, false, false},
      {true, true, false, false, false}, {true, true, true, true, false},
  };
  for (const auto& c : cases) {
    CountedProject project;
    RecordingDevice* device = c.device ? new RecordingDevice(&log) : nullptr;
    project.SetProjectDBDevice(device);
    if (device) device->GetContext().SetRecordDeleteOff(c.recordingOff);
    IBaseEntity* victim = AddChildren(&project, {2, 9});
    AddChildren(victim, {12, 11});
    if (c.flag)
      for (IBaseEntity* e : {victim, victim->GetAllChild()[0], victim->GetAllChild()[1]}) e->SetObjectFlag(true, R);
    ScopedFacade installed(c.facade ? &facade : nullptr);
    EXPECT_TRUE(project.DeleteChild(victim));
    EXPECT_EQ(IdsOf(&project), (Ids{1, 2}));
    EXPECT_FALSE(project.DeleteChild(victim)) << "second delete";
    if (!device) continue;
    Ids deleted;
    device->GetObjectsState().GetDeleteList(deleted);
    EXPECT_EQ(deleted, c.recorded ? (Ids{9, 12, 11}) : Ids{}) << "case " << (&c - cases);
  }
}

int& Value(IBaseEntity* e, bool load = false) { return static_cast<CountedImpl*>(e->GetBaseEntityImpl(load))->value; }

TEST_F(EntityTest, SwapOutAndInThroughFacadeAndFailuresKeepTheData) {
  CountedProject project;
  project.SetProjectDBDevice(new RecordingDevice(&log));
  IBaseEntity* entity = AddChildren(&project, {1});  // id 2
  Value(entity) = 42;
  int stored = 0;
  auto swapOut = [&](IBaseEntity* e, GDBDevice*) { stored = Value(e); };
  auto load = [&](IBaseEntity* e, GDBDevice*) { Value(e) = stored; };
  facade.onLoadEntity = load;
  entity->SwapDataToDisk();  // without a facade nothing happens
  EXPECT_EQ(entity->GetObjectFlags(), M);
  ScopedFacade installed(&facade);
  facade.onSwapOut = [](IBaseEntity*, GDBDevice*) { throw std::runtime_error("disk full"); };
  EXPECT_THROW(entity->SwapDataToDisk(), std::runtime_error);
  EXPECT_EQ(Value(entity), 42);
  EXPECT_EQ(entity->GetObjectFlags(), M);
  facade.onSwapOut = swapOut;
  entity->SwapDataToDisk();
  EXPECT_EQ(entity->GetObjectFlags(), S);
  EXPECT_EQ(test::g_liveImpls, 0) << "the data was released";
  entity->SwapDataToDisk();  // no data in memory: nothing to write over the stored data
  facade.onLoadEntity = [](IBaseEntity*, GDBDevice*) { throw std::runtime_error("database gone"); };
  EXPECT_THROW(entity->GetBaseEntityImpl(true), std::runtime_error);
  EXPECT_EQ(test::g_liveImpls, 0) << "no unfilled object stands for the stored data";
  facade.onLoadEntity = load;
  EXPECT_EQ(Value(entity, true), 42);
  EXPECT_TRUE(entity->HasObjectFlag(S)) << "clearing the flag is the facade's business";
  entity->SetImplObject(nullptr);
  EXPECT_EQ(Value(entity), 0) << "without `load` nothing is loaded";
  // Data that is not swapped out is written even when no object holds it.
  entity->SetImplObject(nullptr);
  entity->SetObjectFlag(true, M);
  entity->SwapDataToDisk();
  EXPECT_EQ(stored, 0);
  EXPECT_EQ(log, (CallLog{"SwapOutEntityData 2 device", "SwapOutEntityData 2 device", "LoadEntityData 2 device",
                          "LoadEntityData 2 device", "SwapOutEntityData 2 device"}));
}

}  // namespace
}  // namespace hux
