// Entity trees: ids in pre-order, flag rules, deletion recording, swapping
// data out and in, ownership.
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
static_assert(!std::is_copy_constructible_v<IBaseProject> && !std::is_copy_assignable_v<IBaseProject>);

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

Ids DeleteList(GDBDevice* device) {
  Ids ids;
  device->GetObjectsState().GetDeleteList(ids);
  return ids;
}

// `parent` gets children with the given ids; returns the last one.
IBaseEntity* AddChildren(IBaseEntity* parent, std::initializer_list<__int64> ids) {
  for (__int64 id : ids) parent->AddChild(new CountedEntity(id));
  return parent->GetAllChild().back();
}

class EntityTest : public ::testing::Test {
 protected:
  // Checked after the fixture's own members are gone.
  ~EntityTest() override {
    SetIOFacade(nullptr);
    EXPECT_EQ(test::g_liveEntities, 0) << "entities leaked or destroyed twice";
    EXPECT_EQ(test::g_liveImpls, 0) << "implementation objects leaked or destroyed twice";
  }
  CallLog log;
  test::RecordingFacade facade{&log};
};

TEST_F(EntityTest, IdsFromProjectCounterInPreOrder) {
  enum Root { Project, ProjectWithDevice, ProjectLoading, PlainEntity };
  const struct {
    const char* name;
    Root root;
    __int64 middleId;
    Ids ids;  // of the added subtree x(y(w), z), pre-order
    __int64 counter;
  } cases[] = {
      {"new subtree", Project, 1, {2, 3, 4, 5}, 5},
      {"with a device", ProjectWithDevice, 1, {2, 3, 4, 5}, 5},
      {"a stored id is kept", Project, 57, {2, 57, 3, 4}, 4},
      {"ids of 1 or less are none", Project, -3, {2, 3, 4, 5}, 5},
      {"none while loading", ProjectLoading, 1, {1, 1, 1, 1}, 1},
      {"none outside a project", PlainEntity, 1, {1, 1, 1, 1}, 1},
  };
  for (const auto& c : cases) {
    std::unique_ptr<IBaseEntity> root(c.root == PlainEntity ? static_cast<IBaseEntity*>(new CountedEntity)
                                                            : new CountedProject);
    auto* project = dynamic_cast<IBaseProject*>(root.get());
    if (c.root == ProjectWithDevice || c.root == ProjectLoading) project->SetProjectDBDevice(new RecordingDevice(&log));
    if (c.root == ProjectLoading) project->GetProjectDBDevice()->GetContext().SetLoading(true);
    auto* x = new CountedEntity;
    AddChildren(AddChildren(x, {c.middleId}), {1});
    AddChildren(x, {1});
    root->AddChild(x);
    EXPECT_EQ(x->GetParent(), root.get());
    EXPECT_EQ(IdsOf(x), c.ids) << c.name;
    if (project) {
      EXPECT_EQ(project->GetLastUniqueID(), c.counter) << c.name;
    }
  }
  // Adding below an inner node of a project assigns an id too; a null child
  // is ignored.
  CountedProject project;
  IBaseEntity* inner = AddChildren(&project, {1});
  AddChildren(inner, {1, 1});
  inner->AddChild(nullptr);
  EXPECT_EQ(IdsOf(inner), (Ids{2, 3, 4}));
  EXPECT_EQ(inner->GetAllChild()[0]->GetProject(), &project);
  EXPECT_TRUE(log.empty()) << "id assignment touches no device operation";
}

TEST_F(EntityTest, GetAllLeafChildAppendsPreOrderOfDeepTrees) {
  CountedProject project;
  IBaseEntity* tip = &project;
  for (int i = 0; i < 2000; ++i) {
    AddChildren(tip, {1, 1});  // a leaf beside each inner node
    tip = tip->GetAllChild()[0];
  }
  std::vector<IBaseEntity*> out{nullptr};
  IBaseEntity::GetAllLeafChild(&project, out);
  ASSERT_EQ(out.size(), 1u + 4001u) << "appends";
  // Pre-order: each inner node's subtree comes before its leaf sibling.
  EXPECT_EQ(out[1], &project);
  EXPECT_EQ(out[2], project.GetAllChild()[0]);
  EXPECT_EQ(out[2001]->GetObjectID(), 4000) << "the deepest pair is numbered last";
  EXPECT_EQ(out.back(), project.GetAllChild()[1]);
  EXPECT_EQ(tip->GetDBDevice(), nullptr);
}

