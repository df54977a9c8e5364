// The object factory: two indexes (type code to record, class name to type
// code) that lookups and creations read without a lock while a module being
// loaded registers its types on another thread.
#include <hux/object/factory.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string_view>
#include <vector>

namespace hux {

namespace {

// An append-only hash index. Lookups run without a lock while one writer at
// a time (holding the factory's registration mutex) adds entries. Entries
// never move and are never removed while the index lives. A slot is filled
// by a release store once its entry is complete, so a reader finds a whole
// entry or none. A table more than half full is replaced by one twice the
// size, published the same way; the old tables are kept, since a reader may
// still be probing one, and together take less room than the current one.
template <class Entry>
class AppendOnlyIndex {
 public:
  template <class Key>
  Entry* Find(const Key& key, size_t hash) const {
    const Table* table = m_current.load(std::memory_order_acquire);
    if (!table) return nullptr;
    for (size_t i = hash & table->mask;; i = (i + 1) & table->mask) {
      Entry* entry = table->slots[i].load(std::memory_order_acquire);
      if (!entry) return nullptr;
      if (entry->hash == hash && entry->key == key) return entry;
    }
  }

  // Adds an entry whose key is not in the index yet. Writer only. On an
  // allocation failure nothing has changed.
  Entry* Add(std::unique_ptr<Entry> entry) {
    m_entries.reserve(m_entries.size() + 1);
    m_tables.reserve(m_tables.size() + 1);
    Table* table = m_current.load(std::memory_order_relaxed);
    std::unique_ptr<Table> bigger;
    if (!table || 2 * (m_entries.size() + 1) > table->mask + 1) {
      bigger = std::make_unique<Table>(table ? 2 * (table->mask + 1) : 16);
      for (const auto& old : m_entries) Place(*bigger, old.get());
    }
    Entry* added = entry.get();
    m_entries.push_back(std::move(entry));
    if (bigger) {
      Place(*bigger, added);
      m_tables.push_back(std::move(bigger));
      m_current.store(m_tables.back().get(), std::memory_order_release);
    } else {
      Place(*table, added);
    }
    return added;
  }

 private:
  struct Table {
    explicit Table(size_t size) : mask(size - 1), slots(new std::atomic<Entry*>[size]) {
      for (size_t i = 0; i < size; ++i) slots[i].store(nullptr, std::memory_order_relaxed);
    }
    size_t mask;
    std::unique_ptr<std::atomic<Entry*>[]> slots;
  };

  static void Place(Table& table, Entry* entry) {
    size_t i = entry->hash & table.mask;
    while (table.slots[i].load(std::memory_order_relaxed)) i = (i + 1) & table.mask;
    table.slots[i].store(entry, std::memory_order_release);
  }

  std::atomic<Table*> m_current{nullptr};
  std::vector<std::unique_ptr<Table>> m_tables;
  std::vector<std::unique_ptr<Entry>> m_entries;
};

struct TypeEntry {
  eXOMDataType key;
  size_t hash;
  sClassFunctionPtr record;
};

struct NameEntry {
  std::string key;
  size_t hash;
  std::atomic<eXOMDataType> type;
};

size_t HashOf(eXOMDataType type) {
  // Fibonacci hashing: neighbouring codes land far apart.
  const std::uint64_t h = static_cast<std::uint32_t>(type) * 0x9E3779B97F4A7C15ull;
  return static_cast<size_t>(h ^ (h >> 29));
}

size_t HashOf(std::string_view name) { return std::hash<std::string_view>()(name); }

// A function field of a published record: completing a record replaces its
// fields while other threads may call through them.
template <class Fn>
Fn LoadField(Fn& field) {
  return std::atomic_ref<Fn>(field).load(std::memory_order_acquire);
}

template <class Fn>
void CompleteField(Fn& stored, Fn given) {
  if (given) std::atomic_ref<Fn>(stored).store(given, std::memory_order_release);
}

}  // namespace

// Codes below this bound (the library's own kinds, 0 to 1003, and the first
// custom ones) also have a slot of their own: finding their record, which
// every copy, release, write and read of a value object does, is then one
// load instead of a hash probe. A record is never removed and keeps its
// address, so a slot, once filled, stays valid.
constexpr int kDirectCodes = 2048;

struct GBaseObjectFactory::Tables {
  std::mutex registration;
  AppendOnlyIndex<TypeEntry> types;
  AppendOnlyIndex<NameEntry> names;
  std::atomic<sClassFunctionPtr*> direct[kDirectCodes] = {};
};

GBaseObjectFactory::GBaseObjectFactory() : m_pTables(new Tables) {}

GBaseObjectFactory::~GBaseObjectFactory() { delete m_pTables; }

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
  Tables& tables = *m_pTables;
  std::lock_guard<std::mutex> lock(tables.registration);

  const size_t nameHash = HashOf(record.className);
  if (NameEntry* name = tables.names.Find(record.className, nameHash)) {
    name->type.store(type, std::memory_order_release);
  } else {
    auto entry = std::make_unique<NameEntry>();
    entry->key = record.className;
    entry->hash = nameHash;
    entry->type.store(type, std::memory_order_relaxed);
    tables.names.Add(std::move(entry));
  }

  const size_t typeHash = HashOf(type);
  TypeEntry* existing = tables.types.Find(type, typeHash);
  if (!existing) {
    TypeEntry* added = tables.types.Add(std::make_unique<TypeEntry>(TypeEntry{type, typeHash, std::move(record)}));
    if (type >= 0 && type < kDirectCodes) tables.direct[type].store(&added->record, std::memory_order_release);
    return;
  }
  sClassFunctionPtr& stored = existing->record;
  CompleteField(stored.createBaseObject, record.createBaseObject);
  CompleteField(stored.createVoidObject, record.createVoidObject);
  CompleteField(stored.deleteVoidObject, record.deleteVoidObject);
  CompleteField(stored.saveObject, record.saveObject);
  CompleteField(stored.loadObject, record.loadObject);
  CompleteField(stored.createRefObject, record.createRefObject);
}

sClassFunctionPtr* GBaseObjectFactory::GetFunctionPtr(eXOMDataType type) {
  if (type >= 0 && type < kDirectCodes) return m_pTables->direct[type].load(std::memory_order_acquire);
  TypeEntry* entry = m_pTables->types.Find(type, HashOf(type));
  return entry ? &entry->record : nullptr;
}

void* GBaseObjectFactory::CreateVoidObject(eXOMDataType type) {
  sClassFunctionPtr* record = GetFunctionPtr(type);
  auto create = record ? LoadField(record->createVoidObject) : nullptr;
  return create ? create(nullptr) : nullptr;
}

IBase* GBaseObjectFactory::CreateBaseObject(eXOMDataType type) {
  sClassFunctionPtr* record = GetFunctionPtr(type);
  auto create = record ? LoadField(record->createBaseObject) : nullptr;
  return create ? create() : nullptr;
}

CReferenced* GBaseObjectFactory::CreateRefObject(eXOMDataType type) {
  sClassFunctionPtr* record = GetFunctionPtr(type);
  auto create = record ? LoadField(record->createRefObject) : nullptr;
  return create ? create() : nullptr;
}

eXOMDataType GBaseObjectFactory::GetDataTypeByClassName(std::string const& name) {
  const NameEntry* entry = m_pTables->names.Find(std::string_view(name), HashOf(std::string_view(name)));
  return entry ? entry->type.load(std::memory_order_acquire) : DT_NONE;
}

}  // namespace hux
