// Registers the variant's owned value types with the factory at load: the
// narrow and wide strings (1001, 1002; copy and destroy in one record, save
// and load in another, merged by the factory) and the geometric values and
// file addresses (10, 11, 12, 16, 21; copy and destroy, not persisted).
#include <string>

#include <hux/io/archive.h>
#include <hux/object/factory.h>
#include <hux/value/geometry.h>

#include "value/value_records.h"

namespace hux {
namespace {

template <class T>
void SaveText(GDbArchive& archive, void const* object) {
  archive << *static_cast<const T*>(object);
}

template <class T>
void LoadText(GDbArchive& archive, void* object) {
  archive >> *static_cast<T*>(object);
}

template <class T>
sClassFunctionPtr CopyRecord() {
  sClassFunctionPtr record;
  record.createVoidObject = &detail::CreateCopy<T>;
  record.deleteVoidObject = &detail::DeleteObject<T>;
  record.className = FactoryClassName<T>();
  return record;
}

template <class T>
sClassFunctionPtr PersistRecord() {
  sClassFunctionPtr record;
  record.saveObject = &SaveText<T>;
  record.loadObject = &LoadText<T>;
  record.className = FactoryClassName<T>();
  return record;
}

const GBaseObjectFactoryHelper g_registerString(DT_STRING, CopyRecord<std::string>());
const GBaseObjectFactoryHelper g_registerStringIO(DT_STRING, PersistRecord<std::string>());
const GBaseObjectFactoryHelper g_registerWString(DT_WSTRING, CopyRecord<std::wstring>());
const GBaseObjectFactoryHelper g_registerWStringIO(DT_WSTRING, PersistRecord<std::wstring>());
const GBaseObjectFactoryHelper g_registerBox(DT_LOCAL_BOX, CopyRecord<LocalBox>());
const GBaseObjectFactoryHelper g_registerVec2(DT_LOCAL_VEC2D, CopyRecord<LocalVec2d>());
const GBaseObjectFactoryHelper g_registerVec3(DT_LOCAL_VEC3D, CopyRecord<LocalVec3d>());
const GBaseObjectFactoryHelper g_registerFileAddress(DT_FILE_ADDRESS, CopyRecord<FileAddress>());
const GBaseObjectFactoryHelper g_registerCoord(DT_LOCAL_COORD3D, CopyRecord<LocalCoord3d>());

}  // namespace
}  // namespace hux
