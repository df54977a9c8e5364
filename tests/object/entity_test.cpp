// Entity trees: ids in pre-order, flag rules, deletion recording, swapping
// data out and in, ownership.
#include <gtest/gtest.h>

#include <memory>
#include <string>
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
static_assert(std::is_copy_constructible_v<GObjTag> && std::is_copy_assignable_v<GObjTag>);

std::vector<__int64> Ids(IBaseEntity* root) {
  std::vector<IBaseEntity*> all;
  IBaseEntity::GetAllLeafChild(root, all);
  std::vector<__int64> ids;
  for (IBaseEntity* e : all) ids.push_back(e->GetObjectID());
  return ids;
}

// x(y(w), z): a detached subtree of four new entities.
CountedEntity* Subtree(CountedEntity** w = nullptr) {
  auto* x = new CountedEntity;
  auto* y = new CountedEntity;
  auto* ww = new CountedEntity;
  auto* z = new CountedEntity;
  x->AddChild(y);
  y->AddChild(ww);
  x->AddChild(z);
  if (w) *w = ww;
  return x;
}

class EntityTest : public ::testing::Test {
 protected:
  // Checked after the fixture's own members are gone.
  ~EntityTest() override {
    SetIOFacade(nullptr);
    EXPECT_EQ(test::g_liveEntities, 0) << "entities leaked or destroyed twice";
    EXPECT_EQ(test::g_liveImpls, 0) << "implementation objects leaked or destroyed twice";
  }
};

// ---- ids -------------------------------------------------------------------

TEST_F(EntityTest, NewEntityHasNoIdAndIsModified) {
  CountedEntity e;
  EXPECT_EQ(e.GetObjectID(), 1);
  EXPECT_EQ(e.GetObjectFlags(), EGOBJECT_MODIFIED);
  EXPECT_EQ(e.GetParent(), nullptr);
  EXPECT_TRUE(e.GetAllChild().empty());
}

TEST_F(EntityTest, AddingSubtreeUnderProjectAssignsIdsInPreOrder) {
  CountedProject project;
  EXPECT_EQ(project.GetUniqueID(), 2);
  EXPECT_EQ(project.GetUniqueID(), 3);
  CountedEntity* w = nullptr;
  CountedEntity* x = Subtree(&w);
  EXPECT_EQ(Ids(x), (std::vector<__int64>{1, 1, 1, 1})) << "no ids outside a project";
  project.AddChild(x);
  EXPECT_EQ(Ids(x), (std::vector<__int64>{4, 5, 6, 7}));
  EXPECT_EQ(project.GetLastUniqueID(), 7);
  EXPECT_EQ(x->GetParent(), &project);
  EXPECT_EQ(w->GetProject(), &project);

  // Adding below an inner node of the project also assigns ids.
  auto* late = new CountedEntity;
  w->AddChild(late);
  EXPECT_EQ(late->GetObjectID(), 8);
}

TEST_F(EntityTest, ThreeNewEntitiesUnderNewProjectGetTwoThreeFour) {
  CountedProject project;
  auto* a = new CountedEntity;
  a->AddChild(new CountedEntity);
  a->GetAllChild()[0]->AddChild(new CountedEntity);
  project.AddChild(a);
  EXPECT_EQ(Ids(a), (std::vector<__int64>{2, 3, 4}));
  EXPECT_EQ(project.GetLastUniqueID(), 4);
}

TEST_F(EntityTest, EntitiesWithIdsKeepThemAndDoNotAdvanceCounter) {
  // The id rule: only ids of 1 or less are replaced.
  const struct {
    __int64 stored;
    __int64 expected;
  } cases[] = {{57, 57}, {2, 2}, {1, 2}, {0, 2}, {-5, 2}};
  for (const auto& c : cases) {
    CountedProject project;
    project.AddChild(new CountedEntity(c.stored));
    EXPECT_EQ(project.GetAllChild()[0]->GetObjectID(), c.expected) << "stored " << c.stored;
    EXPECT_EQ(project.GetLastUniqueID(), c.expected == c.stored ? 1 : 2) << "stored " << c.stored;
  }
  // A stored id in the middle of a new subtree is skipped over.
  CountedProject project;
  CountedEntity* x = Subtree();
  x->GetAllChild()[0]->SetObjectID(57);
  project.AddChild(x);
  EXPECT_EQ(Ids(x), (std::vector<__int64>{2, 57, 3, 4}));
}

