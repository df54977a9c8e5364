// The database device's context flags and objects state, and the facade slot.
#include <gtest/gtest.h>

#include <vector>

#include <hux/object/dbdevice.h>

#include "object_test_util.h"

namespace hux {
namespace {

using test::CallLog;
using test::RecordingDevice;

static_assert(sizeof(IODeviceContext) == 16, "twelve one-byte flags and a 32-bit mode");

TEST(DBDevice, NewDeviceAndCopies) {
  const bool expected[12] = {false, false, false, false, false, true, false, false, true, false, true, true};
  CallLog log;
  RecordingDevice device(&log);
  for (int i = 0; i < 12; ++i) EXPECT_EQ(device.GetContext().GetFlag(i), expected[i]) << "flag " << i;
  EXPECT_FALSE(device.GetContext().IsLoading() || device.GetContext().IsSaving() ||
               device.GetContext().IsRecordDeleteOff());
  EXPECT_EQ(device.GetContext().GetMode(), 2);
  std::vector<__int64> ids{99};
  device.GetObjectsState().GetDeleteList(ids);
  EXPECT_TRUE(ids.empty());

  // Flags by index: 0 loading, 1 saving, 4 recording off; others ignored.
  device.GetContext().SetFlag(0, true);
  device.GetContext().SetFlag(4, true);
  device.GetContext().SetFlag(-1, true);
  device.GetContext().SetFlag(12, true);
  EXPECT_TRUE(device.GetContext().IsLoading() && device.GetContext().IsRecordDeleteOff());
  EXPECT_FALSE(device.GetContext().GetFlag(-1) || device.GetContext().GetFlag(12));
  device.GetContext().SetMode(0);
  device.GetObjectsState().RegisterDeleteObject(5);
  RecordingDevice copy(device);
  copy.GetObjectsState().GetDeleteList(ids);
  EXPECT_EQ(ids, std::vector<__int64>{5});
  EXPECT_TRUE(copy.GetContext().IsLoading() && copy.GetContext().IsRecordDeleteOff());
  EXPECT_EQ(copy.GetContext().GetMode(), 0);
}

TEST(DBDevice, LazyModifiedModeOnlyReplacesZero) {
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

TEST(DBDevice, ObjectsStateKeepsOrderAndDuplicates) {
  ::GObjectsState state;
  for (__int64 id : {7, 7, 3}) state.RegisterDeleteObject(id);
  std::vector<__int64> ids{1, 2, 3, 4};
  state.GetDeleteList(ids);
  EXPECT_EQ(ids, (std::vector<__int64>{7, 7, 3})) << "replaces the given contents";
  ::GObjectsState copy(state);
  state.ClearAllList();
  state.GetDeleteList(ids);
  EXPECT_TRUE(ids.empty());
  copy.GetDeleteList(ids);
  EXPECT_EQ(ids, (std::vector<__int64>{7, 7, 3})) << "a copy has its own list";
}

}  // namespace
}  // namespace hux
