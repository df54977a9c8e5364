// EntityFacade: an IDataIOFacade that stores a project's entity tree in one
// table of a GDBDevice. It uses the device interface alone, so every
// database engine shares it; only the device differs.
//
// The table "EntityTable" holds one row per entity: "ID" (the key, the
// entity's object id), "PID" (the parent's id, 0 for the root), "POS" (the
// place among the parent's children), "TYPE" (the factory type code; 0 for a
// plain IBaseEntity), "FLAGS" (the persistent flag EGOBJECT_NO_MODIFIED) and
// "DATA": an archive holding the entity's own IBase object (for a project,
// its id counter; an empty object for other classes) followed by its
// implementation object. Entities are rebuilt through the factory, so every
// stored class must be an IBase with a createBaseObject record; saving any
// other class fails rather than write data that could not be loaded.
//
// What the facade needs of a device: EnsureTable creates the table or adds
// the columns it lacks; WriteRow inserts a row or updates only the columns
// it names (so a swapped-out entity's DATA is kept); integers come back as
// integer variants and byte blocks as a variant holding a reference to a
// GMemStream; BeginAccess/EndAccess/CancelAccess bracket one transaction.
//
// Loaded entities are unmodified and marked EGOBJECT_RECORD_DELETE (they are
// stored, so their deletion must reach the database); a loaded project owns
// the device it was loaded through. Failures: the operations without a
// result throw std::runtime_error (after cancelling the device's access, so
// nothing half-written is kept); the others return false or null. LastError
// says why. One thread at a time.
#pragma once

#include <string>
#include <vector>

#include <hux/export.h>
#include <hux/object/dbdevice.h>

namespace hux {
class GMemStream;
}

namespace hux::host {

class HUX_API EntityFacade : public hux::IDataIOFacade {
 public:
  // Counters of the work done, for reports and tests.
  struct Stats {
    int rowsWritten = 0;
    int rowsDeleted = 0;
    int entitiesLoaded = 0;
    int swappedOut = 0;
    int swappedIn = 0;
  };

  static const char* const kTable;

  // Replaces the stored tree by the project's: writes every entity, removes
  // the rows of entities no longer in the tree and empties the device's
  // deletion list. Entities swapped out keep their stored data; entities
  // without an id get one from the project.
  void SaveProjectData(hux::IBaseProject* project, hux::GDBDevice* device) override;
  // Null (with LastError) when the tree cannot be rebuilt: no such project,
  // a type the factory cannot create, or a tree deeper than kMaxDepth.
  hux::IBaseEntity* LoadProjectData(__int64 projectId, hux::GDBDevice* device) override;
  bool SaveEntityData(hux::IBaseEntity* entity, hux::GDBDevice* device) override;
  // Removes the rows of the ids in the device's deletion list (and empties
  // it), writes the place of every entity and the data of those marked
  // EGOBJECT_MODIFIED, then clears the mark.
  bool SaveModifiedData(hux::IBaseProject* project, hux::GDBDevice* device) override;
  hux::IBaseEntity* LoadEntity(__int64 objectId, hux::GDBDevice* device) override;
  bool DeleteEntityData(__int64 objectId, hux::GDBDevice* device) override;
  bool IsEntityStored(__int64 objectId, hux::GDBDevice* device) override;
  // Reads the entity's stored data into its implementation object and clears
  // EGOBJECT_SWAPPED. Throws when the device is missing or the entity is not
  // stored, so the library keeps no unfilled object.
  void LoadEntityData(hux::IBaseEntity* entity, hux::GDBDevice* device) override;
  // Writes the entity's row with its data (in an access of its own) and marks
  // it EGOBJECT_RECORD_DELETE. Throws when it cannot write, so the library
  // keeps the data in memory.
  void SwapOutEntityData(hux::IBaseEntity* entity, hux::GDBDevice* device) override;
  // Creates the table when needed; throws when the database cannot be used.
  void PrepareSave(hux::GDBDevice* device) override;

  const std::string& LastError() const { return m_strLastError; }
  const Stats& GetStats() const { return m_stats; }

  // The deepest tree LoadProjectData and LoadEntity rebuild (entity
  // destruction recurses once per level).
  static constexpr int kMaxDepth = 10000;

 private:
  struct Item;
  struct Row;

  void Flatten(hux::IBaseProject* project, std::vector<Item>& items);
  void WriteEntity(hux::GDBDevice* device, const Item& item, bool withData);
  hux::IBaseEntity* Rebuild(const std::vector<Row>& rows, size_t root, hux::GDBDevice* projectDevice);
  bool ReadRows(hux::GDBDevice* device, std::vector<Row>& rows);
  bool Failed(const std::string& what);

  std::string m_strLastError;
  Stats m_stats;
};

}  // namespace hux::host
