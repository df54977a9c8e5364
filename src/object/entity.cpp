#include <hux/object/entity.h>

#include <algorithm>

#include <hux/io/archive.h>
#include <hux/object/dbdevice.h>
#include <hux/object/project.h>

namespace hux {

// ---- IBaseEntityImpl -------------------------------------------------------

IBaseEntityImpl::IBaseEntityImpl() : m_pEntity(nullptr) {}
IBaseEntityImpl::~IBaseEntityImpl() = default;

bool IBaseEntityImpl::Serialize(GDbArchive& archive) {
  // No data of its own: one empty object keeps readers aligned.
  return archive.IsLoading() ? archive.ReadEmptyObject() : archive.WriteEmptyObject();
}

// ---- IBaseEntity: tree -----------------------------------------------------

IBaseEntity::IBaseEntity() : m_pParent(nullptr), m_pImpl(nullptr), m_nObjectID(1), m_nFlags(EGOBJECT_MODIFIED) {}

IBaseEntity::~IBaseEntity() {
  delete m_pImpl;
  m_pImpl = nullptr;
  // The children are deleted while their parent links still reach the
  // project, so their deletions are recorded in its device.
  DeleteAllChild();
  m_pParent = nullptr;
}

IBaseEntity* IBaseEntity::GetRoot() {
  IBaseEntity* root = this;
  while (root->m_pParent) root = root->m_pParent;
  return root;
}

IBaseProject* IBaseEntity::GetProject() { return dynamic_cast<IBaseProject*>(GetRoot()); }

GDBDevice* IBaseEntity::GetDBDevice() {
  IBaseProject* project = GetProject();
  return project ? project->GetProjectDBDevice() : nullptr;
}

void IBaseEntity::GetAllLeafChild(IBaseEntity* entity, std::vector<IBaseEntity*>& out) {
  if (!entity) return;
  // Pre-order with an explicit stack, so deep trees cannot exhaust the call
  // stack: children are pushed last-first and so come off first-first.
  std::vector<IBaseEntity*> pending{entity};
  while (!pending.empty()) {
    IBaseEntity* e = pending.back();
    pending.pop_back();
    out.push_back(e);
    for (auto it = e->m_vecChildren.rbegin(); it != e->m_vecChildren.rend(); ++it)
      if (*it) pending.push_back(*it);
  }
}

void IBaseEntity::AddChild(IBaseEntity* child) {
  if (!child) return;
  child->m_pParent = this;
  m_vecChildren.push_back(child);

  IBaseProject* project = GetProject();
  if (!project) return;
  // While a project is loaded, entities keep the ids they were stored with.
  GDBDevice* device = project->GetProjectDBDevice();
  if (device && device->GetContext().IsLoading()) return;

  std::vector<IBaseEntity*> subtree;
  GetAllLeafChild(child, subtree);
  for (IBaseEntity* e : subtree)
    if (e->m_nObjectID <= 1) e->m_nObjectID = project->GetUniqueID();
}

void IBaseEntity::RegisterDeleteObjectToDB(IBaseEntity* entity) {
  if (!entity || !GetIOFacade() || !entity->HasObjectFlag(EGOBJECT_RECORD_DELETE)) return;
  GDBDevice* device = entity->GetDBDevice();
  if (device && !device->GetContext().IsRecordDeleteOff())
    device->GetObjectsState().RegisterDeleteObject(entity->m_nObjectID);
}

bool IBaseEntity::DeleteChild(IBaseEntity* child) {
  auto it = std::find(m_vecChildren.begin(), m_vecChildren.end(), child);
  if (it == m_vecChildren.end()) return false;
  const auto index = it - m_vecChildren.begin();
  if (child) {
    RegisterDeleteObjectToDB(child);
    delete child;
  }
  m_vecChildren.erase(m_vecChildren.begin() + index);
  return true;
}

void IBaseEntity::DeleteAllChild() {
  for (size_t i = 0; i < m_vecChildren.size(); ++i) {
    IBaseEntity* child = m_vecChildren[i];
    if (!child) continue;
    RegisterDeleteObjectToDB(child);
    delete child;
    m_vecChildren[i] = nullptr;
  }
  m_vecChildren.clear();
}

// ---- IBaseEntity: flags ----------------------------------------------------

void IBaseEntity::_DealWithObjectFlag(EGOBJECT_FLAG& flag, EGOBJECT_FLAG& clearMask) {
  unsigned int bits = flag;
  if (GDBDevice* device = GetDBDevice()) {
    if (HasObjectFlag(EGOBJECT_NO_MODIFIED) || device->GetContext().IsLoading()) bits &= ~EGOBJECT_MODIFIED;
  }
  unsigned int clear = 0;
  if (bits & EGOBJECT_MODIFIED) clear |= EGOBJECT_SWAPPED;
  if (bits & EGOBJECT_SWAPPED) clear |= EGOBJECT_MODIFIED;
  flag = static_cast<EGOBJECT_FLAG>(bits);
  clearMask = static_cast<EGOBJECT_FLAG>(clear);
}

void IBaseEntity::_SetObjectFlagFunc(bool on, EGOBJECT_FLAG flag) {
  if (on)
    m_nFlags |= flag;
  else
    m_nFlags &= ~static_cast<unsigned int>(flag);
}

void IBaseEntity::SetObjectFlag(bool on, EGOBJECT_FLAG flag) {
  if (on && GetIOFacade()) {
    EGOBJECT_FLAG clearMask = static_cast<EGOBJECT_FLAG>(0);
    _DealWithObjectFlag(flag, clearMask);
    m_nFlags = (m_nFlags & ~static_cast<unsigned int>(clearMask)) | flag;
    return;
  }
  _SetObjectFlagFunc(on, flag);
}

// ---- IBaseEntity: implementation object ------------------------------------

IBaseEntityImpl* IBaseEntity::CreateBaseEntityImpl() { return new IBaseEntityImpl(); }

IBaseEntityImpl* IBaseEntity::GetBaseEntityImpl(bool load) {
  if (m_pImpl) return m_pImpl;
  IBaseEntityImpl* impl = CreateBaseEntityImpl();
  if (!impl) return nullptr;
  m_pImpl = impl;
  impl->SetBaseEntity(this);
  IDataIOFacade* facade = GetIOFacade();
  if (load && facade && HasObjectFlag(EGOBJECT_SWAPPED)) {
    try {
      facade->LoadEntityData(this, GetDBDevice());
    } catch (...) {
      // An unfilled object must not stand for the stored data: a later swap
      // out would overwrite that data with it. Drop it so the next call
      // loads again.
      delete m_pImpl;
      m_pImpl = nullptr;
      throw;
    }
  }
  return m_pImpl;
}

void IBaseEntity::SetImplObject(IBaseEntityImpl* impl) {
  if (impl != m_pImpl) delete m_pImpl;
  m_pImpl = impl;
  if (impl) impl->SetBaseEntity(this);
}

void IBaseEntity::SwapDataToDisk() {
  IDataIOFacade* facade = GetIOFacade();
  if (!facade) return;
  // Swapped out already and no data in memory: the database holds the data,
  // and writing the (absent) data again would overwrite it.
  if (!m_pImpl && HasObjectFlag(EGOBJECT_SWAPPED)) return;
  IBaseProject* project = GetProject();
  facade->SwapOutEntityData(this, project ? project->GetProjectDBDevice() : nullptr);
  SetObjectFlag(true, EGOBJECT_SWAPPED);
  SetObjectFlag(false, EGOBJECT_MODIFIED);
  delete m_pImpl;
  m_pImpl = nullptr;
}

}  // namespace hux
