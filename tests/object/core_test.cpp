// The factory's records and names, the device's flags and objects state, tags and the default archive form.
#include <hux/object/factory.h>

#include <gtest/gtest.h>

#include <type_traits>
#include <utility>
#include <vector>

#include <hux/io/archive.h>
#include <hux/io/memstream.h>
#include <hux/object/base.h>
#include <hux/object/dbdevice.h>
#include <hux/object/objtag.h>
#include <hux/object/referenced.h>

#include "object_test_util.h"

namespace hux {
namespace {

static_assert(!std::is_destructible_v<CReferenced>, "only Unref or SignalAndDelete may destroy an object");
static_assert(sizeof(IODeviceContext) == 16, "twelve one-byte flags and a 32-bit mode");

constexpr eXOMDataType kCode(int n) { return static_cast<eXOMDataType>(880000 + n); }  // no library type's
void* CreateInt(void const* src) { return new int(src ? *static_cast<const int*>(src) : 0); }
void SaveInt(GDbArchive& ar, void const* p) { ar << *static_cast<const int*>(p); }
void* CreateOther(void const*) { return new int(-1); }

TEST(Factory, RecordsAreCompletedNotReplacedAndTheMemoryStreamIsThere) {
  GBaseObjectFactory& f = GetBaseObjectFactory();
  for (const eXOMDataType code : {kCode(1), static_cast<eXOMDataType>(1900)}) {
    sClassFunctionPtr first, second;
    first.createVoidObject = &CreateInt;
    first.className = "first";
    second.saveObject = &SaveInt;
    second.className = "second";
    f.RegitsterObjectPointers(code, first);
    f.RegitsterObjectPointers(code, second);
    const sClassFunctionPtr* record = f.GetFunctionPtr(code);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->createVoidObject, &CreateInt);
    EXPECT_EQ(record->saveObject, &SaveInt);
    EXPECT_EQ(record->className, "first") << "the first name stays";
    EXPECT_EQ(f.GetDataTypeByClassName("second"), code) << "but every name reaches the type";
    f.RegitsterObjectPointers(code, sClassFunctionPtr{});  // null functions erase nothing
    second.createVoidObject = &CreateOther;
    f.RegitsterObjectPointers(code, second);
    EXPECT_EQ(f.GetFunctionPtr(code), record) << "records keep their address";
    int* made = static_cast<int*>(f.CreateVoidObject(code));
    EXPECT_EQ(*made, -1);
    delete made;
  }
  for (int unknown : {880099, 1901, -5}) EXPECT_EQ(f.GetFunctionPtr(static_cast<eXOMDataType>(unknown)), nullptr);
  EXPECT_EQ(f.CreateVoidObject(kCode(99)), nullptr);
  EXPECT_EQ(f.CreateRefObject(kCode(99)), nullptr);
  EXPECT_EQ(f.GetDataTypeByClassName("never registered"), DT_NONE);
  // The memory stream is registered at load.
  EXPECT_EQ(f.GetDataTypeByClassName(FactoryClassName<GMemStream>()), DT_MEM_STREAM);
  EXPECT_EQ(f.CreateBaseObject(DT_MEM_STREAM), nullptr);
  CReferenced* ref = f.CreateRefObject(DT_MEM_STREAM);
  auto* stream = dynamic_cast<GMemStream*>(ref);
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(ref->ReferenceCount(), 0);
  stream->Write(const_cast<char*>("abc"), 3);
  const sClassFunctionPtr* record = f.GetFunctionPtr(DT_MEM_STREAM);
  auto* copy = static_cast<GMemStream*>(record->createVoidObject(stream));
  EXPECT_EQ(copy->pos(), 3);
  EXPECT_EQ(std::string(copy->GetData(), 3), "abc");
  record->deleteVoidObject(copy);
  auto* fresh = static_cast<GMemStream*>(f.CreateVoidObject(DT_MEM_STREAM));
  EXPECT_EQ(fresh->GetCapacity(), 0u);
  record->deleteVoidObject(fresh);
  ref->Ref();
  ref->Unref();
}

TEST(DBDevice, FlagsModeAndObjectsState) {
  test::CallLog log;
  test::RecordingDevice device(&log);
  IODeviceContext& context = device.GetContext();
  const bool expected[12] = {false, false, false, false, false, true, false, false, true, false, true, true};
  for (int i = 0; i < 12; ++i) EXPECT_EQ(context.GetFlag(i), expected[i]) << "flag " << i;
  EXPECT_EQ(context.GetMode(), 2);
  for (int i : {0, 4, -1, 12}) context.SetFlag(i, true);  // 0 loading, 4 recording off; others ignored
  EXPECT_TRUE(context.IsLoading() && context.IsRecordDeleteOff() && !context.IsSaving());
  EXPECT_FALSE(context.GetFlag(-1) || context.GetFlag(12));
  for (__int64 id : {7, 7, 3}) device.GetObjectsState().RegisterDeleteObject(id);
  test::RecordingDevice copy(device);  // with a list of its own
  device.GetObjectsState().ClearAllList();
  std::vector<__int64> ids{1, 2, 3, 4};
  copy.GetObjectsState().GetDeleteList(ids);
  EXPECT_EQ(ids, (std::vector<__int64>{7, 7, 3}));
  device.GetObjectsState().GetDeleteList(ids);
  EXPECT_TRUE(ids.empty());
  for (auto [before, after] : {std::pair{0, 2}, {1, 1}, {3, 3}, {-1, -1}}) {
    IODeviceContext c;
    c.SetMode(before);
    c.SetNeedLazyCaculateModified();
    EXPECT_EQ(c.GetMode(), after) << "the lazy mode only replaces 0, not " << before;
  }
}

TEST(Base, TagsAndTheDefaultArchiveForm) {
  int p = 0, q = 0;
  EXPECT_TRUE(GObjTag(5, &p) == GObjTag(5, &p));
  EXPECT_FALSE(GObjTag(5, &p) == GObjTag(5, &q));
  EXPECT_FALSE(GObjTag(5, &p) == GObjTag(6, &p));

  IBase base;
  EXPECT_EQ(base.GetObjectType(), DT_UNDEFINED);
  GMemStream mem(true, nullptr, 0);
  {
    GDbArchiveImpl ar(&mem);
    ar << base << 9;
  }
  ASSERT_EQ(mem.GetDataSize(), 7u);  // an empty object of 3 bytes
  mem.SetOpenMode(false);
  GDbArchiveImpl ar(&mem);
  int after = 0;
  ar >> base >> after;
  EXPECT_EQ(after, 9);
}

}  // namespace
}  // namespace hux