TEST_F(EntityTest, SetObjectFlagRules) {
  enum Place { Detached, InProject, InProjectWithDevice, Loading };
  const struct {
    const char* name;
    bool facade;
    Place place;
    unsigned int before;
    bool on;
    EGOBJECT_FLAG flag;
    unsigned int after;
  } cases[] = {
      {"swapped clears modified", true, InProjectWithDevice, M, true, S, S},
      {"modified clears swapped", true, InProjectWithDevice, S, true, M, M},
      {"no-modified blocks modified", true, InProjectWithDevice, M | N, true, M, M | N},
      {"no-modified blocks it, swapped stays", true, InProjectWithDevice, S | N, true, M, S | N},
      {"no-modified: other bits still set", true, InProjectWithDevice, N, true, M | R, N | R},
      {"loading blocks modified", true, Loading, S, true, M, S},
      {"both bits set together", true, InProjectWithDevice, 0, true, M | S, M | S},
      {"no-modified needs a device", true, InProject, S | N, true, M, M | N},
      {"no-modified needs a project", true, Detached, S | N, true, M, M | N},
      {"clearing clears only the bits", true, InProjectWithDevice, M | S | R, false, S | R, M},
      {"no facade: bits added", false, InProjectWithDevice, M, true, S, M | S},
      {"no facade: no-modified ignored", false, InProjectWithDevice, N, true, M, M | N},
  };
  for (const auto& c : cases) {
    CountedProject project;
    if (c.place >= InProjectWithDevice) project.SetProjectDBDevice(new RecordingDevice(&log));
    auto* e = new CountedEntity(5);
    std::unique_ptr<CountedEntity> detached(c.place == Detached ? e : nullptr);
    if (c.place != Detached) project.AddChild(e);
    if (c.place == Loading) project.GetProjectDBDevice()->GetContext().SetLoading(true);
    e->SetObjectFlag(false, M);  // the plain rules, without a facade
    e->SetObjectFlag(true, static_cast<EGOBJECT_FLAG>(c.before));
    ScopedFacade installed(c.facade ? &facade : nullptr);
    e->SetObjectFlag(c.on, c.flag);
    EXPECT_EQ(e->GetObjectFlags(), c.after) << c.name;
  }
  CountedEntity e;  // M
  e.SetObjectFlag(true, R);
  EXPECT_TRUE(e.HasObjectFlag(M | R));
  EXPECT_FALSE(e.HasObjectFlag(M | S)) << "every bit must be set";
  EXPECT_TRUE(e.HasObjectFlag(static_cast<EGOBJECT_FLAG>(0)));
  EXPECT_TRUE(log.empty());
}

TEST_F(EntityTest, DeleteChildRecordsIdOnlyUnderAllConditions) {
  const struct {
    const char* name;
    bool facade, flag, device, recordingOff, recorded;
  } cases[] = {
      {"all conditions", true, true, true, false, true},
      {"no facade", false, true, true, false, false},
      {"not flagged", true, false, true, false, false},
      {"no device", true, true, false, false, false},
      {"recording switched off", true, true, true, true, false},
  };
  for (const auto& c : cases) {
    CountedProject project;
    RecordingDevice* device = c.device ? new RecordingDevice(&log) : nullptr;
    project.SetProjectDBDevice(device);
    if (device) device->GetContext().SetRecordDeleteOff(c.recordingOff);
    IBaseEntity* victim = AddChildren(&project, {2, 9});
    AddChildren(&project, {3});
    if (c.flag) victim->SetObjectFlag(true, R);
    ScopedFacade installed(c.facade ? &facade : nullptr);
    EXPECT_TRUE(project.DeleteChild(victim)) << c.name;
    EXPECT_EQ(IdsOf(&project), (Ids{1, 2, 3})) << c.name;
    EXPECT_FALSE(project.DeleteChild(victim)) << c.name << ": second delete";
    if (device) {
      EXPECT_EQ(DeleteList(device), c.recorded ? Ids{9} : Ids{}) << c.name;
    }
  }
}

TEST_F(EntityTest, DescendantsAreRecordedInPreOrderButNotWithTheProject) {
  ScopedFacade installed(&facade);
  bool deviceDestroyed = false;
  bool replacementDestroyed = false;
  {
    CountedProject project;
    auto* device = new RecordingDevice(&log);
    device->destroyed = &deviceDestroyed;
    project.SetProjectDBDevice(device);
    // 9 -> 10 (not flagged) -> 12; 9 -> 11; then 30 and 31 beside 9.
    IBaseEntity* a = AddChildren(&project, {9});
    IBaseEntity* b = AddChildren(a, {10});
    AddChildren(b, {12});
    AddChildren(a, {11});
    AddChildren(&project, {30, 31});
    std::vector<IBaseEntity*> all;
    IBaseEntity::GetAllLeafChild(&project, all);
    for (IBaseEntity* e : all)
      if (e != b) e->SetObjectFlag(true, R);

    EXPECT_TRUE(project.DeleteChild(a));
    EXPECT_EQ(DeleteList(device), (Ids{9, 12, 11}));
    project.DeleteAllChild();
    EXPECT_TRUE(project.GetAllChild().empty());
    EXPECT_FALSE(project.DeleteChild(nullptr));
    EXPECT_EQ(DeleteList(device), (Ids{9, 12, 11, 30, 31}));

    // A device replaced by another is not destroyed: it is the caller's again.
    auto* replacement = new RecordingDevice(&log);
    replacement->destroyed = &replacementDestroyed;
    project.SetProjectDBDevice(replacement);
    EXPECT_FALSE(deviceDestroyed);
    delete device;
    // The project destroys its device first: the flagged child destroyed with
    // the project is not recorded (ASan would see the freed device touched).
    AddChildren(&project, {40})->SetObjectFlag(true, R);
  }
  EXPECT_TRUE(replacementDestroyed) << "the project owns its device";
}

