// IBaseProject: the root entity of a project. It owns the project's database
// device, hands out the unique object ids of its entities, and loads and
// saves the project through the device and the installed I/O facade.
//
// As an IBase, a project persists its own small state (the id counter) as one
// archive object of 16 bytes: version 1, one block (id 1, 8 bytes) holding
// the counter (and what it keeps of newer content it read). Problems while serializing are reported through the archive's
// ErrorMsgBox, at most once per process, and the object is rolled back.
//
// Projects are not copyable. A project is loaded, saved and serialized by one
// thread at a time.
#pragma once

#include <cstddef>
#include <string>

#include <hux/export.h>
#include <hux/io/archive.h>
#include <hux/object/base.h>
#include <hux/object/entity.h>

namespace hux {

class GDBDevice;

class HUX_API IBaseProject : public IBaseEntity, public IBase {
 public:
  // No device, counter 1 (no id handed out yet).
  IBaseProject();
  // Destroys the device first, so destroying a whole project records no
  // deletions, then the entity (implementation object, children).
  ~IBaseProject() override;
  IBaseProject(const IBaseProject&) = delete;
  IBaseProject& operator=(const IBaseProject&) = delete;

  // Adds 1 to the counter and returns it: 2, 3, ... on a new project.
  // Throws std::overflow_error when the counter is at its largest value.
  __int64 GetUniqueID();
  // The last id handed out.
  __int64 GetLastUniqueID() const { return m_nUniqueID; }
  // Makes the counter at least `id` (never lowers it), so that the ids a
  // store already holds are not handed out again. Kept newer content stays.
  void RaiseUniqueID(__int64 id) {
    if (id > m_nUniqueID) m_nUniqueID = id;
  }

  GDBDevice* GetProjectDBDevice() const { return m_pDBDevice; }
  // Stores `device` and takes ownership of it. A device set before is not
  // destroyed: it returns to the caller's ownership.
  void SetProjectDBDevice(GDBDevice* device);

  // Stores or loads the counter. A newer version (2 or more) leaves the
  // counter alone and is kept whole, and unknown blocks are kept: storing
  // writes them back unchanged (the kept object in place of the project's
  // own, the kept blocks after the counter block). A counter block of the wrong size is
  // reported and reading goes on at its end (a block shorter than the
  // counter leaves the counter unchanged). Exceptions are caught, reported
  // and rolled back, and so is a write the device loses while the object is
  // stored. Returns true, except when storing into an archive that has lost
  // a write (GDbArchive::IsAllWriteDataOK).
  bool Serialize(GDbArchive& archive) override;
  // DT_PROJECT (1500).
  eXOMDataType GetObjectType() override;
  // The bytes of newer content the last load kept (a newer object, unknown
  // blocks); 0 when it kept none.
  size_t GetKeptByteCount() const;

  // Saves the whole project to the database at `path`: OpenDB (its result is
  // ignored), the facade's PrepareSave, then with the saving flag set
  // BeginAccess, the facade's SaveProjectData and EndAccess. Nothing happens
  // without a device; without an installed facade nothing happens either and
  // a line goes to the debugger output. If the facade throws, EndAccess is
  // still called, the flag cleared, and the exception passes.
  void SaveProject(const std::wstring& path);

  // Loads project `projectId` (0: the one whose "ID" the device's QueryTable
  // gives for "EntityTable" where "PID" = 0) from the database at `path`
  // through `device`: with the loading flag set, BeginAccess, the facade's
  // LoadProjectData and EndAccess. Returns the loaded project (owned by the
  // caller) or null when the device is null, no facade is installed, OpenDB
  // fails, the query yields no row, or the facade returns no project (a
  // non-project root it returns is destroyed). The device stays the caller's
  // unless the facade attached it to the returned project. If the facade
  // throws, EndAccess is still called, the flag cleared, and the exception
  // passes.
  static IBaseProject* LoadProject(__int64 projectId, const std::wstring& path, GDBDevice* device);

 private:
  void Store(GDbArchive& archive);
  void Load(GDbArchive& archive, int start);
  void Report(GDbArchive& archive, const char* caption, const std::string& text);

  GDBDevice* m_pDBDevice;
  __int64 m_nUniqueID;
  // A newer version of this object, read whole; or the blocks of a version
  // this code reads that it does not know.
  std::string m_strKeptObject;
  GKeptBlocks m_keptBlocks;
};

}  // namespace hux
