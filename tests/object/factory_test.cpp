// The factory: merging of records, the name table and creation by code.
#include <hux/object/factory.h>

#include <gtest/gtest.h>

#include <hux/io/archive.h>
#include <hux/io/memstream.h>
#include <hux/object/base.h>

namespace hux {
namespace {

// Codes from a range no library type uses.
constexpr eXOMDataType kCode(int n) { return static_cast<eXOMDataType>(880000 + n); }

void* CreateInt(void const* src) { return new int(src ? *static_cast<const int*>(src) : 0); }
void DeleteInt(void* p) { delete static_cast<int*>(p); }
void SaveInt(GDbArchive& ar, void const* p) { ar << *static_cast<const int*>(p); }
void LoadInt(GDbArchive& ar, void* p) { ar >> *static_cast<int*>(p); }
void* CreateOther(void const*) { return new int(-1); }

TEST(Factory, RecordsAreCompletedNotReplaced) {
  // A code far out and one of the low codes every built-in kind uses.
  for (const eXOMDataType code : {kCode(1), static_cast<eXOMDataType>(1900)}) {
    SCOPED_TRACE(code);
    GBaseObjectFactory& f = GetBaseObjectFactory();
    sClassFunctionPtr first;
    first.createVoidObject = &CreateInt;
    first.deleteVoidObject = &DeleteInt;
    first.className = "first";
    f.RegitsterObjectPointers(code, first);
    sClassFunctionPtr second;
    second.saveObject = &SaveInt;
    second.loadObject = &LoadInt;
    second.className = "second";
    f.RegitsterObjectPointers(code, second);

    const sClassFunctionPtr* record = f.GetFunctionPtr(code);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->createVoidObject, &CreateInt);
    EXPECT_EQ(record->deleteVoidObject, &DeleteInt);
    EXPECT_EQ(record->saveObject, &SaveInt);
    EXPECT_EQ(record->loadObject, &LoadInt);
    EXPECT_EQ(record->className, "first") << "the first name stays";
    EXPECT_EQ(f.GetDataTypeByClassName("second"), code) << "but every name reaches the type";

    // A null function does not erase a stored one; a non-null one replaces it.
    sClassFunctionPtr third;
    third.createVoidObject = &CreateOther;
    f.RegitsterObjectPointers(code, sClassFunctionPtr{});
    EXPECT_EQ(f.GetFunctionPtr(code)->createVoidObject, &CreateInt);
    f.RegitsterObjectPointers(code, third);
    EXPECT_EQ(f.GetFunctionPtr(code), record) << "records keep their address";
    EXPECT_EQ(record->createVoidObject, &CreateOther);

    int* made = static_cast<int*>(f.CreateVoidObject(code));
    ASSERT_NE(made, nullptr);
    EXPECT_EQ(*made, -1);
    record->deleteVoidObject(made);
  }
}

TEST(Factory, NamesMapToTheLatestType) {
  GBaseObjectFactory& f = GetBaseObjectFactory();
  sClassFunctionPtr r;
  r.className = "factory_test::Shared";
  f.RegitsterObjectPointers(kCode(7), r);
  f.RegitsterObjectPointers(kCode(8), r);
  EXPECT_EQ(f.GetDataTypeByClassName("factory_test::Shared"), kCode(8));
  EXPECT_EQ(f.GetDataTypeByClassName("never registered"), DT_NONE);
  r.className.clear();
  f.RegitsterObjectPointers(kCode(9), r);
  EXPECT_EQ(f.GetDataTypeByClassName(""), kCode(9));
}

TEST(Factory, MissingTypesAndFunctionsGiveNull) {
  GBaseObjectFactory& f = GetBaseObjectFactory();
  for (int unknown : {880099, 1901, -5}) EXPECT_EQ(f.GetFunctionPtr(static_cast<eXOMDataType>(unknown)), nullptr);
  EXPECT_EQ(f.CreateVoidObject(kCode(99)), nullptr);
  EXPECT_EQ(f.CreateBaseObject(kCode(99)), nullptr);
  EXPECT_EQ(f.CreateRefObject(kCode(99)), nullptr);
  sClassFunctionPtr onlySave;
  onlySave.saveObject = &SaveInt;
  f.RegitsterObjectPointers(kCode(10), onlySave);
  EXPECT_EQ(f.CreateVoidObject(kCode(10)), nullptr);
  EXPECT_EQ(f.CreateRefObject(kCode(10)), nullptr);
}

TEST(Factory, MemoryStreamIsRegisteredAtLoad) {
  GBaseObjectFactory& f = GetBaseObjectFactory();
  EXPECT_EQ(f.GetDataTypeByClassName(FactoryClassName<GMemStream>()), DT_MEM_STREAM);
  EXPECT_EQ(f.CreateBaseObject(DT_MEM_STREAM), nullptr);

  CReferenced* ref = f.CreateRefObject(DT_MEM_STREAM);
  ASSERT_NE(ref, nullptr);
  EXPECT_EQ(ref->ReferenceCount(), 0);
  auto* stream = dynamic_cast<GMemStream*>(ref);
  ASSERT_NE(stream, nullptr);
  stream->Write(const_cast<char*>("abc"), 3);

  // Copy-create through the record, then destroy both through it.
  const sClassFunctionPtr* record = f.GetFunctionPtr(DT_MEM_STREAM);
  ASSERT_NE(record, nullptr);
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

TEST(Base, DefaultSerializeKeepsReadersAligned) {
  IBase base;
  EXPECT_EQ(base.GetObjectType(), DT_UNDEFINED);
  GMemStream mem(true, nullptr, 0);
  {
    GDbArchiveImpl ar(&mem);
    ar << base;
    ar << 9;
  }
  ASSERT_EQ(mem.GetDataSize(), 7u);
  mem.SetOpenMode(false);
  GDbArchiveImpl ar(&mem);
  ar >> base;
  int after = 0;
  ar >> after;
  EXPECT_EQ(after, 9);
}

}  // namespace
}  // namespace hux