TEST_F(EntityTest, NoIdsWhileLoadingOrOutsideProject) {
  CallLog log;
  {
    CountedProject project;
    project.SetProjectDBDevice(new RecordingDevice(&log));
    project.GetProjectDBDevice()->GetContext().SetLoading(true);
    project.AddChild(Subtree());
    EXPECT_EQ(Ids(&project), (std::vector<__int64>{1, 1, 1, 1, 1}));
    EXPECT_EQ(project.GetLastUniqueID(), 1);
    // After loading, new entities get ids again.
    project.GetProjectDBDevice()->GetContext().SetLoading(false);
    project.AddChild(new CountedEntity);
    EXPECT_EQ(project.GetAllChild()[1]->GetObjectID(), 2);
  }
  {
    CountedEntity plainRoot;
    plainRoot.AddChild(Subtree());
    EXPECT_EQ(Ids(&plainRoot), (std::vector<__int64>{1, 1, 1, 1, 1}));
  }
  {
    // A project without a device assigns ids.
    CountedProject project;
    project.AddChild(new CountedEntity);
    EXPECT_EQ(project.GetAllChild()[0]->GetObjectID(), 2);
  }
  EXPECT_TRUE(log.empty()) << "id assignment touches no device operation";
}

TEST_F(EntityTest, GetAllLeafChildAppendsPreOrderIncludingInnerNodes) {
  CountedEntity root(10);
  CountedEntity* x = Subtree();
  root.AddChild(x);
  root.AddChild(new CountedEntity(20));
  std::vector<__int64> expectedIds = {10, 1, 1, 1, 1, 20};
  std::vector<IBaseEntity*> out{&root};  // appends, does not replace
  IBaseEntity::GetAllLeafChild(&root, out);
  ASSERT_EQ(out.size(), 7u);
  EXPECT_EQ(out[1], &root);
  EXPECT_EQ(out[2], x);
  EXPECT_EQ(out[3], x->GetAllChild()[0]);
  EXPECT_EQ(out[4], x->GetAllChild()[0]->GetAllChild()[0]);
  EXPECT_EQ(out[5], x->GetAllChild()[1]);
  EXPECT_EQ(out[6]->GetObjectID(), 20);
  IBaseEntity::GetAllLeafChild(nullptr, out);
  EXPECT_EQ(out.size(), 7u);
}

TEST_F(EntityTest, DeepChainIsCollectedWithoutRecursion) {
  // Deep enough that a recursive walk with a large frame would be costly;
  // the tree's destructor itself recurses, so the depth stays moderate.
  CountedProject project;
  IBaseEntity* tip = &project;
  for (int i = 0; i < 2000; ++i) {
    auto* e = new CountedEntity;
    tip->AddChild(e);
    tip = e;
  }
  std::vector<IBaseEntity*> all;
  IBaseEntity::GetAllLeafChild(&project, all);
  ASSERT_EQ(all.size(), 2001u);
  EXPECT_EQ(all.back(), tip);
  EXPECT_EQ(tip->GetObjectID(), 2001);
  EXPECT_EQ(tip->GetProject(), &project);
}

TEST_F(EntityTest, NullChildIsIgnored) {
  CountedProject project;
  project.AddChild(nullptr);
  EXPECT_TRUE(project.GetAllChild().empty());
  EXPECT_EQ(project.GetLastUniqueID(), 1);
}

// ---- flags -----------------------------------------------------------------

constexpr EGOBJECT_FLAG M = EGOBJECT_MODIFIED;
constexpr EGOBJECT_FLAG S = EGOBJECT_SWAPPED;
constexpr EGOBJECT_FLAG R = EGOBJECT_RECORD_DELETE;
constexpr EGOBJECT_FLAG N = EGOBJECT_NO_MODIFIED;
constexpr EGOBJECT_FLAG NONE = static_cast<EGOBJECT_FLAG>(0);

enum class Place { Detached, ProjectWithoutDevice, ProjectWithDevice, ProjectLoading };

