// The object factory: a process-wide registry from type code to the functions
// that create, copy, destroy, save and load objects of that type, and from
// class name to type code.
//
// Registrations are made by static GBaseObjectFactoryHelper objects at module
// load; the factory has no lock, so lookups from several threads are safe only
// while no registration runs. Create operations hand ownership to the caller.
#pragma once

#include <map>
#include <string>
#include <typeinfo>

#include <hux/export.h>
#include <hux/object/datatype.h>

namespace hux {

class CReferenced;
class GDbArchive;
class IBase;

// The functions of one type; any of them may be null (operation not offered).
struct sClassFunctionPtr {
  IBase* (*createBaseObject)() = nullptr;
  // A default object for a null source, else a copy of *source.
  void* (*createVoidObject)(void const* source) = nullptr;
  void (*deleteVoidObject)(void* object) = nullptr;
  void (*saveObject)(GDbArchive& archive, void const* object) = nullptr;
  void (*loadObject)(GDbArchive& archive, void* object) = nullptr;
  std::string className;
  // A new reference-counted object with count 0.
  CReferenced* (*createRefObject)() = nullptr;
};

class HUX_API GBaseObjectFactory {
 public:
  // Registers `record` for `type`, or completes the existing record with the
  // non-null functions of `record` (the first class name stays). The name
  // table maps record.className to `type` in every case.
  void RegitsterObjectPointers(eXOMDataType type, sClassFunctionPtr record);
  // The stored record (stable address), or null for an unregistered type.
  sClassFunctionPtr* GetFunctionPtr(eXOMDataType type);
  // Null when the type or its function is missing.
  void* CreateVoidObject(eXOMDataType type);
  IBase* CreateBaseObject(eXOMDataType type);
  CReferenced* CreateRefObject(eXOMDataType type);
  // The type registered last under `name`, or -1.
  eXOMDataType GetDataTypeByClassName(std::string const& name);

 private:
  std::map<eXOMDataType, sClassFunctionPtr> m_mapTypeFunctions;
  std::map<std::string, eXOMDataType> m_mapClassNameType;
};

// The one process-wide factory, created on first use.
HUX_API GBaseObjectFactory& GetBaseObjectFactory();

// A static instance registers one record at module load.
class HUX_API GBaseObjectFactoryHelper {
 public:
  GBaseObjectFactoryHelper(eXOMDataType type, sClassFunctionPtr record);
};

// The class name the factory uses for T: registration and lookup both take it
// from here, so the two always agree.
template <class T>
std::string FactoryClassName() {
  return typeid(T).name();
}

}  // namespace hux
