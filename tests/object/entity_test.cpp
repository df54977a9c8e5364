// Entity trees: ids in pre-order and swapping data out and in.
#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
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

constexpr EGOBJECT_FLAG M = EGOBJECT_MODIFIED;
constexpr EGOBJECT_FLAG S = EGOBJECT_SWAPPED;

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

TEST_F(EntityTest, GetAllLeafChildAppendsPreOrderOfDeepTrees) {
  CountedProject project;
  IBaseEntity* tip = &project;
  for (int i = 0; i < 2000; ++i) {
    tip->AddChild(new CountedEntity);
    tip->AddChild(new CountedEntity(57));  // a stored id is kept
    tip->AddChild(nullptr);  // ignored
    tip = tip->GetAllChild()[0];
  }
  std::vector<IBaseEntity*> out{nullptr};
  IBaseEntity::GetAllLeafChild(&project, out);
  ASSERT_EQ(out.size(), 1u + 4001u) << "appends";
  EXPECT_EQ(out[2], project.GetAllChild()[0]);
  EXPECT_EQ(out[2000]->GetObjectID(), 2000) << "ids of the project's counter, in pre-order";
  EXPECT_EQ(out.back(), project.GetAllChild()[1]);
  EXPECT_EQ(out.back()->GetObjectID(), 57);
}

int& Value(IBaseEntity* e, bool load = false) { return static_cast<CountedImpl*>(e->GetBaseEntityImpl(load))->value; }

TEST_F(EntityTest, SwapOutAndInThroughFacadeAndFailuresKeepTheData) {
  CountedProject project;
  project.SetProjectDBDevice(new RecordingDevice(&log));
  IBaseEntity* entity = new CountedEntity;  // id 2
  project.AddChild(entity);
  Value(entity) = 42;
  int stored = 0;
  auto load = [&](IBaseEntity* e, GDBDevice*) { Value(e) = stored; };
  ScopedFacade installed(&facade);
  facade.onSwapOut = [](IBaseEntity*, GDBDevice*) { throw std::runtime_error("disk full"); };
  EXPECT_THROW(entity->SwapDataToDisk(), std::runtime_error);
  EXPECT_EQ(Value(entity), 42);
  EXPECT_EQ(entity->GetObjectFlags(), M);
  facade.onSwapOut = [&](IBaseEntity* e, GDBDevice*) { stored = Value(e); };
  entity->SwapDataToDisk();
  EXPECT_EQ(entity->GetObjectFlags(), S);
  EXPECT_EQ(test::g_liveImpls, 0) << "the data was released";
  entity->SwapDataToDisk();  // no data in memory: nothing to write over the stored data
  facade.onLoadEntity = [](IBaseEntity*, GDBDevice*) { throw std::runtime_error("database gone"); };
  EXPECT_THROW(entity->GetBaseEntityImpl(true), std::runtime_error);
  EXPECT_EQ(test::g_liveImpls, 0) << "no unfilled object stands for the stored data";
  facade.onLoadEntity = load;
  EXPECT_EQ(Value(entity, true), 42);
  entity->SetImplObject(nullptr);
  // Data that is not swapped out is written even when no object holds it.
  entity->SetObjectFlag(true, M);
  entity->SwapDataToDisk();
  EXPECT_EQ(stored, 0);
  EXPECT_EQ(log, (CallLog{"SwapOutEntityData 2 device", "SwapOutEntityData 2 device", "LoadEntityData 2 device",
                          "LoadEntityData 2 device", "SwapOutEntityData 2 device"}));
}

}  // namespace
}  // namespace hux