TEST_F(EntityTest, SetObjectFlagRules) {
  const struct {
    const char* name;
    bool facade;
    Place place;
    unsigned int before;
    bool on;
    EGOBJECT_FLAG flag;
    unsigned int after;
  } cases[] = {
      {"swapped clears modified", true, Place::ProjectWithDevice, M, true, S, S},
      {"modified clears swapped", true, Place::ProjectWithDevice, S, true, M, M},
      {"no-modified blocks modified", true, Place::ProjectWithDevice, M | N, true, M, M | N},
      {"no-modified blocks modified, swapped stays", true, Place::ProjectWithDevice, S | N, true, M, S | N},
      {"no-modified: other bits still set", true, Place::ProjectWithDevice, N, true, M | R, N | R},
      {"loading blocks modified", true, Place::ProjectLoading, S, true, M, S},
      {"loading: swapped still clears modified", true, Place::ProjectLoading, M, true, S, S},
      {"both bits set together", true, Place::ProjectWithDevice, NONE, true, M | S, M | S},
      {"both bits over swapped", true, Place::ProjectWithDevice, S, true, M | S, M | S},
      {"no-modified needs a device", true, Place::ProjectWithoutDevice, S | N, true, M, M | N},
      {"no-modified needs a project", true, Place::Detached, S | N, true, M, M | N},
      {"record-delete only adds", true, Place::ProjectWithDevice, M, true, R, M | R},
      {"clearing clears only the bits", true, Place::ProjectWithDevice, M | S | R, false, S | R, M},
      {"no facade: bits added", false, Place::ProjectWithDevice, M, true, S, M | S},
      {"no facade: no-modified ignored", false, Place::ProjectWithDevice, N, true, M, M | N},
      {"no facade: clearing", false, Place::Detached, M | S, false, M, S},
  };
  CallLog log;
  RecordingFacade facade(&log);
  for (const auto& c : cases) {
    CountedProject project;
    if (c.place == Place::ProjectWithDevice || c.place == Place::ProjectLoading)
      project.SetProjectDBDevice(new RecordingDevice(&log));
    auto* e = new CountedEntity(5);
    std::unique_ptr<CountedEntity> detached;
    if (c.place == Place::Detached)
      detached.reset(e);
    else
      project.AddChild(e);
    if (c.place == Place::ProjectLoading) project.GetProjectDBDevice()->GetContext().SetLoading(true);
    // Bring the entity to its starting flags with the plain rules.
    e->SetObjectFlag(false, static_cast<EGOBJECT_FLAG>(0xFu));
    SetIOFacade(nullptr);
    e->SetObjectFlag(true, static_cast<EGOBJECT_FLAG>(c.before));
    ASSERT_EQ(e->GetObjectFlags(), c.before) << c.name;
    SetIOFacade(c.facade ? &facade : nullptr);
    e->SetObjectFlag(c.on, c.flag);
    EXPECT_EQ(e->GetObjectFlags(), c.after) << c.name;
    SetIOFacade(nullptr);
  }
  EXPECT_TRUE(log.empty());
}

TEST_F(EntityTest, HasObjectFlagNeedsEveryBit) {
  CountedEntity e;
  e.SetObjectFlag(true, R);  // M | R
  EXPECT_TRUE(e.HasObjectFlag(M));
  EXPECT_TRUE(e.HasObjectFlag(M | R));
  EXPECT_FALSE(e.HasObjectFlag(M | S));
  EXPECT_FALSE(e.HasObjectFlag(N));
  EXPECT_TRUE(e.HasObjectFlag(NONE));
}

// ---- deletion recording ----------------------------------------------------

std::vector<__int64> DeleteList(GDBDevice* device) {
  std::vector<__int64> ids;
  device->GetObjectsState().GetDeleteList(ids);
  return ids;
}

