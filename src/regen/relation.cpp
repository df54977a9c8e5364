#include <hux/regen/relation.h>

#include <algorithm>

namespace hux {

GRegenObjectRelation::GRegenObjectRelation() = default;

void GRegenObjectRelation::Add(RelationType type, std::uint64_t const& id) { m_mapRelations[type].insert(id); }

void GRegenObjectRelation::Remove(RelationType type, std::uint64_t const& id) { m_mapRelations[type].erase(id); }

void GRegenObjectRelation::Remove(RelationMap const& other) {
  for (auto const& [type, ids] : other) {
    if (ids.empty()) continue;
    std::set<std::uint64_t>& own = m_mapRelations[type];
    if (own.empty()) continue;
    // Erasing one by one keeps the set's nodes; the result is the ordered
    // difference own minus other either way.
    for (std::uint64_t id : ids) own.erase(id);
  }
}

std::set<std::uint64_t> const& GRegenObjectRelation::GetRelatedIds(RelationType type) { return m_mapRelations[type]; }

void GRegenObjectRelation::GetAllRelations(std::set<std::uint64_t>& ids) const {
  for (auto const& entry : m_mapRelations) ids.insert(entry.second.begin(), entry.second.end());
}

bool GRegenObjectRelation::IsIdExist(std::uint64_t const& id) const {
  return std::any_of(m_mapRelations.begin(), m_mapRelations.end(),
                     [&](auto const& entry) { return entry.second.count(id) != 0; });
}

GRegenObjectRelationDb::GRegenObjectRelationDb() = default;

void GRegenObjectRelationDb::AddRelation(std::uint64_t const& fromId, std::uint64_t const& toId, RelationType type) {
  m_mapEntries[toId].Add(type, fromId);
}

void GRegenObjectRelationDb::RemoveRelation(std::uint64_t const& fromId, std::uint64_t const& toId,
                                            RelationType type) {
  auto it = m_mapEntries.find(toId);
  if (it != m_mapEntries.end()) it->second.Remove(type, fromId);
}

GRegenObjectRelation* GRegenObjectRelationDb::GetRelations(std::uint64_t const& id) {
  auto it = m_mapEntries.find(id);
  return it == m_mapEntries.end() ? nullptr : &it->second;
}

void GRegenObjectRelationDb::RemoveRelation(std::uint64_t const& id) { m_mapEntries.erase(id); }

void GRegenObjectRelationDb::ClearAll() { m_mapEntries.clear(); }

IRelationContext::~IRelationContext() = default;

GCollectRelationContext::GCollectRelationContext(GRegenObjectRelationDb& db) : m_db(db) {}

void GCollectRelationContext::AddRelation(std::uint64_t const& fromId, std::uint64_t const& toId,
                                          GRegenObjectRelation::RelationType type) {
  m_db.AddRelation(fromId, toId, type);
}

GRemoveRelationContext::GRemoveRelationContext(GRegenObjectRelationDb& db, std::set<std::uint64_t>& ids)
    : m_db(db), m_setIds(ids) {}

void GRemoveRelationContext::AddRelation(std::uint64_t const& fromId, std::uint64_t const& toId,
                                         GRegenObjectRelation::RelationType type) {
  m_db.RemoveRelation(fromId, toId, type);
}

GQueryRelationContext::GQueryRelationContext() = default;

void GQueryRelationContext::AddRelation(std::uint64_t const& /*fromId*/, std::uint64_t const& toId,
                                        GRegenObjectRelation::RelationType /*type*/) {
  m_listIds.push_back(toId);
  m_bSorted = false;
}

void GQueryRelationContext::Clear() {
  m_listIds.clear();
  m_bSorted = true;
}

bool GQueryRelationContext::IsIdExist(std::uint64_t const& id) const {
  // A few ids are scanned; more are sorted once, so that repeated questions
  // cost a binary search each.
  constexpr std::size_t kScanned = 16;
  if (!m_bSorted && m_listIds.size() > kScanned) {
    std::sort(m_listIds.begin(), m_listIds.end());
    m_listIds.erase(std::unique(m_listIds.begin(), m_listIds.end()), m_listIds.end());
    m_bSorted = true;
  }
  if (m_bSorted) return std::binary_search(m_listIds.begin(), m_listIds.end(), id);
  return std::find(m_listIds.begin(), m_listIds.end(), id) != m_listIds.end();
}

}  // namespace hux
