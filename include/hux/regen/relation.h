// Relations between regenerable objects: the relation database and the
// visitors that objects report their relations to.
//
// An object that depends on another reports "object A refers to object B with
// a relation of type T" to an IRelationContext. The database files each report
// under the object referred to (B), so that the entry of B lists B's
// dependants by type. The three visitors record reports in a database, erase
// them from it, or collect them for a question. Ids are unsigned 64-bit; sets
// of ids are ascending. Nothing here is synchronised: one thread at a time.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <unordered_map>
#include <vector>

#include <hux/export.h>

namespace hux {

// The relations recorded under one object: for each relation type, the set of
// ids. A type may map to an empty set, which counts as no relation.
class HUX_API GRegenObjectRelation {
 public:
  // Relation types are defined by the modules that report relations (cast
  // any 32-bit value); the library only orders them as signed integers.
  enum RelationType : std::int32_t { RELATION_DEFAULT = 0 };
  using RelationMap = std::map<RelationType, std::set<std::uint64_t>>;
  using const_iterator = RelationMap::const_iterator;

  GRegenObjectRelation();

  // Inserts `id` into the set of `type`, creating the set when needed.
  void Add(RelationType type, std::uint64_t const& id);
  // Erases `id` from the set of `type`; a type without a set gets an empty
  // one and nothing else happens.
  void Remove(RelationType type, std::uint64_t const& id);
  // For each type whose set in `other` is not empty, replaces the own set of
  // that type by own minus other (an absent own set becomes an empty one).
  void Remove(RelationMap const& other);
  // The set of `type`; creates an empty set when the type has none.
  std::set<std::uint64_t> const& GetRelatedIds(RelationType type);
  // Adds every id of every type to `ids` (which is not cleared first).
  void GetAllRelations(std::set<std::uint64_t>& ids) const;
  // True when the set of at least one type holds `id`.
  bool IsIdExist(std::uint64_t const& id) const;

  // The (type, set) pairs in ascending type order.
  const_iterator begin() const { return m_mapRelations.begin(); }
  const_iterator end() const { return m_mapRelations.end(); }

 private:
  RelationMap m_mapRelations;
};

// The relation database: for each object id, the ids of its dependants by
// relation type. Entries and sets that become empty stay in place. Entries
// are found by hashing the id, since regeneration looks one up for every
// object it reaches.
class HUX_API GRegenObjectRelationDb {
 public:
  using RelationType = GRegenObjectRelation::RelationType;

  GRegenObjectRelationDb();

  // Files `fromId` under `type` in the entry of `toId` (the object referred
  // to), creating the entry and the set as needed.
  void AddRelation(std::uint64_t const& fromId, std::uint64_t const& toId, RelationType type);
  // Removes `fromId` from the set of `type` in the entry of `toId`, with the
  // behaviour of GRegenObjectRelation::Remove. Nothing happens when `toId`
  // has no entry.
  void RemoveRelation(std::uint64_t const& fromId, std::uint64_t const& toId, RelationType type);
  // The entry of `id`, or null. The pointer stays valid until that entry is
  // removed or the database is cleared or destroyed.
  GRegenObjectRelation* GetRelations(std::uint64_t const& id);
  // Erases the entry of `id` with all it holds; relations that `id` reported
  // to other objects stay in those objects' entries.
  void RemoveRelation(std::uint64_t const& id);
  // Erases all entries.
  void ClearAll();

 private:
  std::unordered_map<std::uint64_t, GRegenObjectRelation> m_mapEntries;
};

// Receives relation reports from IRegenableObject::CollectRelations.
class HUX_API IRelationContext {
 public:
  virtual ~IRelationContext();
  // One report: object `fromId` refers to object `toId` with a relation of
  // type `type`.
  virtual void AddRelation(std::uint64_t const& fromId, std::uint64_t const& toId,
                           GRegenObjectRelation::RelationType type) = 0;
};

// Records every report in a database. The database must outlive the visitor.
class HUX_API GCollectRelationContext : public IRelationContext {
 public:
  explicit GCollectRelationContext(GRegenObjectRelationDb& db);
  void AddRelation(std::uint64_t const& fromId, std::uint64_t const& toId,
                   GRegenObjectRelation::RelationType type) override;

 private:
  GRegenObjectRelationDb& m_db;
};

// Erases every report from a database. The id set is only kept for the
// caller (the visitor does not touch it); both must outlive the visitor.
class HUX_API GRemoveRelationContext : public IRelationContext {
 public:
  GRemoveRelationContext(GRegenObjectRelationDb& db, std::set<std::uint64_t>& ids);
  void AddRelation(std::uint64_t const& fromId, std::uint64_t const& toId,
                   GRegenObjectRelation::RelationType type) override;

 private:
  GRegenObjectRelationDb& m_db;
  std::set<std::uint64_t>& m_setIds;
};

// Collects the objects referred to, to answer whether an object still
// refers to a given one. Regeneration hands an empty one to each dependant
// it asks. Copies are deep.
class HUX_API GQueryRelationContext : public IRelationContext {
 public:
  GQueryRelationContext();
  // Keeps `toId`; `fromId` and `type` are not used.
  void AddRelation(std::uint64_t const& fromId, std::uint64_t const& toId,
                   GRegenObjectRelation::RelationType type) override;
  // True when a report named `id` as the object referred to.
  bool IsIdExist(std::uint64_t const& id) const;

 private:
  friend class GRegenScheduler;
  // Empties the context and keeps its memory: regeneration hands each
  // dependant an empty one without allocating again.
  void Clear();

  // The ids reported, in report order until a question about many of them
  // sorts them. A plain list: most objects report a handful of relations.
  mutable std::vector<std::uint64_t> m_listIds;
  mutable bool m_bSorted = true;
};

}  // namespace hux