TEST_F(EntityTest, DeleteChildRecordsIdOnlyUnderAllConditions) {
  const struct {
    const char* name;
    bool facade;
    bool flag;
    bool device;
    bool recordingOff;
    bool recorded;
  } cases[] = {
      {"all conditions", true, true, true, false, true},
      {"no facade", false, true, true, false, false},
      {"not flagged", true, false, true, false, false},
      {"no device", true, true, false, false, false},
      {"recording switched off", true, true, true, true, false},
  };
  CallLog log;
  RecordingFacade facade(&log);
  for (const auto& c : cases) {
    CountedProject project;
    RecordingDevice* device = c.device ? new RecordingDevice(&log) : nullptr;
    project.SetProjectDBDevice(device);
    if (device) device->GetContext().SetRecordDeleteOff(c.recordingOff);
    auto* keep1 = new CountedEntity;
    auto* victim = new CountedEntity(9);
    auto* keep2 = new CountedEntity;
    project.AddChild(keep1);
    project.AddChild(victim);
    project.AddChild(keep2);
    if (c.flag) victim->SetObjectFlag(true, R);
    ScopedFacade installed(c.facade ? &facade : nullptr);
    EXPECT_TRUE(project.DeleteChild(victim)) << c.name;
    EXPECT_EQ(project.GetAllChild(), (std::vector<IBaseEntity*>{keep1, keep2})) << c.name;
    EXPECT_FALSE(project.DeleteChild(victim)) << c.name << ": second delete";
    if (device) {
      EXPECT_EQ(DeleteList(device), c.recorded ? std::vector<__int64>{9} : std::vector<__int64>{}) << c.name;
    }
  }
  EXPECT_TRUE(log.empty());
}

TEST_F(EntityTest, DeletingSubtreeRecordsFlaggedDescendantsInPreOrder) {
  CallLog log;
  RecordingFacade facade(&log);
  CountedProject project;
  auto* device = new RecordingDevice(&log);
  project.SetProjectDBDevice(device);
  // 9 (flagged) -> 10 (not flagged) -> 12 (flagged); 9 -> 11 (flagged)
  auto* a = new CountedEntity(9);
  auto* b = new CountedEntity(10);
  auto* c = new CountedEntity(12);
  auto* d = new CountedEntity(11);
  a->AddChild(b);
  b->AddChild(c);
  a->AddChild(d);
  project.AddChild(a);
  for (IBaseEntity* e : {static_cast<IBaseEntity*>(a), static_cast<IBaseEntity*>(c), static_cast<IBaseEntity*>(d)})
    e->SetObjectFlag(true, R);
  ScopedFacade installed(&facade);
  EXPECT_TRUE(project.DeleteChild(a));
  EXPECT_EQ(DeleteList(device), (std::vector<__int64>{9, 12, 11}));
  EXPECT_EQ(test::g_liveEntities, 1) << "only the project is left";
}

TEST_F(EntityTest, DeleteAllChildRecordsInOrderAndEmpties) {
  CallLog log;
  RecordingFacade facade(&log);
  CountedProject project;
  auto* device = new RecordingDevice(&log);
  project.SetProjectDBDevice(device);
  for (__int64 id : {30, 31, 32}) {
    auto* e = new CountedEntity(id);
    e->SetObjectFlag(true, R);
    project.AddChild(e);
  }
  ScopedFacade installed(&facade);
  project.DeleteAllChild();
  EXPECT_TRUE(project.GetAllChild().empty());
  EXPECT_EQ(DeleteList(device), (std::vector<__int64>{30, 31, 32}));
  EXPECT_FALSE(project.DeleteChild(nullptr)) << "empty children";
}

TEST_F(EntityTest, DestroyingProjectRecordsNoDeletions) {
  CallLog log;
  RecordingFacade facade(&log);
  bool deviceDestroyed = false;
  {
    ScopedFacade installed(&facade);  // still installed while the project goes
    CountedProject project;
    auto* device = new RecordingDevice(&log);
    device->destroyed = &deviceDestroyed;
    project.SetProjectDBDevice(device);
    auto* e = new CountedEntity(9);
    e->SetObjectFlag(true, R);
    project.AddChild(e);
  }
  EXPECT_TRUE(deviceDestroyed) << "the project owns its device";
}

TEST_F(EntityTest, SetProjectDBDeviceDoesNotDestroyFormerDevice) {
  CallLog log;
  bool firstDestroyed = false;
  bool secondDestroyed = false;
  auto* first = new RecordingDevice(&log);
  first->destroyed = &firstDestroyed;
  {
    CountedProject project;
    project.SetProjectDBDevice(first);
    auto* second = new RecordingDevice(&log);
    second->destroyed = &secondDestroyed;
    project.SetProjectDBDevice(second);
    EXPECT_FALSE(firstDestroyed);
  }
  EXPECT_TRUE(secondDestroyed);
  EXPECT_FALSE(firstDestroyed);
  delete first;
}

