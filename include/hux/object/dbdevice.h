// The interfaces through which projects reach the host's database: the device
// a project owns (GDBDevice, with its context flags and its record of deleted
// ids) and the process-wide I/O facade (IDataIOFacade) that reads and writes
// entities.
//
// The host implements both. This library calls four device operations
// (OpenDB, BeginAccess, EndAccess, QueryTable) and five facade operations
// (SaveProjectData, LoadProjectData, LoadEntityData, SwapOutEntityData,
// PrepareSave); the others are part of the contract between a host's device
// and its facade and are documented below for hosts to implement.
//
// Ownership: a project owns its device; the host owns the facade. Threads: a
// device is used by the thread working on its project; the facade pointer is
// set once at start-up and read without a lock.
#pragma once

#include <string>
#include <vector>

#include <hux/export.h>

// The ids of stored entities deleted since the host last emptied the list, in
// order of deletion, duplicates kept. Filled by entity deletion; read and
// emptied only by the host.
class HUX_API GObjectsState {
 public:
  GObjectsState();
  GObjectsState(const GObjectsState& other);
  GObjectsState& operator=(const GObjectsState& other);
  ~GObjectsState();

  // Appends an id.
  void RegisterDeleteObject(__int64 id);
  // Empties the list.
  void ClearAllList();
  // Replaces the contents of `ids` with a copy of the list.
  void GetDeleteList(std::vector<__int64>& ids);

 private:
  std::vector<__int64> m_vecDeleteID;
};

namespace hux {

class CVariant;
class IBaseEntity;
class IBaseProject;

// Twelve one-byte flags and a 32-bit mode telling the entity code what the
// device is doing. This library reads and writes only the loading, saving and
// deletion-recording-off flags and the mode; the others belong to the host.
class HUX_API IODeviceContext {
 public:
  // Flag indices.
  enum EFlag {
    FLAG_LOADING = 0,       // set by IBaseProject::LoadProject around the facade's load
    FLAG_SAVING = 1,        // set by IBaseProject::SaveProject around the facade's save
    FLAG_NO_RECORD_DELETE = 4,  // while set, deleted entities are not recorded
    FLAG_COUNT = 12,
  };

  // Flags 0 to 11 = 0 0 0 0 0 1 0 0 1 0 1 1; mode 2.
  IODeviceContext();

  // Mode 0 becomes 2; any other mode stays.
  void SetNeedLazyCaculateModified();

  // Flag `index` (0 to 11); false for an index outside that range.
  bool GetFlag(int index) const;
  // Sets flag `index`; an index outside 0 to 11 is ignored.
  void SetFlag(int index, bool on);
  bool IsLoading() const { return m_bFlags[FLAG_LOADING]; }
  void SetLoading(bool on) { m_bFlags[FLAG_LOADING] = on; }
  bool IsSaving() const { return m_bFlags[FLAG_SAVING]; }
  void SetSaving(bool on) { m_bFlags[FLAG_SAVING] = on; }
  bool IsRecordDeleteOff() const { return m_bFlags[FLAG_NO_RECORD_DELETE]; }
  void SetRecordDeleteOff(bool on) { m_bFlags[FLAG_NO_RECORD_DELETE] = on; }

  int GetMode() const { return m_nMode; }
  void SetMode(int mode) { m_nMode = mode; }

 private:
  bool m_bFlags[FLAG_COUNT];
  int m_nMode;
};

// The database device of a project, implemented by the host. The project
// (IBaseProject::SetProjectDBDevice) owns it and destroys it with itself.
//
// Rows are exchanged as variants, column by column; a byte block travels as a
// variant holding a GMemStream (type code 1003), and a stored null comes back
// as an empty variant. The first column given to EnsureTable is the table's
// unique key; results come row after row in the order of that key. The
// virtual operations are declared in slot order (destructor, then slots 1 to
// 12).
class HUX_API GDBDevice {
 public:
  // Context with its construction values, empty objects state.
  GDBDevice();
  GDBDevice(const GDBDevice& other);
  GDBDevice& operator=(const GDBDevice& other);
  virtual ~GDBDevice();

