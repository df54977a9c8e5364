// Entity trees: ids in pre-order, flag rules, deletion recording, swapping
// data out and in, ownership.
#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <type_traits>
#include <vector>

#include <hux/object/dbdevice.h>
#include <hux/object/entity.h>
#include <hux/object/objtag.h>
#include <hux/object/project.h>

#include "object_test_util.h"

namespace hux {
namespace {

using test::CallLog;
using test::CountedEntity;
using test::CountedImpl;
using test::CountedProject;
using test::RecordingDevice;
using test::RecordingFacade;
using test::ScopedFacade;

static_assert(!std::is_copy_constructible_v<IBaseEntity> && !std::is_copy_assignable_v<IBaseEntity>);
static_assert(!std::is_copy_constructible_v<IBaseProject> && !std::is_copy_assignable_v<IBaseProject>);

constexpr EGOBJECT_FLAG M = EGOBJECT_MODIFIED;
constexpr EGOBJECT_FLAG S = EGOBJECT_SWAPPED;
constexpr EGOBJECT_FLAG R = EGOBJECT_RECORD_DELETE;
constexpr EGOBJECT_FLAG N = EGOBJECT_NO_MODIFIED;

std::vector<__int64> Ids(IBaseEntity* root) {
  std::vector<IBaseEntity*> all;
  IBaseEntity::GetAllLeafChild(root, all);
  std::vector<__int64> ids;
  for (IBaseEntity* e : all) ids.push_back(e->GetObjectID());
  return ids;
}

// x(y(w), z), all new; y gets `middleId`.
CountedEntity* Subtree(__int64 middleId = 1) {
  auto* x = new CountedEntity;
  auto* y = new CountedEntity(middleId);
  x->AddChild(y);
  y->AddChild(new CountedEntity);
  x->AddChild(new CountedEntity);
  return x;
}

std::vector<__int64> DeleteList(GDBDevice* device) {
  std::vector<__int64> ids;
  device->GetObjectsState().GetDeleteList(ids);
  return ids;
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
  RecordingFacade facade{&log};
};

// ---- ids -------------------------------------------------------------------

TEST_F(EntityTest, IdsFromProjectCounterInPreOrder) {
  enum Root { Project, ProjectWithDevice, ProjectLoading, PlainEntity };
  const struct {
    const char* name;
    Root root;
    __int64 middleId;
    std::vector<__int64> ids;  // of the added subtree, pre-order
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
    CountedEntity* x = Subtree(c.middleId);
    EXPECT_EQ(Ids(x), (std::vector<__int64>{1, c.middleId, 1, 1})) << c.name;
    root->AddChild(x);
    EXPECT_EQ(x->GetParent(), root.get());
    EXPECT_EQ(Ids(x), c.ids) << c.name;
    if (project) {
      EXPECT_EQ(project->GetLastUniqueID(), c.counter) << c.name;
    }
  }
  // Adding below an inner node of a project assigns an id too; a null child
  // is ignored.
  CountedProject project;
  project.AddChild(Subtree());
  IBaseEntity* inner = project.GetAllChild()[0]->GetAllChild()[0];
  inner->AddChild(new CountedEntity);
  inner->AddChild(nullptr);
  EXPECT_EQ(Ids(inner), (std::vector<__int64>{3, 4, 6}));
  EXPECT_EQ(inner->GetProject(), &project);
  EXPECT_TRUE(log.empty()) << "id assignment touches no device operation";
}

TEST_F(EntityTest, GetAllLeafChildAppendsPreOrderOfDeepTrees) {
  CountedProject project;
  IBaseEntity* tip = &project;
  for (int i = 0; i < 2000; ++i) {
    tip->AddChild(new CountedEntity);
    tip->AddChild(new CountedEntity);  // a leaf beside each inner node
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

// ---- flags -----------------------------------------------------------------

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
    std::unique_ptr<CountedEntity> detached;
    if (c.place == Detached)
      detached.reset(e);
    else
      project.AddChild(e);
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

// ---- deletion recording ----------------------------------------------------

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
    auto* keep1 = new CountedEntity;
    auto* victim = new CountedEntity(9);
    auto* keep2 = new CountedEntity;
    for (IBaseEntity* e : {keep1, victim, keep2}) project.AddChild(e);
    if (c.flag) victim->SetObjectFlag(true, R);
    ScopedFacade installed(c.facade ? &facade : nullptr);
    EXPECT_TRUE(project.DeleteChild(victim)) << c.name;
    EXPECT_EQ(project.GetAllChild(), (std::vector<IBaseEntity*>{keep1, keep2})) << c.name;
    EXPECT_FALSE(project.DeleteChild(victim)) << c.name << ": second delete";
    if (device) {
      EXPECT_EQ(DeleteList(device), c.recorded ? std::vector<__int64>{9} : std::vector<__int64>{}) << c.name;
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
    auto* a = new CountedEntity(9);
    auto* b = new CountedEntity(10);
    a->AddChild(b);
    b->AddChild(new CountedEntity(12));
    a->AddChild(new CountedEntity(11));
    project.AddChild(a);
    project.AddChild(new CountedEntity(30));
    project.AddChild(new CountedEntity(31));
    std::vector<IBaseEntity*> all;
    IBaseEntity::GetAllLeafChild(&project, all);
    for (IBaseEntity* e : all)
      if (e != b) e->SetObjectFlag(true, R);

    EXPECT_TRUE(project.DeleteChild(a));
    EXPECT_EQ(DeleteList(device), (std::vector<__int64>{9, 12, 11}));
    project.DeleteAllChild();
    EXPECT_TRUE(project.GetAllChild().empty());
    EXPECT_FALSE(project.DeleteChild(nullptr));
    EXPECT_EQ(DeleteList(device), (std::vector<__int64>{9, 12, 11, 30, 31}));

    // A device replaced by another is not destroyed: it is the caller's again.
    auto* replacement = new RecordingDevice(&log);
    replacement->destroyed = &replacementDestroyed;
    project.SetProjectDBDevice(replacement);
    EXPECT_FALSE(deviceDestroyed);
    delete device;
    // The project destroys its device first: the flagged child destroyed with
    // the project is not recorded (ASan would see the freed device touched).
    project.AddChild(new CountedEntity(40));
    project.GetAllChild()[0]->SetObjectFlag(true, R);
  }
  EXPECT_TRUE(replacementDestroyed) << "the project owns its device";
}

// ---- implementation object and swapping ------------------------------------

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
    device = new RecordingDevice(&log);
    project.SetProjectDBDevice(device);
    entity = new CountedEntity;
    project.AddChild(entity);  // id 2
    Value(entity) = 42;
    // The facade keeps swapped-out values in a "database" of its own.
    facade.onSwapOut = [this](IBaseEntity* e, GDBDevice*) { stored = Value(e); };
    facade.onLoadEntity = [this](IBaseEntity* e, GDBDevice*) { Value(e) = stored; };
  }
  static int& Value(IBaseEntity* e) { return static_cast<CountedImpl*>(e->GetBaseEntityImpl(false))->value; }