TEST_F(EntityTest, ImplementationObjectIsCreatedOnceAndOwned) {
  IBaseEntity plain;
  ASSERT_NE(plain.GetBaseEntityImpl(true), nullptr) << "a plain implementation object";
  EXPECT_EQ(plain.GetBaseEntityImpl(false)->GetBaseEntity(), &plain);

  CountedEntity e;
  IBaseEntityImpl* impl = e.GetBaseEntityImpl(false);
  EXPECT_EQ(e.GetBaseEntityImpl(true), impl);
  auto* other = new CountedImpl;
  e.SetImplObject(other);
  EXPECT_EQ(test::g_liveImpls, 1) << "the former object is destroyed";
  EXPECT_EQ(other->GetBaseEntity(), &e);
  e.SetImplObject(other);
  EXPECT_EQ(e.GetBaseEntityImpl(false), other) << "setting the same object keeps it";
  e.SetImplObject(nullptr);
  EXPECT_EQ(test::g_liveImpls, 0);
}

class SwapTest : public EntityTest {
 protected:
  SwapTest() {
    project.SetProjectDBDevice(new RecordingDevice(&log));
    entity = AddChildren(&project, {1});  // id 2
    Value(entity) = 42;
    // The facade keeps swapped-out values in a "database" of its own.
    facade.onSwapOut = [this](IBaseEntity* e, GDBDevice*) { stored = Value(e); };
    facade.onLoadEntity = [this](IBaseEntity* e, GDBDevice*) { Value(e) = stored; };
  }
  static int& Value(IBaseEntity* e, bool load = false) {
    return static_cast<CountedImpl*>(e->GetBaseEntityImpl(load))->value;
  }
  CountedProject project;
  IBaseEntity* entity;
  int stored = 0;
};

TEST_F(SwapTest, SwapOutAndInThroughFacade) {
  // Without a facade nothing happens.
  entity->SwapDataToDisk();
  EXPECT_EQ(Value(entity), 42);
  EXPECT_EQ(entity->GetObjectFlags(), M);

  ScopedFacade installed(&facade);
  entity->SwapDataToDisk();
  EXPECT_EQ(stored, 42);
  EXPECT_EQ(entity->GetObjectFlags(), S) << "swapped, no longer modified";
  EXPECT_EQ(test::g_liveImpls, 0) << "the data was released";
  entity->SwapDataToDisk();  // no data in memory: nothing to write over the stored data
  auto* impl = static_cast<CountedImpl*>(entity->GetBaseEntityImpl(true));
  EXPECT_EQ(impl->value, 42);
  EXPECT_EQ(impl->GetBaseEntity(), entity);
  EXPECT_TRUE(entity->HasObjectFlag(S)) << "clearing the flag is the facade's business";
  EXPECT_EQ(entity->GetBaseEntityImpl(true), impl) << "an existing object is not loaded again";
  // Without `load`, an empty object is made and nothing is loaded.
  entity->SetImplObject(nullptr);
  EXPECT_EQ(Value(entity), 0);
  // Data that is not swapped out is written even when no object holds it.
  entity->SetImplObject(nullptr);
  entity->SetObjectFlag(true, M);
  entity->SwapDataToDisk();
  EXPECT_EQ(stored, 0);
  // An entity outside a project swaps with a null device.
  CountedEntity loose(77);
  Value(&loose) = 5;
  loose.SwapDataToDisk();
  EXPECT_EQ(Value(&loose, true), 5);
  EXPECT_EQ(log, (CallLog{"SwapOutEntityData 2 device", "LoadEntityData 2 device", "SwapOutEntityData 2 device",
                          "SwapOutEntityData 77 null", "LoadEntityData 77 null"}));
}

TEST_F(SwapTest, FailuresKeepTheData) {
  ScopedFacade installed(&facade);
  auto swapOut = facade.onSwapOut;
  facade.onSwapOut = [](IBaseEntity*, GDBDevice*) { throw std::runtime_error("disk full"); };
  EXPECT_THROW(entity->SwapDataToDisk(), std::runtime_error);
  EXPECT_EQ(Value(entity), 42);
  EXPECT_EQ(entity->GetObjectFlags(), M);

  facade.onSwapOut = swapOut;
  entity->SwapDataToDisk();
  auto load = facade.onLoadEntity;
  facade.onLoadEntity = [](IBaseEntity*, GDBDevice*) { throw std::runtime_error("database gone"); };
  EXPECT_THROW(entity->GetBaseEntityImpl(true), std::runtime_error);
  EXPECT_EQ(test::g_liveImpls, 0) << "no unfilled object stands for the stored data";
  facade.onLoadEntity = load;
  EXPECT_EQ(Value(entity, true), 42) << "the next call loads again";
  // Without a facade a swapped entity gets an empty object.
  SetIOFacade(nullptr);
  entity->SetImplObject(nullptr);
  EXPECT_EQ(Value(entity, true), 0) << "nothing is loaded";
}

}  // namespace
}  // namespace hux
