// EntityFacade: an IDataIOFacade that stores a project's entity tree in one
// table of a GDBDevice. It uses the device interface alone, so every
// database engine shares it; only the device differs.
//
// The table "EntityTable" holds one row per entity: "ID" (the key, the
// entity's object id), "PID" (the parent's id, 0 for the root), "POS" (the
// place among the parent's children: rows sort by it, then by id; gaps are
// allowed), "TYPE" (the factory type code; 0 for a plain IBaseEntity),
// "FLAGS" (the persistent flag EGOBJECT_NO_MODIFIED), "VERSION" (raised by
// every write of the row) and "DATA": an archive holding the entity's own
// IBase object (for a project, its id counter; an empty object for other
// classes) followed by its implementation object. Entities are rebuilt
// through the factory, so every stored class must be an IBase with a
// createBaseObject record; saving any other class fails rather than write
// data that could not be loaded. The table "EntityCounter" holds one row
// (ID 1): "LASTID", the highest id handed out to any process, "STORE", a
// random number naming the store, and "LOCK", always null.
//
// Several processes (or devices) may work on one project at once:
// - Every load and save runs in one access and first writes the counter row,
//   whose write lock serializes them. A device's access must therefore be a
//   transaction that holds a written row's lock until it ends and whose
//   statements see what others committed before them (SQLite: BEGIN
//   IMMEDIATE; PostgreSQL: READ COMMITTED).
// - Versions: the facade remembers, per device, the version of each row it
//   loaded or wrote. A save writes only the rows that changed (a project's
//   counter object does not count); when another process changed or deleted
//   such a row, or added a row beneath an entity being deleted, the save
//   fails naming the entity, is rolled back, and the caller's state stays
//   (EGOBJECT_MODIFIED, the deletion list). Reload to merge. Rows this
//   process never saw are never touched.
// - Ids: a load reserves kIdBlock ids in LASTID and raises the project's
//   counter to the block's start; a save reserves the next block when half
//   of it is used. An entity saved for the first time keeps its id when it
//   lies in a block of this process or above LASTID; otherwise (ids handed
//   out past the block while another process reserved them) it is given a
//   fresh id before its row is written.
// - This state starts with LoadProjectData or SaveProjectData on a device;
//   the facade marks such a device with context flag 3. Without it (a new
//   project, another store) a save writes its rows as they are, and
//   SaveProjectData removes every other row. A commit failing after
//   SaveProjectData returned leaves the state ahead of the store: the next
//   save reports a conflict.
//
// Rows of a type code no loaded module registers (and the rows beneath
// them) are kept: the load succeeds without them, and saves leave them as
// they are, unless their parent is deleted. After a load the project's
// counter is above every stored id.
//
// What the facade needs of a device: EnsureTable creates the table or adds
// the columns it lacks; WriteRow inserts a row or updates only the columns
// it names (so a swapped-out entity's DATA is kept); integers come back as
// integer variants and byte blocks as a variant holding a reference to a
// GMemStream; BeginAccess/EndAccess/CancelAccess bracket one transaction.
// A save is atomic when the device's transaction is: a process killed during
// a save leaves the store as it was before the save.
//
// Loaded entities are unmodified and marked EGOBJECT_RECORD_DELETE (they are
// stored, so their deletion must reach the database); a loaded project owns
// the device it was loaded through. Failures: the operations without a
// result throw std::runtime_error (after cancelling the device's access, so
// nothing half-written is kept); the others return false or null. LastError
// says why. One thread at a time.
#pragma once

#include <memory>
#include <string>
#include <unordered_map>
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
  static const char* const kCounterTable;
  // The ids one reservation takes.
  static constexpr __int64 kIdBlock = 1 << 16;

  EntityFacade();
  ~EntityFacade() override;

  // Makes the store hold the project's tree: writes every entity whose row
  // differs from it, removes the rows of entities this process loaded or
  // saved and that are no longer in the tree (and the deletion list's), and
  // empties the device's deletion list. Rows added by other processes stay.
  // Entities swapped out keep their stored data; entities without an id get
  // one from the project.
  void SaveProjectData(hux::IBaseProject* project, hux::GDBDevice* device) override;
  // Null (with LastError) when the tree cannot be rebuilt: no such project,
  // a type the factory cannot create, or a tree deeper than kMaxDepth.
  hux::IBaseEntity* LoadProjectData(__int64 projectId, hux::GDBDevice* device) override;
  // Writes the entity's row in an access of its own, unless the store holds
  // it already; false (with LastError) on a conflict or failure. A stored
  // entity keeps its stored place: the project's next save writes the
  // places that changed. Its cost does not grow with the project.
  bool SaveEntityData(hux::IBaseEntity* entity, hux::GDBDevice* device) override;
  // Removes the rows of the ids in the device's deletion list (and empties
  // it), writes the data of the entities marked EGOBJECT_MODIFIED or not
  // stored yet and the place of those that moved, then clears the mark.
  bool SaveModifiedData(hux::IBaseProject* project, hux::GDBDevice* device) override;
  hux::IBaseEntity* LoadEntity(__int64 objectId, hux::GDBDevice* device) override;
  bool DeleteEntityData(__int64 objectId, hux::GDBDevice* device) override;
  bool IsEntityStored(__int64 objectId, hux::GDBDevice* device) override;
  // Reads the entity's stored data into its implementation object and clears
  // EGOBJECT_SWAPPED. Throws when the device is missing or the entity is not
  // stored, so the library keeps no unfilled object.
  void LoadEntityData(hux::IBaseEntity* entity, hux::GDBDevice* device) override;
  // Saves the entity as SaveEntityData does and marks it
  // EGOBJECT_RECORD_DELETE. Throws when it cannot, so the library keeps the
  // data in memory.
  void SwapOutEntityData(hux::IBaseEntity* entity, hux::GDBDevice* device) override;
  // Creates the table when needed; throws when the database cannot be used.
  void PrepareSave(hux::GDBDevice* device) override;

  // Drops what the facade knows of the store behind `device` (about 50 bytes
  // per entity). Call it before destroying a project loaded or saved through
  // the device; a later save through the device replaces the store.
  void Forget(hux::GDBDevice* device);

  const std::string& LastError() const { return m_strLastError; }
  const Stats& GetStats() const { return m_stats; }

  // The deepest tree LoadProjectData and LoadEntity rebuild (entity
  // destruction recurses once per level).
  static constexpr int kMaxDepth = 10000;

 private:
  enum class Mode { Whole, Modified, One };
  struct Row;
  struct Session;

  // Saves inside the device's access; `session` receives the state to keep
  // once the access succeeds, `saved` the entities saved. False when no
  // state is to be kept (a partial save into a store not known here).
  bool Save(hux::GDBDevice* device, hux::IBaseProject* project, hux::IBaseEntity* single, Mode mode,
            Session& session, std::vector<hux::IBaseEntity*>& saved);
  // Keeps `session` for the device (forgets the device's for null) and marks
  // what was saved as stored.
  void Commit(hux::GDBDevice* device, std::unique_ptr<Session> session, const std::vector<hux::IBaseEntity*>& saved,
              bool clearDeletions);
  hux::IBaseEntity* Rebuild(const std::vector<Row>& rows, size_t root, hux::GDBDevice* projectDevice,
                            Session* session);
  bool ReadRows(hux::GDBDevice* device, std::vector<Row>& rows);
  bool Failed(const std::string& what);

  std::string m_strLastError;
  Stats m_stats;
  // What this facade knows of the store behind each device.
  std::unordered_map<hux::GDBDevice*, std::unique_ptr<Session>> m_sessions;
};

}  // namespace hux::host
