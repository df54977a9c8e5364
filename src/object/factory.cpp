#include <hux/object/factory.h>

namespace hux {

// Never destroyed: threads that the host leaves running may still create
// objects while the process exits.
GBaseObjectFactory& GetBaseObjectFactory() {
  static GBaseObjectFactory* factory = new GBaseObjectFactory;
  return *factory;
}

GBaseObjectFactoryHelper::GBaseObjectFactoryHelper(eXOMDataType type, sClassFunctionPtr record) {
  GetBaseObjectFactory().RegitsterObjectPointers(type, std::move(record));
}

void GBaseObjectFactory::RegitsterObjectPointers(eXOMDataType type, sClassFunctionPtr record) {
  m_mapClassNameType[record.className] = type;
  auto it = m_mapTypeFunctions.find(type);
  if (it == m_mapTypeFunctions.end()) {
    m_mapTypeFunctions.emplace(type, std::move(record));
    return;
  }
  sClassFunctionPtr& stored = it->second;
  if (record.createBaseObject) stored.createBaseObject = record.createBaseObject;
  if (record.createVoidObject) stored.createVoidObject = record.createVoidObject;
  if (record.deleteVoidObject) stored.deleteVoidObject = record.deleteVoidObject;
  if (record.saveObject) stored.saveObject = record.saveObject;
  if (record.loadObject) stored.loadObject = record.loadObject;
  if (record.createRefObject) stored.createRefObject = record.createRefObject;
}

sClassFunctionPtr* GBaseObjectFactory::GetFunctionPtr(eXOMDataType type) {
  auto it = m_mapTypeFunctions.find(type);
  return it == m_mapTypeFunctions.end() ? nullptr : &it->second;
}

void* GBaseObjectFactory::CreateVoidObject(eXOMDataType type) {
  const sClassFunctionPtr* record = GetFunctionPtr(type);
  return record && record->createVoidObject ? record->createVoidObject(nullptr) : nullptr;
}

IBase* GBaseObjectFactory::CreateBaseObject(eXOMDataType type) {
  const sClassFunctionPtr* record = GetFunctionPtr(type);
  return record && record->createBaseObject ? record->createBaseObject() : nullptr;
}

CReferenced* GBaseObjectFactory::CreateRefObject(eXOMDataType type) {
  const sClassFunctionPtr* record = GetFunctionPtr(type);
  return record && record->createRefObject ? record->createRefObject() : nullptr;
}

eXOMDataType GBaseObjectFactory::GetDataTypeByClassName(std::string const& name) {
  auto it = m_mapClassNameType.find(name);
  return it == m_mapClassNameType.end() ? DT_NONE : it->second;
}

}  // namespace hux