// ---- implementation object and swapping ------------------------------------

TEST_F(EntityTest, ImplementationObjectIsCreatedOnceAndOwned) {
  CountedEntity e;
  IBaseEntityImpl* impl = e.GetBaseEntityImpl(false);
  ASSERT_NE(impl, nullptr);
  EXPECT_EQ(impl->GetBaseEntity(), &e);
  EXPECT_EQ(e.GetBaseEntityImpl(true), impl);
  EXPECT_EQ(test::g_liveImpls, 1);

  auto* other = new CountedImpl;
  e.SetImplObject(other);
  EXPECT_EQ(test::g_liveImpls, 1) << "the former object is destroyed";
  EXPECT_EQ(other->GetBaseEntity(), &e);
  e.SetImplObject(other);
  EXPECT_EQ(test::g_liveImpls, 1) << "setting the same object keeps it";
  EXPECT_EQ(e.GetBaseEntityImpl(false), other);
  e.SetImplObject(nullptr);
  EXPECT_EQ(test::g_liveImpls, 0);
}

TEST_F(EntityTest, PlainEntityCreatesPlainImplementation) {
  IBaseEntity e;
  IBaseEntityImpl* impl = e.GetBaseEntityImpl(true);
  ASSERT_NE(impl, nullptr);
  EXPECT_EQ(impl->GetBaseEntity(), &e);
}

class SwapTest : public EntityTest {
 protected:
  SwapTest() : facade(&log) {
    device = new RecordingDevice(&log);
    project.SetProjectDBDevice(device);
    entity = new CountedEntity;
    project.AddChild(entity);  // id 2
    static_cast<CountedImpl*>(entity->GetBaseEntityImpl(false))->value = 42;
    // The facade keeps swapped-out values in a "database" of its own.
    facade.onSwapOut = [this](IBaseEntity* e, GDBDevice*) {
      stored = static_cast<CountedImpl*>(e->GetBaseEntityImpl(false))->value;
    };
    facade.onLoadEntity = [this](IBaseEntity* e, GDBDevice*) {
      static_cast<CountedImpl*>(e->GetBaseEntityImpl(false))->value = stored;
    };
  }
  CallLog log;
  RecordingFacade facade;
  CountedProject project;
  RecordingDevice* device;
  CountedEntity* entity;
  int stored = 0;
};

TEST_F(SwapTest, SwapOutAndInThroughFacade) {
  ScopedFacade installed(&facade);
  entity->SwapDataToDisk();
  EXPECT_EQ(log, (CallLog{"SwapOutEntityData 2 device"}));
  EXPECT_EQ(stored, 42);
  EXPECT_EQ(entity->GetObjectFlags(), S) << "swapped, no longer modified";
  EXPECT_EQ(test::g_liveImpls, 0) << "the data was released";

  log.clear();
  auto* impl = static_cast<CountedImpl*>(entity->GetBaseEntityImpl(true));
  EXPECT_EQ(log, (CallLog{"LoadEntityData 2 device"}));
  EXPECT_EQ(impl->value, 42);
  EXPECT_EQ(impl->GetBaseEntity(), entity);
  // Clearing EGOBJECT_SWAPPED is the facade's business; the library leaves it.
  EXPECT_TRUE(entity->HasObjectFlag(S));
  // An existing object is returned without loading again.
  EXPECT_EQ(entity->GetBaseEntityImpl(true), impl);
  EXPECT_EQ(log.size(), 1u);
}

TEST_F(SwapTest, GetWithoutLoadDoesNotCallFacade) {
  ScopedFacade installed(&facade);
  entity->SwapDataToDisk();
  log.clear();
  auto* impl = static_cast<CountedImpl*>(entity->GetBaseEntityImpl(false));
  EXPECT_TRUE(log.empty());
  EXPECT_EQ(impl->value, 0);
}

