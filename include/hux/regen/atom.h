// Regeneration atoms and contexts: the small values that carry a regeneration
// run's work and results.
//
// A GRegenAtom names one changed property of one object. A GRegenContext
// collects, over one or more runs, the ids of the objects that were
// regenerated, updated or deleted. A GRemoveObjectContext travels with the
// removal of one object and gathers the further objects to remove with it.
// All three are plain copyable values with no ownership of anything; one
// thread at a time may use an instance.
#pragma once

#include <cstdint>
#include <set>
#include <string>

#include <hux/export.h>

namespace hux {

class HUX_API GRegenAtom {
 public:
  // An atom for the property `propertyId` of the object `targetId`.
  GRegenAtom(std::uint64_t const& targetId, std::wstring const& propertyId);
  // The same, taking over `propertyId`, or from a null-terminated name (a
  // null pointer gives the empty name): no temporary string is made.
  GRegenAtom(std::uint64_t const& targetId, std::wstring&& propertyId);
  GRegenAtom(std::uint64_t const& targetId, wchar_t const* propertyId);

  // The object whose property changed.
  std::uint64_t const& TargetId() const { return m_nTargetId; }
  // The name of the changed property.
  std::wstring const& PropertyId() const { return m_strPropertyId; }

  // True when both the property ids (code unit by code unit, so case
  // matters) and the target ids are equal.
  bool IsEqual(GRegenAtom const& other) const;

 private:
  std::uint64_t m_nTargetId;
  std::wstring m_strPropertyId;
};

// What one or more regeneration runs did. The engine only adds ids; a caller
// that reuses a context accumulates the ids of several runs.
class HUX_API GRegenContext {
 public:
  GRegenContext();

  // Each inserts `id` into its set; inserting an id twice keeps one entry.
  void MarkDelete(std::uint64_t const& id);
  void MarkRegened(std::uint64_t const& id);
  void MarkUpdated(std::uint64_t const& id);

  // Objects removed through the container since the run before.
  std::set<std::uint64_t> const& GetDeletedIds() const { return m_setDeletedIds; }
  // Target ids of the atoms whose regeneration steps ran.
  std::set<std::uint64_t> const& GetRegenedIds() const { return m_setRegenedIds; }
  // Target ids of the atoms for which the target or a dependant changed.
  std::set<std::uint64_t> const& GetUpdatedIds() const { return m_setUpdatedIds; }

 private:
  std::set<std::uint64_t> m_setDeletedIds;
  std::set<std::uint64_t> m_setRegenedIds;
  std::set<std::uint64_t> m_setUpdatedIds;
};

// The removal of one object: its id and the ids that must go with it.
class HUX_API GRemoveObjectContext {
 public:
  explicit GRemoveObjectContext(std::uint64_t const& targetId);

  // Asks for `id` to be removed as a consequence; any id is accepted, the
  // target's own included.
  void MarkRemove(std::uint64_t const& id);

  std::uint64_t const& GetTargetId() const { return m_nTargetId; }
  std::set<std::uint64_t> const& GetIdsToRemove() const { return m_setIdsToRemove; }

 private:
  std::uint64_t m_nTargetId;
  std::set<std::uint64_t> m_setIdsToRemove;
};

}  // namespace hux