  // Opens the database at `path`, creating it when it does not exist; a
  // database opened before is closed first. True when the database can be
  // used. Called by LoadProject (which fails on false) and SaveProject.
  virtual bool OpenDB(const std::wstring& path) = 0;
  // Closes the database; nothing happens when none is open.
  virtual void CloseDB() = 0;
  // True while a database is open.
  virtual bool IsDBOpen() = 0;
  // Bracket one load or save of a project: called before and after the
  // facade's work. A device may use them as a transaction.
  virtual void BeginAccess() = 0;
  virtual void EndAccess() = 0;
  // Marks the access in progress as failed: the EndAccess that closes it
  // discards what was written during it instead of keeping it. A facade calls
  // it when a save goes wrong; nothing happens outside an access.
  virtual void CancelAccess() = 0;
  // Creates `table` with `columns` when it does not exist, and adds the
  // columns it lacks; columns[0] is the table's unique 64-bit integer key.
  // True when the table has all the columns afterwards.
  virtual bool EnsureTable(const std::string& table, const std::vector<std::string>& columns) = 0;
  // Writes the named columns of one row: values[i] goes to columns[i] (the
  // two have the same length) and columns[0] is the key. A new key inserts a
  // row; an existing one updates only the named columns. Integer, floating
  // and text variants are stored as such, a variant holding a GMemStream as
  // its bytes, an empty variant as null. False for any other value or a
  // failed statement.
  virtual bool WriteRow(const std::string& table, const std::vector<std::string>& columns,
                        const std::vector<CVariant>& values) = 0;
  // Removes the rows whose `keyColumn` equals `keyValue`; returns how many
  // were removed, or -1 when the statement failed.
  virtual __int64 DeleteRows(const std::string& table, const std::string& keyColumn, __int64 keyValue) = 0;
  // Removes every row of `table`. True on success (also when it was empty).
  virtual bool ClearTable(const std::string& table) = 0;
  // Replaces the contents of `result` with the named columns of every row of
  // `table`, row after row, in the order of the table's key. True when the
  // query ran.
  virtual bool QueryAllRows(const std::string& table, const std::vector<std::string>& columns,
                            std::vector<CVariant>& result) = 0;
  // Replaces the contents of `result` with the named columns of the rows whose
  // `keyColumn` equals `keyValue`, row after row, in the order of the table's
  // key; no row leaves it empty. True when the query ran. LoadProject asks
  // for "ID" of "EntityTable" where "PID" = 0 and uses the first value.
  virtual bool QueryTable(const std::string& table, const std::vector<std::string>& columns,
                          const std::string& keyColumn, __int64 keyValue, std::vector<CVariant>& result) = 0;

  IODeviceContext& GetContext() { return m_context; }
  GObjectsState& GetObjectsState() { return m_objectsState; }

 private:
  IODeviceContext m_context;
  GObjectsState m_objectsState;
};

// The process-wide I/O facade, implemented and owned by the host, installed
// with SetIOFacade. It reads and writes whole projects and single entities.
// Whether one is installed decides whether deletions are recorded, entity
// data can be swapped out and in, and the flag rules of IBaseEntity apply.
// The virtual operations are declared in slot order (destructor, then slots 1
// to 10).
class HUX_API IDataIOFacade {
 public:
  virtual ~IDataIOFacade();

  // Writes the whole project (every entity of its tree) through `device`.
  // Called by SaveProject between the device's BeginAccess and EndAccess,
  // with the device's saving flag set.
  virtual void SaveProjectData(IBaseProject* project, GDBDevice* device) = 0;
  // Builds the stored project `projectId` and its entities; returns the root
  // (a project, owned by the caller) or null. Called by LoadProject with the
  // device's loading flag set, so added entities keep their stored ids.
  virtual IBaseEntity* LoadProjectData(__int64 projectId, GDBDevice* device) = 0;
  // Writes one entity (its place in the tree and its data, not its
  // children), replacing a stored copy. True on success.
  virtual bool SaveEntityData(IBaseEntity* entity, GDBDevice* device) = 0;
  // Writes what changed since the last save: removes the records of the ids
  // in the device's objects state (and empties it), writes every entity
  // marked EGOBJECT_MODIFIED and clears that mark. True on success.
  virtual bool SaveModifiedData(IBaseProject* project, GDBDevice* device) = 0;
  // Builds the stored entity `objectId` and its stored descendants as a
  // detached tree (owned by the caller) keeping their ids; null when the id
  // is not stored.
  virtual IBaseEntity* LoadEntity(__int64 objectId, GDBDevice* device) = 0;
  // Removes the record of entity `objectId`. True when one was removed.
  virtual bool DeleteEntityData(__int64 objectId, GDBDevice* device) = 0;
  // True when the database holds a record of entity `objectId`.
  virtual bool IsEntityStored(__int64 objectId, GDBDevice* device) = 0;
  // Fills the entity's freshly created implementation object with the data
  // swapped out earlier. `device` is the entity's GetDBDevice() and may be null.
  virtual void LoadEntityData(IBaseEntity* entity, GDBDevice* device) = 0;
  // Writes the entity's data to the database; the entity then releases its
  // implementation object. `device` is the project's and may be null.
  virtual void SwapOutEntityData(IBaseEntity* entity, GDBDevice* device) = 0;
  // Called first in a save, before the saving flag is raised.
  virtual void PrepareSave(GDBDevice* device) = 0;
};

// The installed facade, or null (the state at load).
HUX_API IDataIOFacade* GetIOFacade();
// Installs `facade` (null removes it). The previous facade is neither
// destroyed nor notified. Call at start-up, before other threads use entities.
HUX_API void SetIOFacade(IDataIOFacade* facade);

}  // namespace hux
