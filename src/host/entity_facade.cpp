#include <hux/host/entity_facade.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <map>
#include <memory>
#include <set>
#include <stdexcept>
#include <cstring>
#include <optional>
#include <random>
#include <typeinfo>
#include <unordered_map>
#include <unordered_set>

#include <hux/io/archive.h>
#include <hux/io/memstream.h>
#include <hux/object/base.h>
#include <hux/object/entity.h>
#include <hux/object/factory.h>
#include <hux/object/project.h>
#include <hux/value/variant.h>

namespace hux::host {

const char* const EntityFacade::kTable = "EntityTable";
const char* const EntityFacade::kCounterTable = "EntityCounter";

namespace {

enum Column { kId, kPid, kPos, kType, kFlags, kVersion, kData };
const std::vector<std::string> kAllColumns = {"ID", "PID", "POS", "TYPE", "FLAGS", "VERSION", "DATA"};
const std::vector<std::string> kCounterColumns = {"ID", "LASTID", "STORE", "LOCK"};
constexpr long long kCounterRow = 1;

// The context flag that marks a device this facade holds state for: a new
// device at the address of a destroyed one starts without it.
constexpr int kSessionFlag = 3;

// Flags that belong to the entity's stored state; the others describe its
// state in this session.
constexpr unsigned int kPersistentFlags = hux::EGOBJECT_NO_MODIFIED;

// Stored positions above this are rewritten, so that the next one cannot
// overflow.
constexpr __int64 kMaxKeptPos = std::numeric_limits<__int64>::max() / 2;
// Ids above this (only a damaged store holds them) do not move the counters,
// which could not count past them; saves still never write over them.
constexpr __int64 kMaxCountedId = std::numeric_limits<__int64>::max() / 4;

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

// The bytes of a DATA value, without its first object when `skipBase`.
std::optional<std::string> BytesOf(const CVariant& value, bool skipBase) {
  hux::GMemStream* stream = StreamOf(value);
  if (!stream) return std::nullopt;
  std::string bytes(stream->GetData(), stream->GetDataSize());
  if (!skipBase) return bytes;
  hux::GMemStream copy;
  copy.SetData(bytes.data(), static_cast<int>(bytes.size()));
  copy.SetOpenMode(false);
  hux::GDbArchiveImpl archive(&copy);
  __int64 end = -1;
  try {
    archive.SkipObject();
    end = archive.DevicePos();
  } catch (...) {
  }
  if (end < 0 || end > static_cast<__int64>(bytes.size())) return std::nullopt;
  return bytes.substr(static_cast<size_t>(end));
}

// True when the stored DATA holds the bytes of `data`. A project's own
// object (its id counter) is left out: every process raises it at load, and
// the store's counter row is what hands out ids.
bool SameData(const CVariant& stored, const CVariant& data, bool project) {
  const std::optional<std::string> a = BytesOf(stored, project);
  return a && a == BytesOf(data, project);
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

[[noreturn]] void Conflict(__int64 id, const std::string& what) {
  throw std::runtime_error("entity " + std::to_string(id) + " " + what +
                           " by another user since this process loaded it; reload the project");
}

__int64 NewStoreNumber() {
  std::random_device random;
  __int64 number = 0;
  while (number == 0)
    number = static_cast<__int64>(((static_cast<uint64_t>(random()) << 32) | random()) >> 1);
  return number;
}

// The store's counter row, read after taking its write lock: creates the
// tables when needed. Throws when the store cannot be used.
struct StoreHead {
  __int64 number = 0;
  __int64 lastId = 0;
};

StoreHead OpenStore(GDBDevice* device) {
  if (!device->EnsureTable(EntityFacade::kTable, kAllColumns) ||
      !device->EnsureTable(EntityFacade::kCounterTable, kCounterColumns))
    throw std::runtime_error("the entity tables cannot be created");
  // The first write of the access: the row's lock keeps other writers out
  // until this access ends.
  if (!device->WriteRow(EntityFacade::kCounterTable, {"ID", "LOCK"}, {CVariant(kCounterRow), CVariant()}))
    throw std::runtime_error("the store cannot be locked");
  std::vector<CVariant> values;
  if (!device->QueryTable(EntityFacade::kCounterTable, {"LASTID", "STORE"}, "ID", kCounterRow, values) ||
      values.size() < 2)
    throw std::runtime_error("the id counter of the store cannot be read");
  StoreHead head;
  bool ok = false;
  head.lastId = values[0].toInt64(&ok);
  if (!ok || head.lastId < 0 || head.lastId > kMaxCountedId) head.lastId = 0;
  head.number = values[1].toInt64(&ok);
  if (!ok || head.number == 0) {
    head.number = NewStoreNumber();
    if (!device->WriteRow(EntityFacade::kCounterTable, {"ID", "STORE"},
                          {CVariant(kCounterRow), CVariant(static_cast<long long>(head.number))}))
      throw std::runtime_error("the store cannot be named");
  }
  return head;
}

void WriteLastId(GDBDevice* device, __int64 lastId) {
  if (!device->WriteRow(EntityFacade::kCounterTable, {"ID", "LASTID"},
                        {CVariant(kCounterRow), CVariant(static_cast<long long>(lastId))}))
    throw std::runtime_error("the id counter of the store cannot be written");
}

IBaseProject* ProjectOf(IBaseEntity* entity) {
  while (entity->GetParent()) entity = entity->GetParent();
  return dynamic_cast<IBaseProject*>(entity);
}

}  // namespace

// One stored row.
struct EntityFacade::Row {
  __int64 id = 0;
  __int64 parentId = 0;
  __int64 pos = 0;
  __int64 type = 0;
  bool typeKnown = false;  // TYPE held an integer or nothing
  __int64 flags = 0;
  __int64 version = 0;
  CVariant data;
};

// What the facade knows of the store behind one device: the rows it loaded
// or wrote, as it left them, and the id blocks it reserved.
struct EntityFacade::Session {
  struct Known {
    __int64 version = 0;
    __int64 parentId = 0;
    __int64 pos = 0;
    __int64 flags = 0;
    bool kept = false;  // a row of a type nothing here registers
  };
  __int64 store = 0;
  IBaseProject* project = nullptr;
  std::unordered_map<__int64, Known> known;
  std::vector<std::pair<__int64, __int64>> reserved;
  // A single entity's save records only what it changes, over the state it
  // started from (which it must not copy: that would make saving the
  // entities one by one quadratic); Commit merges it in.
  const Session* base = nullptr;