TEST_F(SwapTest, NothingHappensWithoutFacade) {
  entity->SwapDataToDisk();
  EXPECT_EQ(test::g_liveImpls, 1);
  EXPECT_EQ(entity->GetObjectFlags(), M);
  // A swapped flag without a facade loads nothing.
  entity->SetImplObject(nullptr);
  entity->SetObjectFlag(true, S);
  EXPECT_EQ(static_cast<CountedImpl*>(entity->GetBaseEntityImpl(true))->value, 0);
  EXPECT_TRUE(log.empty());
}

TEST_F(SwapTest, SwappingOutTwiceKeepsStoredData) {
  ScopedFacade installed(&facade);
  entity->SwapDataToDisk();
  entity->SwapDataToDisk();
  EXPECT_EQ(log, (CallLog{"SwapOutEntityData 2 device"})) << "no data in memory: nothing to write";
  EXPECT_EQ(stored, 42);
  EXPECT_EQ(static_cast<CountedImpl*>(entity->GetBaseEntityImpl(true))->value, 42);
}

TEST_F(SwapTest, EntityWithoutDataIsSwappedOnce) {
  ScopedFacade installed(&facade);
  auto* fresh = new CountedEntity;
  project.AddChild(fresh);  // id 3, no implementation object yet
  facade.onSwapOut = nullptr;
  fresh->SwapDataToDisk();
  EXPECT_EQ(log, (CallLog{"SwapOutEntityData 3 device"}));
  EXPECT_EQ(fresh->GetObjectFlags(), S);
}

TEST_F(SwapTest, FailedLoadLeavesNoHalfFilledObject) {
  ScopedFacade installed(&facade);
  entity->SwapDataToDisk();
  facade.onLoadEntity = [](IBaseEntity*, GDBDevice*) { throw std::runtime_error("database gone"); };
  EXPECT_THROW(entity->GetBaseEntityImpl(true), std::runtime_error);
  EXPECT_EQ(test::g_liveImpls, 0);
  facade.onLoadEntity = [this](IBaseEntity* e, GDBDevice*) {
    static_cast<CountedImpl*>(e->GetBaseEntityImpl(false))->value = stored;
  };
  EXPECT_EQ(static_cast<CountedImpl*>(entity->GetBaseEntityImpl(true))->value, 42) << "the next call loads again";
}

TEST_F(SwapTest, FailedSwapOutKeepsData) {
  ScopedFacade installed(&facade);
  facade.onSwapOut = [](IBaseEntity*, GDBDevice*) { throw std::runtime_error("disk full"); };
  EXPECT_THROW(entity->SwapDataToDisk(), std::runtime_error);
  EXPECT_EQ(static_cast<CountedImpl*>(entity->GetBaseEntityImpl(false))->value, 42);
  EXPECT_EQ(entity->GetObjectFlags(), M);
}

TEST_F(SwapTest, EntityOutsideProjectSwapsWithNullDevice) {
  ScopedFacade installed(&facade);
  CountedEntity loose(77);
  static_cast<CountedImpl*>(loose.GetBaseEntityImpl(false))->value = 5;
  loose.SwapDataToDisk();
  EXPECT_EQ(stored, 5);
  EXPECT_EQ(static_cast<CountedImpl*>(loose.GetBaseEntityImpl(true))->value, 5);
  EXPECT_EQ(log, (CallLog{"SwapOutEntityData 77 null", "LoadEntityData 77 null"}));
}

// ---- GObjTag ---------------------------------------------------------------

TEST(ObjTag, EqualityNeedsIdAndPointer) {
  int p = 0;
  int q = 0;
  const struct {
    GObjTag a, b;
    bool equal;
  } cases[] = {
      {GObjTag(5, &p), GObjTag(5, &p), true},
      {GObjTag(5, &p), GObjTag(5, &q), false},
      {GObjTag(5, &p), GObjTag(6, &p), false},
      {GObjTag(), GObjTag(0, nullptr), true},
  };
  for (const auto& c : cases) EXPECT_EQ(c.a == c.b, c.equal);

  GObjTag tag(5, &p);
  GObjTag copy(tag);
  EXPECT_TRUE(copy == tag);
  GObjTag assigned;
  assigned = tag;
  EXPECT_TRUE(assigned == tag);
  assigned.Init();
  EXPECT_TRUE(assigned == GObjTag());
  EXPECT_EQ(tag.GetObjectType(), DT_UNDEFINED);
}

}  // namespace
}  // namespace hux
