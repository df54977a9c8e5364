#include <hux/host/entity_facade.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <map>
#include <memory>
#include <set>
#include <stdexcept>
#include <typeinfo>
#include <unordered_map>

#include <hux/io/archive.h>
#include <hux/io/memstream.h>
#include <hux/object/base.h>
#include <hux/object/entity.h>
#include <hux/object/factory.h>
#include <hux/object/project.h>
#include <hux/value/variant.h>

namespace hux::host {

const char* const EntityFacade::kTable = "EntityTable";

namespace {

const std::vector<std::string> kPlaceColumns = {"ID", "PID", "POS", "TYPE", "FLAGS"};
const std::vector<std::string> kAllColumns = {"ID", "PID", "POS", "TYPE", "FLAGS", "DATA"};

// Flags that belong to the entity's stored state; the others describe its
// state in this session.
constexpr unsigned int kPersistentFlags = hux::EGOBJECT_NO_MODIFIED;

// The factory type code of an entity's class; throws for a class the
// factory could not create again on load.
hux::eXOMDataType TypeOf(IBaseEntity* entity) {
  if (auto* base = dynamic_cast<hux::IBase*>(entity)) {
    const hux::eXOMDataType type = base->GetObjectType();
    const hux::sClassFunctionPtr* record = hux::GetBaseObjectFactory().GetFunctionPtr(type);
    if (!record || !record->createBaseObject)
      throw std::runtime_error("entity " + std::to_string(entity->GetObjectID()) + " of type code " +
                               std::to_string(type) + " has no factory record to create it");
    return type;
  }
  if (typeid(*entity) == typeid(IBaseEntity)) return hux::DT_UNDEFINED;
  throw std::runtime_error("entity " + std::to_string(entity->GetObjectID()) +
                           " is of a class that is not an IBase: it could not be loaded again");
}

IBaseEntity* Create(hux::eXOMDataType type) {
  if (type == hux::DT_UNDEFINED) return new IBaseEntity();
  hux::IBase* base = hux::GetBaseObjectFactory().CreateBaseObject(type);
  auto* entity = dynamic_cast<IBaseEntity*>(base);
  if (!entity) delete base;
  return entity;
}

// An entity swapped out: its data is in the database only, and must be kept
// as it is there. (An implementation object it may have in memory was made
// without loading, so it does not hold the data.)
bool DataOnlyInDatabase(IBaseEntity* entity) { return entity->HasObjectFlag(hux::EGOBJECT_SWAPPED); }

// The DATA column: the entity's IBase object, then its implementation object.
CVariant DataOf(IBaseEntity* entity) {
  auto* stream = new hux::GMemStream(true, nullptr, 0);
  CVariant value;
  value.SetValueRefPtr(stream);  // the variant's reference owns the stream
  hux::GDbArchiveImpl archive(stream);
  if (auto* base = dynamic_cast<hux::IBase*>(entity))
    base->Serialize(archive);
  else
    archive.WriteEmptyObject();
  entity->GetBaseEntityImpl(false)->Serialize(archive);
  return value;
}

hux::GMemStream* StreamOf(const CVariant& value) {
  return dynamic_cast<hux::GMemStream*>(value.GetValueRefPtr());
}

// Reads a DATA stream into the entity: its IBase object (or skips it), then
// its implementation object. A missing or empty stream leaves the defaults.
void ReadData(IBaseEntity* entity, hux::GMemStream* stream, bool withBase) {
  if (!stream || stream->GetDataSize() == 0) return;
  stream->SetOpenMode(false);
  hux::GDbArchiveImpl archive(stream);
  auto* base = dynamic_cast<hux::IBase*>(entity);
  if (withBase && base)
    base->Serialize(archive);
  else
    archive.SkipObject();
  entity->GetBaseEntityImpl(false)->Serialize(archive);
}

// Raises a project's counter to at least `id`, through the counter's own
// archive form (the project has no other way to set it).
void RaiseCounter(IBaseProject* project, __int64 id) {
  if (project->GetLastUniqueID() >= id) return;
  hux::GMemStream stream(true, nullptr, 0);
  {
    hux::GDbArchiveImpl archive(&stream);
    const void* key = reinterpret_cast<const void*>(static_cast<intptr_t>(archive.CreateNewObjectID()));
    archive.BeginWriteObject(key, 1);
    archive.BeginWriteBlock(1, key);
    archive << id;
    archive.EndWriteBlock(1, key);
    archive.EndWriteObject(key);
  }
  stream.SetOpenMode(false);
  hux::GDbArchiveImpl archive(&stream);
  project->Serialize(archive);
}

// Runs `work` in one access of the device; if it throws, the access is
// cancelled (rolled back) and the exception passes on.
template <class Work>
void InAccess(GDBDevice* device, Work&& work) {
  device->BeginAccess();
  try {
    work();
  } catch (...) {
    device->CancelAccess();
    try {
      device->EndAccess();
    } catch (...) {
    }
    throw;
  }
  device->EndAccess();
}

}  // namespace

// One entity of a tree being saved: the entity and its place.
struct EntityFacade::Item {
  IBaseEntity* entity;
  __int64 parentId;
  __int64 pos;
};

// One stored row.
struct EntityFacade::Row {
  __int64 id = 0;
  __int64 parentId = 0;
  __int64 pos = 0;
  __int64 type = 0;
  __int64 flags = 0;
  CVariant data;
};

bool EntityFacade::Failed(const std::string& what) {
  m_strLastError = what;
  return false;
}

// ---- saving ----------------------------------------------------------------

void EntityFacade::Flatten(IBaseProject* project, std::vector<Item>& items) {
  // Pre-order with each entity's parent id and place; entities that have no
  // id yet (added while a load was running) get one now, and two entities
  // with one id would overwrite each other's row.
  std::vector<Item> pending{{project, 0, 0}};
  std::set<__int64> ids;
  while (!pending.empty()) {
    Item item = pending.back();
    pending.pop_back();
    IBaseEntity* e = item.entity;
    if (e != project && e->GetObjectID() <= 1) e->SetObjectID(project->GetUniqueID());
    if (!ids.insert(e->GetObjectID()).second)
      throw std::runtime_error("two entities share the id " + std::to_string(e->GetObjectID()));
    items.push_back(item);
    const auto& children = e->GetAllChild();
    for (size_t i = children.size(); i-- > 0;)
      if (children[i]) pending.push_back({children[i], e->GetObjectID(), static_cast<__int64>(i)});
  }
}

void EntityFacade::WriteEntity(GDBDevice* device, const Item& item, bool withData) {
  IBaseEntity* e = item.entity;
  std::vector<CVariant> values;
  values.emplace_back(static_cast<long long>(e->GetObjectID()));
  values.emplace_back(static_cast<long long>(item.parentId));
  values.emplace_back(static_cast<long long>(item.pos));
  values.emplace_back(static_cast<long long>(TypeOf(e)));
  values.emplace_back(static_cast<long long>(e->GetObjectFlags() & kPersistentFlags));
  if (withData) values.push_back(DataOf(e));
  const std::vector<std::string>& columns = withData ? kAllColumns : kPlaceColumns;
  std::vector<std::string> names(columns.begin(), columns.begin() + values.size());
  if (!device->WriteRow(kTable, names, values))
    throw std::runtime_error("cannot write entity " + std::to_string(e->GetObjectID()));
  ++m_stats.rowsWritten;
}

void EntityFacade::PrepareSave(GDBDevice* device) {
  if (!device || !device->EnsureTable(kTable, kAllColumns)) {
    Failed("the entity table cannot be created");
    throw std::runtime_error("EntityFacade: " + m_strLastError);
  }
}

void EntityFacade::SaveProjectData(IBaseProject* project, GDBDevice* device) {
  if (!project || !device) throw std::runtime_error("EntityFacade: SaveProjectData needs a project and a device");
  try {
    std::vector<Item> items;
    Flatten(project, items);
    std::vector<CVariant> stored;
    if (!device->QueryAllRows(kTable, {"ID"}, stored)) throw std::runtime_error("cannot read the stored ids");
    std::set<__int64> storedIds;
    for (const CVariant& v : stored) storedIds.insert(v.toInt64(nullptr));

    std::set<__int64> treeIds;
    for (const Item& item : items) {
      const bool keepData = DataOnlyInDatabase(item.entity);
      if (keepData && !storedIds.count(item.entity->GetObjectID()))
        throw std::runtime_error("the data of entity " + std::to_string(item.entity->GetObjectID()) +
                                 " was swapped out to another database");
      WriteEntity(device, item, !keepData);
      treeIds.insert(item.entity->GetObjectID());
    }
    for (__int64 id : storedIds) {
      if (treeIds.count(id)) continue;
      if (device->DeleteRows(kTable, "ID", id) < 0) throw std::runtime_error("cannot remove entity " + std::to_string(id));
      ++m_stats.rowsDeleted;
    }
    for (const Item& item : items) {
      item.entity->SetObjectFlag(false, hux::EGOBJECT_MODIFIED);
      item.entity->SetObjectFlag(true, hux::EGOBJECT_RECORD_DELETE);
    }
    device->GetObjectsState().ClearAllList();
    m_strLastError.clear();
  } catch (const std::exception& e) {
    device->CancelAccess();
    Failed(e.what());
    throw std::runtime_error(std::string("EntityFacade: ") + e.what());
  }
}

bool EntityFacade::SaveModifiedData(IBaseProject* project, GDBDevice* device) {
  if (!project || !device) return Failed("SaveModifiedData needs a project and a device");
  try {
    std::vector<Item> items;
    InAccess(device, [&] {
      std::vector<__int64> deleted;
      device->GetObjectsState().GetDeleteList(deleted);
      for (__int64 id : deleted) {
        if (device->DeleteRows(kTable, "ID", id) < 0) throw std::runtime_error("cannot remove entity " + std::to_string(id));
        ++m_stats.rowsDeleted;
      }
      Flatten(project, items);
      for (const Item& item : items)
        WriteEntity(device, item,
                    item.entity->HasObjectFlag(hux::EGOBJECT_MODIFIED) && !DataOnlyInDatabase(item.entity));
    });
    for (const Item& item : items) {
      item.entity->SetObjectFlag(false, hux::EGOBJECT_MODIFIED);
      item.entity->SetObjectFlag(true, hux::EGOBJECT_RECORD_DELETE);
    }
    device->GetObjectsState().ClearAllList();
  } catch (const std::exception& e) {
    return Failed(e.what());
  }
  m_strLastError.clear();
  return true;
}

bool EntityFacade::SaveEntityData(IBaseEntity* entity, GDBDevice* device) {
  if (!entity || !device) return Failed("SaveEntityData needs an entity and a device");
  try {
    Item item{entity, 0, 0};
    if (IBaseEntity* parent = entity->GetParent()) {
      const auto& children = parent->GetAllChild();
      item.parentId = parent->GetObjectID();
      item.pos = std::find(children.begin(), children.end(), entity) - children.begin();
    }
    InAccess(device, [&] { WriteEntity(device, item, !DataOnlyInDatabase(entity)); });
    entity->SetObjectFlag(false, hux::EGOBJECT_MODIFIED);
    entity->SetObjectFlag(true, hux::EGOBJECT_RECORD_DELETE);
  } catch (const std::exception& e) {
    return Failed(e.what());
  }
  m_strLastError.clear();
  return true;
}

void EntityFacade::SwapOutEntityData(IBaseEntity* entity, GDBDevice* device) {
  if (!entity || !device || !device->IsDBOpen()) {
    Failed("an entity can only be swapped out into an open database");
    throw std::runtime_error("EntityFacade: " + m_strLastError);
  }
  if (!SaveEntityData(entity, device)) throw std::runtime_error("EntityFacade: " + m_strLastError);
  ++m_stats.swappedOut;
}

// ---- loading ---------------------------------------------------------------

bool EntityFacade::ReadRows(GDBDevice* device, std::vector<Row>& rows) {
  std::vector<CVariant> values;
  if (!device || !device->QueryAllRows(kTable, kAllColumns, values)) return Failed("cannot read the entity table");
  const size_t width = kAllColumns.size();
  rows.clear();
  rows.reserve(values.size() / width);
  for (size_t i = 0; i + width <= values.size(); i += width) {
    Row row;
    bool ok = false;
    row.id = values[i].toInt64(&ok);
    if (!ok) continue;  // a row without a usable id cannot be part of a tree
    row.parentId = values[i + 1].toInt64(nullptr);
    row.pos = values[i + 2].toInt64(nullptr);
    row.type = values[i + 3].toInt64(nullptr);
    row.flags = values[i + 4].toInt64(nullptr);
    row.data = values[i + 5];
    rows.push_back(std::move(row));
  }
  return true;
}

IBaseEntity* EntityFacade::Rebuild(const std::vector<Row>& rows, size_t root, GDBDevice* projectDevice) {
  // The children of each stored id, in their stored order.
  std::unordered_map<__int64, std::vector<size_t>> children;
  for (size_t i = 0; i < rows.size(); ++i)
    if (i != root) children[rows[i].parentId].push_back(i);
  for (auto& [parent, list] : children)
    std::sort(list.begin(), list.end(), [&rows](size_t a, size_t b) {
      return rows[a].pos != rows[b].pos ? rows[a].pos < rows[b].pos : rows[a].id < rows[b].id;
    });

  auto make = [&](const Row& row) -> IBaseEntity* {
    if (row.type < std::numeric_limits<int>::min() || row.type > std::numeric_limits<int>::max()) return nullptr;
    IBaseEntity* e = Create(static_cast<hux::eXOMDataType>(row.type));
    if (e) e->SetObjectID(row.id);
    return e;
  };

  std::unique_ptr<IBaseEntity> top(make(rows[root]));
  if (!top) {
    Failed("entity " + std::to_string(rows[root].id) + ": the factory cannot create type code " +
           std::to_string(rows[root].type));
    return nullptr;
  }
  auto* project = dynamic_cast<IBaseProject*>(top.get());
  if (projectDevice && !project) {
    Failed("entity " + std::to_string(rows[root].id) + " is not a project");
    return nullptr;
  }
  // A loaded project owns the device it was loaded through. It is attached
  // now, so the entities see the device's loading flag while they are built;
  // on failure it is taken back before the partial tree is destroyed, and
  // stays the caller's.
  struct DeviceGuard {
    IBaseProject* project = nullptr;
    ~DeviceGuard() {
      if (project) project->SetProjectDBDevice(nullptr);
    }
  } guard;
  if (projectDevice) {
    project->SetProjectDBDevice(projectDevice);
    guard.project = project;
  }

  // Depth-first with an explicit stack. Each row has one parent id, so a row
  // is reached at most once; rows whose parent chain does not lead to the
  // root (orphans, cycles) are never reached.
  struct Pending {
    IBaseEntity* entity;
    size_t row;
    int depth;
  };
  std::vector<Pending> pending{{top.get(), root, 0}};
  std::vector<std::pair<IBaseEntity*, size_t>> built;
  __int64 maxId = rows[root].id;
  while (!pending.empty()) {
    const Pending p = pending.back();
    pending.pop_back();
    built.emplace_back(p.entity, p.row);
    auto it = children.find(rows[p.row].id);
    if (it == children.end()) continue;
    if (p.depth + 1 > kMaxDepth) {
      Failed("the stored tree is deeper than " + std::to_string(kMaxDepth) + " levels");
      return nullptr;
    }
    std::vector<Pending> next;
    for (size_t index : it->second) {
      IBaseEntity* child = make(rows[index]);
      if (!child) {
        Failed("entity " + std::to_string(rows[index].id) + ": the factory cannot create type code " +
               std::to_string(rows[index].type));
        return nullptr;  // `top` destroys what was built
      }
      p.entity->AddChild(child);
      maxId = std::max(maxId, rows[index].id);
      next.push_back({child, index, p.depth + 1});
    }
    pending.insert(pending.end(), next.rbegin(), next.rend());
  }

  for (auto& [entity, index] : built) {
    ReadData(entity, StreamOf(rows[index].data), true);
    entity->SetObjectFlag(false, hux::EGOBJECT_MODIFIED);
    entity->SetObjectFlag(true, hux::EGOBJECT_RECORD_DELETE);
    if (rows[index].flags & kPersistentFlags) entity->SetObjectFlag(true, hux::EGOBJECT_NO_MODIFIED);
    ++m_stats.entitiesLoaded;
  }
  // A damaged counter below a stored id would hand that id out again.
  if (project) RaiseCounter(project, maxId);
  m_strLastError.clear();
  guard.project = nullptr;
  return top.release();
}

IBaseEntity* EntityFacade::LoadProjectData(__int64 projectId, GDBDevice* device) {
  std::vector<Row> rows;
  if (!ReadRows(device, rows)) return nullptr;
  for (size_t i = 0; i < rows.size(); ++i) {
    if (rows[i].id != projectId) continue;
    return Rebuild(rows, i, device);
  }
  Failed("no project " + std::to_string(projectId) + " is stored");
  return nullptr;
}

IBaseEntity* EntityFacade::LoadEntity(__int64 objectId, GDBDevice* device) {
  std::vector<Row> rows;
  if (!ReadRows(device, rows)) return nullptr;
  for (size_t i = 0; i < rows.size(); ++i)
    if (rows[i].id == objectId) return Rebuild(rows, i, nullptr);
  Failed("no entity " + std::to_string(objectId) + " is stored");
  return nullptr;
}

void EntityFacade::LoadEntityData(IBaseEntity* entity, GDBDevice* device) {
  std::vector<CVariant> values;
  if (!entity || !device || !device->QueryTable(kTable, {"DATA"}, "ID", entity->GetObjectID(), values) ||
      values.empty()) {
    Failed("the data of entity " + std::to_string(entity ? entity->GetObjectID() : 0) + " cannot be read");
    throw std::runtime_error("EntityFacade: " + m_strLastError);
  }
  // The entity's own IBase state stayed in memory; only its data comes back.
  ReadData(entity, StreamOf(values[0]), false);
  entity->SetObjectFlag(false, hux::EGOBJECT_SWAPPED);
  ++m_stats.swappedIn;
  m_strLastError.clear();
}

bool EntityFacade::DeleteEntityData(__int64 objectId, GDBDevice* device) {
  if (!device) return Failed("DeleteEntityData needs a device");
  const __int64 removed = device->DeleteRows(kTable, "ID", objectId);
  if (removed < 0) return Failed("cannot remove entity " + std::to_string(objectId));
  m_stats.rowsDeleted += static_cast<int>(removed);
  return removed > 0;
}

bool EntityFacade::IsEntityStored(__int64 objectId, GDBDevice* device) {
  std::vector<CVariant> values;
  return device && device->QueryTable(kTable, {"ID"}, "ID", objectId, values) && !values.empty();
}

}  // namespace hux::host
