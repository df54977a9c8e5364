// The database device's context flags and objects state, and the facade slot.
#include <gtest/gtest.h>

#include <vector>

#include <hux/object/dbdevice.h>

#include "object_test_util.h"

namespace hux {
namespace {

using test::CallLog;
using test::RecordingDevice;
using test::RecordingFacade;

static_assert(sizeof(IODeviceContext) == 16, "twelve one-byte flags and a 32-bit mode");

TEST(DeviceContext, ConstructionValues) {
  const bool expected[12] = {false, false, false, false, false, true, false, false, true, false, true, true};
  CallLog log;
  RecordingDevice device(&log);
  IODeviceContext& c = device.GetContext();
  for (int i = 0; i < 12; ++i) EXPECT_EQ(c.GetFlag(i), expected[i]) << "flag " << i;
  EXPECT_FALSE(c.IsLoading());
  EXPECT_FALSE(c.IsSaving());
  EXPECT_FALSE(c.IsRecordDeleteOff());
  EXPECT_EQ(c.GetMode(), 2);
  std::vector<__int64> ids{99};
  device.GetObjectsState().GetDeleteList(ids);
  EXPECT_TRUE(ids.empty());
}

TEST(DeviceContext, FlagsByIndexAndName) {
  IODeviceContext c;
  c.SetFlag(IODeviceContext::FLAG_LOADING, true);
  c.SetSaving(true);
  c.SetFlag(4, true);
  EXPECT_TRUE(c.IsLoading());
  EXPECT_TRUE(c.GetFlag(1));
  EXPECT_TRUE(c.IsRecordDeleteOff());
  // Indices outside 0..11 are ignored and read false.
  c.SetFlag(-1, true);
  c.SetFlag(12, true);
  EXPECT_FALSE(c.GetFlag(-1));
  EXPECT_FALSE(c.GetFlag(12));
  IODeviceContext copy;
  copy = c;
  for (int i = 0; i < 12; ++i) EXPECT_EQ(copy.GetFlag(i), c.GetFlag(i)) << "flag " << i;
}

TEST(DeviceContext, LazyModifiedModeOnlyReplacesZero) {
  const struct {
    int before, after;
  } cases[] = {{0, 2}, {1, 1}, {2, 2}, {3, 3}, {-1, -1}};
  for (const auto& c : cases) {
    IODeviceContext context;
    context.SetMode(c.before);
    context.SetNeedLazyCaculateModified();
    EXPECT_EQ(context.GetMode(), c.after) << "mode " << c.before;
  }
}

TEST(ObjectsState, KeepsOrderAndDuplicates) {
  ::GObjectsState state;
  for (__int64 id : {7, 7, 3}) state.RegisterDeleteObject(id);
  std::vector<__int64> ids{1, 2, 3, 4};
  state.GetDeleteList(ids);
  EXPECT_EQ(ids, (std::vector<__int64>{7, 7, 3}));
  ::GObjectsState copy(state);
  state.ClearAllList();
  state.GetDeleteList(ids);
  EXPECT_TRUE(ids.empty());
  copy.GetDeleteList(ids);
  EXPECT_EQ(ids, (std::vector<__int64>{7, 7, 3})) << "a copy has its own list";
}

TEST(DBDevice, CopyCopiesContextAndObjectsState) {
  CallLog log;
  RecordingDevice a(&log);
  a.GetContext().SetLoading(true);
  a.GetContext().SetMode(0);
  a.GetObjectsState().RegisterDeleteObject(5);
  RecordingDevice b(a);
  std::vector<__int64> ids;
  b.GetObjectsState().GetDeleteList(ids);
  EXPECT_EQ(ids, std::vector<__int64>{5});
  EXPECT_TRUE(b.GetContext().IsLoading());
  EXPECT_EQ(b.GetContext().GetMode(), 0);
}

TEST(IOFacade, InstalledFacadeIsReturnedAndNotOwned) {
  EXPECT_EQ(GetIOFacade(), nullptr) << "no facade until the host installs one";
  CallLog log;
  {
    RecordingFacade first(&log);
    RecordingFacade second(&log);
    SetIOFacade(&first);
    EXPECT_EQ(GetIOFacade(), &first);
    SetIOFacade(&second);
    EXPECT_EQ(GetIOFacade(), &second);
    SetIOFacade(nullptr);
  }
  EXPECT_EQ(GetIOFacade(), nullptr);
  EXPECT_TRUE(log.empty()) << "installing calls no facade operation";
}

}  // namespace
}  // namespace hux