  bool Reserved(__int64 id) const {
    for (const auto& [first, last] : reserved)
      if (id >= first && id <= last) return true;
    return false;
  }
  const Known* Find(__int64 id) const {
    auto it = known.find(id);
    if (it == known.end()) return base ? base->Find(id) : nullptr;
    return it->second.kept ? nullptr : &it->second;
  }
};

EntityFacade::EntityFacade() = default;
EntityFacade::~EntityFacade() = default;

bool EntityFacade::Failed(const std::string& what) {
  m_strLastError = what;
  return false;
}

// ---- saving ----------------------------------------------------------------

namespace {

// The places of a parent's children: a child keeps its stored position while
// it stays under the same parent and after its previous sibling, so that
// removing or appending a child rewrites no sibling; the others follow
// their previous sibling.
// A child's place depends only on the children before it: `count` limits
// the work to the first children.
template <class Find>
std::vector<__int64> Positions(IBaseEntity* parent, Find&& find, size_t count = SIZE_MAX) {
  const auto& children = parent->GetAllChild();
  std::vector<__int64> out(std::min(count, children.size()), 0);
  __int64 last = -1;
  for (size_t i = 0; i < out.size(); ++i) {
    if (!children[i]) continue;
    const auto* known = find(children[i]->GetObjectID());
    if (known && known->parentId == parent->GetObjectID() && known->pos > last && known->pos <= kMaxKeptPos)
      out[i] = known->pos;
    else
      out[i] = last + 1;
    last = out[i];
  }
  return out;
}

struct StoredRow {
  __int64 version = 0;
  __int64 parentId = 0;
  __int64 pos = 0;
  __int64 flags = 0;
  CVariant data;
};

}  // namespace

bool EntityFacade::Save(GDBDevice* device, IBaseProject* project, IBaseEntity* single, Mode mode, Session& next,
                        std::vector<IBaseEntity*>& entities) {
  const StoreHead head = OpenStore(device);
  auto current = m_sessions.find(device);
  const bool known = current != m_sessions.end() && device->GetContext().GetFlag(kSessionFlag) &&
                     current->second->store == head.number && (!project || current->second->project == project);
  // A store this facade holds nothing of (a first save, or a save into
  // another store): the entities' rows are overwritten as they are, and a
  // whole save replaces every other row.
  const bool replace = mode == Mode::Whole && !known;
  if (known && mode == Mode::One) {
    next.base = current->second.get();
    next.reserved = current->second->reserved;
  } else if (known) {
    next = *current->second;
  }
  next.store = head.number;
  if (project) next.project = project;

  // The entities, in pre-order; those without an id get one.
  if (single) {
    if (single->GetObjectID() <= 1) throw std::runtime_error("the entity has no id");
    entities.push_back(single);
  } else {
    std::vector<IBaseEntity*> pending{project};
    while (!pending.empty()) {
      IBaseEntity* e = pending.back();
      pending.pop_back();
      if (e != project && e->GetObjectID() <= 1) e->SetObjectID(project->GetUniqueID());
      entities.push_back(e);
      const auto& children = e->GetAllChild();
      for (size_t i = children.size(); i-- > 0;)
        if (children[i]) pending.push_back(children[i]);
    }
  }

  // The stored rows, all at once for a whole save, else as needed.
  const std::vector<std::string> columns = {"ID", "VERSION", "PID", "POS", "FLAGS", "DATA"};
  std::unordered_map<__int64, std::optional<StoredRow>> stored;
  auto toRow = [](const CVariant* v) {
    StoredRow row;
    row.version = v[0].toInt64(nullptr);
    row.parentId = v[1].toInt64(nullptr);
    row.pos = v[2].toInt64(nullptr);
    row.flags = v[3].toInt64(nullptr);
    row.data = v[4];
    return row;
  };
  if (mode == Mode::Whole) {
    std::vector<CVariant> values;
    if (!device->QueryAllRows(kTable, columns, values)) throw std::runtime_error("cannot read the stored rows");
    for (size_t i = 0; i + columns.size() <= values.size(); i += columns.size()) {
      bool ok = false;
      const __int64 id = values[i].toInt64(&ok);
      if (ok) stored[id] = toRow(&values[i + 1]);
    }
  }
  auto lookup = [&](__int64 id) -> const StoredRow* {
    auto it = stored.find(id);
    if (it == stored.end()) {
      std::optional<StoredRow> row;
      std::vector<CVariant> values;
      if (mode != Mode::Whole) {
        if (!device->QueryTable(kTable, {columns.begin() + 1, columns.end()}, "ID", id, values))
          throw std::runtime_error("cannot read the row of entity " + std::to_string(id));
        if (values.size() >= columns.size() - 1) row = toRow(values.data());
      }
      it = stored.emplace(id, std::move(row)).first;
    }
    return it->second ? &*it->second : nullptr;
  };

  // Entities stored for the first time keep their id only when no other
  // process can hold it (see the header); the others get a fresh one.
  __int64 lastId = head.lastId;
  if (known) {
    for (IBaseEntity* e : entities) {
      const __int64 id = e->GetObjectID();
      if (e == project || next.Find(id)) continue;
      if ((next.Reserved(id) || (id > lastId && id <= kMaxCountedId)) && !lookup(id)) {
        lastId = std::max(lastId, id);
        continue;
      }
      __int64 fresh = 0;
      do fresh = ++lastId;
      while (lookup(fresh));
      e->SetObjectID(fresh);
    }
  }
  std::unordered_set<__int64> treeIds;
  __int64 maxId = 0;
  for (IBaseEntity* e : entities) {
    if (!treeIds.insert(e->GetObjectID()).second)
      throw std::runtime_error("two entities share the id " + std::to_string(e->GetObjectID()));
    if (e->GetObjectID() <= kMaxCountedId) maxId = std::max(maxId, e->GetObjectID());
  }

  // Deletions: the deletion list, and for a whole save the rows this process
  // knows (all rows when it replaces the store) that left the tree.
  std::vector<__int64> doomed;
  if (mode != Mode::One) {
    device->GetObjectsState().GetDeleteList(doomed);
    if (replace) {
      for (const auto& [id, row] : stored) doomed.push_back(id);
    } else if (mode == Mode::Whole) {
      for (const auto& [id, k] : next.known)
        if (!k.kept) doomed.push_back(id);
    }
  }
  std::unordered_set<__int64> doomedSet;
  std::vector<__int64> work;
  for (__int64 id : doomed)
    if (!treeIds.count(id) && doomedSet.insert(id).second) work.push_back(id);
  for (size_t w = 0; w < work.size(); ++w) {
    const __int64 id = work[w];
    const StoredRow* row = lookup(id);
    if (known) {
      if (const Session::Known* k = next.Find(id); row && k && row->version != k->version)
        Conflict(id, "was changed");
      // The stored children go with it: those this process knows, and the
      // kept ones; a child it never saw was added by another process.
      std::vector<CVariant> children;
      if (!device->QueryTable(kTable, {"ID"}, "PID", id, children))
        throw std::runtime_error("cannot read the children of entity " + std::to_string(id));
      for (const CVariant& child : children) {
        const __int64 childId = child.toInt64(nullptr);
        if (treeIds.count(childId) || doomedSet.count(childId)) continue;
        if (!next.known.count(childId)) Conflict(id, "got the child " + std::to_string(childId) + " added");
        doomedSet.insert(childId);
        work.push_back(childId);
      }
    }
    if (row) {
      if (device->DeleteRows(kTable, "ID", id) < 0) throw std::runtime_error("cannot remove entity " + std::to_string(id));
      ++m_stats.rowsDeleted;
    }
    next.known.erase(id);
  }

  // The places, then the rows that changed.
  auto findKnown = [&next](__int64 id) { return next.Find(id); };
  std::unordered_map<IBaseEntity*, __int64> places;
  if (single) {
    if (IBaseEntity* parent = single->GetParent()) {
      // A stored entity under the same parent keeps its stored place (the
      // project's next save writes the places that changed); placing it
      // would read every sibling before it, which makes saving the children
      // of a large parent one by one quadratic.
      const Session::Known* k = known ? next.Find(single->GetObjectID()) : nullptr;
      const auto& children = parent->GetAllChild();
      const auto at = k && k->parentId == parent->GetObjectID() ? children.end()
                                                                 : std::find(children.begin(), children.end(), single);
      if (k && k->parentId == parent->GetObjectID()) {
        places[single] = k->pos;
      } else if (at != children.end()) {
        const auto index = static_cast<size_t>(at - children.begin());
        places[single] = Positions(parent, findKnown, index + 1)[index];
      }
    }
  } else {
    for (IBaseEntity* e : entities) {
      const auto& children = e->GetAllChild();
      const std::vector<__int64> pos = Positions(e, findKnown);
      for (size_t i = 0; i < children.size(); ++i)
        if (children[i]) places[children[i]] = pos[i];
    }
  }
  for (IBaseEntity* e : entities) {
    const __int64 id = e->GetObjectID();
    const __int64 parentId = e->GetParent() ? e->GetParent()->GetObjectID() : 0;
    const __int64 pos = places.count(e) ? places[e] : 0;
    const __int64 flags = e->GetObjectFlags() & kPersistentFlags;
    const bool swapped = DataOnlyInDatabase(e);
    const Session::Known* k = known ? next.Find(id) : nullptr;
    const StoredRow* row = nullptr;
    CVariant data;
    bool withData = !swapped;
    if (!k) {
      row = lookup(id);
      if (swapped && (!row || known))
        throw std::runtime_error("the data of entity " + std::to_string(id) + " was swapped out to another database");
    } else {
      const bool moved = k->parentId != parentId || k->pos != pos || k->flags != flags;
      if (mode == Mode::Modified) withData = withData && e->HasObjectFlag(hux::EGOBJECT_MODIFIED);
      if (mode != Mode::Modified && withData) {
        // Only what differs from the stored row is written, so that a save
        // does not overwrite other processes' rows with the same bytes.
        data = DataOf(e);
        const StoredRow* now = lookup(id);
        withData = !now || !SameData(now->data, data, e == project);
      }
      if (!withData && !moved) continue;
      row = lookup(id);
      if (!row) Conflict(id, "was deleted");
      if (row->version != k->version) Conflict(id, "was changed");
    }
    const __int64 version = (row ? row->version : 0) + 1;
    std::vector<CVariant> values;
    values.emplace_back(static_cast<long long>(id));
    values.emplace_back(static_cast<long long>(parentId));
    values.emplace_back(static_cast<long long>(pos));
    values.emplace_back(static_cast<long long>(TypeOf(e)));
    values.emplace_back(static_cast<long long>(flags));
    values.emplace_back(static_cast<long long>(version));
    if (withData) values.push_back(data.GetVariantStru().type == hux::DT_NONE ? DataOf(e) : data);
    std::vector<std::string> names(kAllColumns.begin(), kAllColumns.begin() + values.size());
    if (!device->WriteRow(kTable, names, values))
      throw std::runtime_error("cannot write entity " + std::to_string(id));
    ++m_stats.rowsWritten;
    next.known[id] = Session::Known{version, parentId, pos, flags, false};
  }

  // The store's counter stays above every id; the project gets a new block
  // when half of its block is used.
  lastId = std::max(lastId, maxId);
  if (project && mode != Mode::One) {
    const __int64 counter = project->GetLastUniqueID();
    if (next.reserved.empty() || counter > next.reserved.back().second - kIdBlock / 2) {
      const __int64 base = std::min(std::max(lastId, counter), kMaxCountedId);
      next.reserved.emplace_back(base + 1, base + kIdBlock);
      lastId = base + kIdBlock;
      project->RaiseUniqueID(base);
    }
  }
  if (lastId != head.lastId) WriteLastId(device, lastId);
  return known || mode == Mode::Whole;
}

void EntityFacade::Commit(GDBDevice* device, std::unique_ptr<Session> session,
                          const std::vector<IBaseEntity*>& saved, bool clearDeletions) {
  if (session && session->base) {
    // A single entity's save: its changes join the state it started from.
    auto it = m_sessions.find(device);
    if (it != m_sessions.end() && it->second.get() == session->base) {
      Session& into = *it->second;
      for (const auto& [id, k] : session->known) into.known[id] = k;
      into.store = session->store;
      if (session->project) into.project = session->project;
      device->GetContext().SetFlag(kSessionFlag, true);
    } else {
      m_sessions.erase(device);
    }
  } else if (session) {
    // A project has one device: what is kept for another device of this
    // project belongs to a device that is gone.
    for (auto it = m_sessions.begin(); it != m_sessions.end();)
      it = it->first != device && session->project && it->second->project == session->project ? m_sessions.erase(it)
                                                                                                 : std::next(it);
    m_sessions[device] = std::move(session);
    device->GetContext().SetFlag(kSessionFlag, true);
  } else {
    m_sessions.erase(device);
  }
  for (IBaseEntity* e : saved) {
    e->SetObjectFlag(false, hux::EGOBJECT_MODIFIED);
    e->SetObjectFlag(true, hux::EGOBJECT_RECORD_DELETE);
  }
  if (clearDeletions) device->GetObjectsState().ClearAllList();
  m_strLastError.clear();
}

void EntityFacade::PrepareSave(GDBDevice* device) {
  if (!device || !device->EnsureTable(kTable, kAllColumns) || !device->EnsureTable(kCounterTable, kCounterColumns)) {
    Failed("the entity table cannot be created");
    throw std::runtime_error("EntityFacade: " + m_strLastError);
  }
}

void EntityFacade::SaveProjectData(IBaseProject* project, GDBDevice* device) {
  if (!project || !device) throw std::runtime_error("EntityFacade: SaveProjectData needs a project and a device");
  try {
    // The library's access brackets this call.
    auto session = std::make_unique<Session>();
    std::vector<IBaseEntity*> saved;
    if (!Save(device, project, nullptr, Mode::Whole, *session, saved)) session.reset();
    Commit(device, std::move(session), saved, true);
  } catch (const std::exception& e) {
    device->CancelAccess();
    Failed(e.what());
    throw std::runtime_error(std::string("EntityFacade: ") + e.what());
  }
}

bool EntityFacade::SaveModifiedData(IBaseProject* project, GDBDevice* device) {
  if (!project || !device) return Failed("SaveModifiedData needs a project and a device");
  try {
    auto session = std::make_unique<Session>();
    std::vector<IBaseEntity*> saved;
    InAccess(device, [&] {
      if (!Save(device, project, nullptr, Mode::Modified, *session, saved)) session.reset();
    });
    Commit(device, std::move(session), saved, true);
  } catch (const std::exception& e) {
    return Failed(e.what());
  }
  return true;
}

bool EntityFacade::SaveEntityData(IBaseEntity* entity, GDBDevice* device) {
  if (!entity || !device) return Failed("SaveEntityData needs an entity and a device");
  try {
    auto session = std::make_unique<Session>();
    std::vector<IBaseEntity*> saved;
    InAccess(device, [&] {
      if (!Save(device, ProjectOf(entity), entity, Mode::One, *session, saved)) session.reset();
    });
    Commit(device, std::move(session), saved, false);
  } catch (const std::exception& e) {
    return Failed(e.what());
  }
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
    row.id = values[i + kId].toInt64(&ok);
    if (!ok) continue;  // a row without a usable id cannot be part of a tree
    row.parentId = values[i + kPid].toInt64(nullptr);
    row.pos = values[i + kPos].toInt64(nullptr);
    // No type is a plain entity's; a type that is no integer is unknown.
    const hux::eXOMDataType kind = values[i + kType].GetVariantStru().type;
    row.typeKnown = kind == hux::DT_NONE || kind == hux::DT_INT || kind == hux::DT_INT64;
    row.type = values[i + kType].toInt64(nullptr);
    row.flags = values[i + kFlags].toInt64(nullptr);
    row.version = values[i + kVersion].toInt64(nullptr);
    row.data = values[i + kData];
    rows.push_back(std::move(row));
  }
  return true;
}

IBaseEntity* EntityFacade::Rebuild(const std::vector<Row>& rows, size_t root, GDBDevice* projectDevice,
                                   Session* session) {
  // The children of each stored id, in their stored order.
  std::unordered_map<__int64, std::vector<size_t>> children;
  for (size_t i = 0; i < rows.size(); ++i)
    if (i != root) children[rows[i].parentId].push_back(i);
  for (auto& [parent, list] : children)
    std::sort(list.begin(), list.end(), [&rows](size_t a, size_t b) {
      return rows[a].pos != rows[b].pos ? rows[a].pos < rows[b].pos : rows[a].id < rows[b].id;
    });

  auto make = [&](const Row& row) -> IBaseEntity* {
    if (!row.typeKnown || row.type < std::numeric_limits<int>::min() || row.type > std::numeric_limits<int>::max())
      return nullptr;
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
  // root (orphans, cycles) are never reached. A row of a type the factory
  // cannot create is kept in the store with the rows beneath it.
  struct Pending {
    IBaseEntity* entity;
    size_t row;
    int depth;
  };
  std::vector<Pending> pending{{top.get(), root, 0}};
  std::vector<std::pair<IBaseEntity*, size_t>> built;
  std::vector<size_t> kept;
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
        kept.push_back(index);
        continue;
      }
      p.entity->AddChild(child);
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
    const Row& row = rows[index];
    if (session) session->known[row.id] = Session::Known{row.version, row.parentId, row.pos, row.flags, false};
  }
  if (session) {
    // The kept rows and everything beneath them.
    std::unordered_set<__int64> seen;
    for (size_t k = 0; k < kept.size(); ++k) {
      const Row& row = rows[kept[k]];
      if (!seen.insert(row.id).second) continue;  // a cycle
      session->known[row.id] = Session::Known{row.version, row.parentId, row.pos, row.flags, true};
      auto it = children.find(row.id);
      if (it != children.end()) kept.insert(kept.end(), it->second.begin(), it->second.end());
    }
  }
  m_strLastError.clear();
  guard.project = nullptr;
  return top.release();
}