  CountedProject project;
  RecordingDevice* device;
  CountedEntity* entity;
  int stored = 0;
};

TEST_F(SwapTest, SwapOutAndInThroughFacade) {
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
  EXPECT_EQ(log, (CallLog{"SwapOutEntityData 2 device", "LoadEntityData 2 device"}));

  // Without `load`, an empty object is made and nothing is loaded.
  entity->SetImplObject(nullptr);
  EXPECT_EQ(Value(entity), 0);
  EXPECT_EQ(log.size(), 2u);

  // An entity outside a project swaps with a null device.
  CountedEntity loose(77);
  Value(&loose) = 5;
  loose.SwapDataToDisk();
  EXPECT_EQ(static_cast<CountedImpl*>(loose.GetBaseEntityImpl(true))->value, 5);
  EXPECT_EQ(log[2], "SwapOutEntityData 77 null");
  EXPECT_EQ(log[3], "LoadEntityData 77 null");
}

TEST_F(SwapTest, NothingHappensWithoutFacade) {
  entity->SwapDataToDisk();
  EXPECT_EQ(Value(entity), 42);
  EXPECT_EQ(entity->GetObjectFlags(), M);
  entity->SetImplObject(nullptr);
  entity->SetObjectFlag(true, S);
  EXPECT_EQ(static_cast<CountedImpl*>(entity->GetBaseEntityImpl(true))->value, 0) << "nothing is loaded";
  EXPECT_TRUE(log.empty());
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
  EXPECT_EQ(static_cast<CountedImpl*>(entity->GetBaseEntityImpl(true))->value, 42) << "the next call loads again";
}

TEST(ObjTag, EqualityNeedsIdAndPointer) {
  int p = 0, q = 0;
  EXPECT_TRUE(GObjTag(5, &p) == GObjTag(5, &p));
  EXPECT_FALSE(GObjTag(5, &p) == GObjTag(5, &q));
  EXPECT_FALSE(GObjTag(5, &p) == GObjTag(6, &p));
  GObjTag tag(5, &p);
  tag.Init();
  EXPECT_TRUE(tag == GObjTag(0, nullptr));
}

}  // namespace
}  // namespace hux
