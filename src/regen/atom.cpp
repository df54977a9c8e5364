#include <hux/regen/atom.h>

#include <utility>

namespace hux {

GRegenAtom::GRegenAtom(std::uint64_t const& targetId, std::wstring const& propertyId)
    : m_nTargetId(targetId), m_strPropertyId(propertyId) {}

GRegenAtom::GRegenAtom(std::uint64_t const& targetId, std::wstring&& propertyId)
    : m_nTargetId(targetId), m_strPropertyId(std::move(propertyId)) {}

GRegenAtom::GRegenAtom(std::uint64_t const& targetId, wchar_t const* propertyId)
    : m_nTargetId(targetId), m_strPropertyId(propertyId ? propertyId : L"") {}

// wchar_t holds whole code points here; two strings have equal UTF-16 forms
// exactly when their code points are equal, so a plain comparison is the
// code-unit comparison the atoms are defined by.
bool GRegenAtom::IsEqual(GRegenAtom const& other) const {
  return m_strPropertyId == other.m_strPropertyId && m_nTargetId == other.m_nTargetId;
}

namespace {

// Runs often mark ids in ascending order; those go in at the end without a
// search from the root.
void InsertId(std::set<std::uint64_t>& ids, std::uint64_t id) {
  if (ids.empty() || *ids.rbegin() < id)
    ids.emplace_hint(ids.end(), id);
  else if (*ids.rbegin() != id)
    ids.insert(id);
}

}  // namespace

GRegenContext::GRegenContext() = default;

void GRegenContext::MarkDelete(std::uint64_t const& id) { InsertId(m_setDeletedIds, id); }
void GRegenContext::MarkRegened(std::uint64_t const& id) { InsertId(m_setRegenedIds, id); }
void GRegenContext::MarkUpdated(std::uint64_t const& id) { InsertId(m_setUpdatedIds, id); }

GRemoveObjectContext::GRemoveObjectContext(std::uint64_t const& targetId) : m_nTargetId(targetId) {}

void GRemoveObjectContext::MarkRemove(std::uint64_t const& id) { m_setIdsToRemove.insert(id); }

}  // namespace hux