IBaseEntity* EntityFacade::LoadProjectData(__int64 projectId, GDBDevice* device) {
  if (!device) {
    Failed("LoadProjectData needs a device");
    return nullptr;
  }
  StoreHead head;
  try {
    head = OpenStore(device);
  } catch (const std::exception& e) {
    Failed(e.what());
    return nullptr;
  }
  std::vector<Row> rows;
  if (!ReadRows(device, rows)) return nullptr;
  for (size_t i = 0; i < rows.size(); ++i) {
    if (rows[i].id != projectId) continue;
    auto session = std::make_unique<Session>();
    std::unique_ptr<IBaseEntity> root(Rebuild(rows, i, device, session.get()));
    if (!root) return nullptr;
    auto* project = static_cast<IBaseProject*>(root.get());
    // The project's ids start above every stored id and every id another
    // process may hold (a damaged or newer counter object may be lower), in a
    // block of its own.
    __int64 base = std::min(std::max(head.lastId, project->GetLastUniqueID()), kMaxCountedId);
    for (const Row& row : rows)
      if (row.id <= kMaxCountedId) base = std::max(base, row.id);
    try {
      WriteLastId(device, base + kIdBlock);
    } catch (const std::exception& e) {
      project->SetProjectDBDevice(nullptr);  // stays the caller's
      Failed(e.what());
      return nullptr;
    }
    project->RaiseUniqueID(base);
    session->store = head.number;
    session->project = project;
    session->reserved.emplace_back(base + 1, base + kIdBlock);
    Commit(device, std::move(session), {}, false);
    return root.release();
  }
  Failed("no project " + std::to_string(projectId) + " is stored");
  return nullptr;
}

IBaseEntity* EntityFacade::LoadEntity(__int64 objectId, GDBDevice* device) {
  std::vector<Row> rows;
  if (!ReadRows(device, rows)) return nullptr;
  for (size_t i = 0; i < rows.size(); ++i)
    if (rows[i].id == objectId) return Rebuild(rows, i, nullptr, nullptr);
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
  // The id stays this process's: the entity may be saved again under it.
  auto it = m_sessions.find(device);
  if (it != m_sessions.end() && it->second->known.erase(objectId))
    it->second->reserved.emplace_back(objectId, objectId);
  return removed > 0;
}

void EntityFacade::Forget(GDBDevice* device) {
  if (m_sessions.erase(device) && device) device->GetContext().SetFlag(kSessionFlag, false);
}

bool EntityFacade::IsEntityStored(__int64 objectId, GDBDevice* device) {
  std::vector<CVariant> values;
  return device && device->QueryTable(kTable, {"ID"}, "ID", objectId, values) && !values.empty();
}

}  // namespace hux::host
