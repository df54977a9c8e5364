// The object factory: a process-wide registry from type code to the functions
// that create, copy, destroy, save and load objects of that type, and from
// class name to type code.
//
// Registrations are made by static GBaseObjectFactoryHelper objects at module
// load. A module may be loaded while other threads create objects: lookups and
// creations take no lock and are safe while registrations run on any thread.
// A record's fields are completed in place: a caller that reads them itself
// through GetFunctionPtr must not do so while another thread registers more
// functions for that same type (new types may be registered meanwhile).
// Create operations hand ownership to the caller.
#pragma once

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
  // Both tables empty. The process-wide factory is GetBaseObjectFactory().
  GBaseObjectFactory();
  ~GBaseObjectFactory();
  GBaseObjectFactory(const GBaseObjectFactory&) = delete;
  GBaseObjectFactory& operator=(const GBaseObjectFactory&) = delete;

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
  // The type and name indexes and the lock that serialises registrations.
  struct Tables;
  Tables* m_pTables;
};

// The one process-wide factory, created on first use and never destroyed
// (threads may still create objects while the process exits).
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
