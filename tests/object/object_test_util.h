// Test doubles: counted entities, and a device and facade that log every call with the device's flags.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include <hux/object/dbdevice.h>
#include <hux/object/entity.h>
#include <hux/object/project.h>

namespace hux::test {

inline int g_liveEntities = 0;
inline int g_liveImpls = 0;

class CountedImpl : public IBaseEntityImpl {
 public:
  CountedImpl() { ++g_liveImpls; }
  ~CountedImpl() override { --g_liveImpls; }
  int value = 0;
};

class CountedEntity : public IBaseEntity {
 public:
  explicit CountedEntity(__int64 id = 1) {
    ++g_liveEntities;
    SetObjectID(id);
  }
  ~CountedEntity() override { --g_liveEntities; }
  IBaseEntityImpl* CreateBaseEntityImpl() override { return new CountedImpl(); }
};

class CountedProject : public IBaseProject {
 public:
  CountedProject() { ++g_liveEntities; }
  ~CountedProject() override { --g_liveEntities; }
};

using CallLog = std::vector<std::string>;

inline std::string Flags(GDBDevice* device) {
  if (!device) return "";
  IODeviceContext& c = device->GetContext();
  return std::string(" L") + (c.IsLoading() ? "1" : "0") + " S" + (c.IsSaving() ? "1" : "0");
}

class RecordingDevice : public GDBDevice {
 public:
  explicit RecordingDevice(CallLog* log) : m_log(log) {}
  ~RecordingDevice() override {
    if (destroyed) *destroyed = true;
  }
  bool OpenDB(const std::wstring& path) override {
    m_log->push_back("OpenDB " + std::string(path.begin(), path.end()));
    return openResult;
  }
  void CloseDB() override { m_log->push_back("CloseDB"); }
  bool IsDBOpen() override { return true; }
  void BeginAccess() override {
    m_log->push_back("BeginAccess" + Flags(this));
    if (throwIn == "BeginAccess") throw std::runtime_error("BeginAccess failed");
  }
  void EndAccess() override {
    m_log->push_back("EndAccess" + Flags(this));
    if (throwIn == "EndAccess") throw std::runtime_error("EndAccess failed");
  }
  void CancelAccess() override { m_log->push_back("CancelAccess"); }
  bool EnsureTable(const std::string&, const std::vector<std::string>&) override { return true; }
  bool WriteRow(const std::string&, const std::vector<std::string>&, const std::vector<CVariant>&) override {
    return true;
  }
  __int64 DeleteRows(const std::string&, const std::string&, __int64) override { return 0; }
  bool ClearTable(const std::string&) override { return true; }
  bool QueryAllRows(const std::string&, const std::vector<std::string>&, std::vector<CVariant>&) override {
    return true;
  }
  bool QueryTable(const std::string& table, const std::vector<std::string>& columns, const std::string& keyColumn,
                  __int64 keyValue, std::vector<CVariant>& result) override {
    std::string call = "QueryTable " + table + " (";
    for (const std::string& c : columns) call += c + ",";
    m_log->push_back(call + ") " + keyColumn + "=" + std::to_string(keyValue) + (result.empty() ? " empty" : " filled"));
    if (onQuery) onQuery(result);
    return true;
  }

  bool openResult = true;
  std::string throwIn;  // the access call that throws
  std::function<void(std::vector<CVariant>&)> onQuery;  // fills the query's result
  bool* destroyed = nullptr;

 private:
  CallLog* m_log;
};

class RecordingFacade : public IDataIOFacade {
 public:
  explicit RecordingFacade(CallLog* log) : m_log(log) {}
  void SaveProjectData(IBaseProject* project, GDBDevice* device) override {
    m_log->push_back("SaveProjectData " + std::to_string(project ? project->GetObjectID() : 0) + Flags(device));
    if (fail) throw std::runtime_error("disk full");
  }
  IBaseEntity* LoadProjectData(__int64 id, GDBDevice* device) override {
    m_log->push_back("LoadProjectData " + std::to_string(id) + Flags(device));
    if (fail) throw std::runtime_error("damaged");
    return onLoad ? onLoad(id, device) : nullptr;
  }
  bool SaveEntityData(IBaseEntity*, GDBDevice*) override { return true; }
  bool SaveModifiedData(IBaseProject*, GDBDevice*) override { return true; }
  IBaseEntity* LoadEntity(__int64, GDBDevice*) override { return nullptr; }
  bool DeleteEntityData(__int64, GDBDevice*) override { return false; }
  bool IsEntityStored(__int64, GDBDevice*) override { return false; }
  void LoadEntityData(IBaseEntity* entity, GDBDevice* device) override {
    m_log->push_back("LoadEntityData " + std::to_string(entity->GetObjectID()) + (device ? " device" : " null"));
    if (onLoadEntity) onLoadEntity(entity, device);
  }
  void SwapOutEntityData(IBaseEntity* entity, GDBDevice* device) override {
    m_log->push_back("SwapOutEntityData " + std::to_string(entity->GetObjectID()) + (device ? " device" : " null"));
    if (onSwapOut) onSwapOut(entity, device);
  }
  void PrepareSave(GDBDevice* device) override { m_log->push_back("PrepareSave" + Flags(device)); }

  bool fail = false;
  std::function<IBaseEntity*(__int64, GDBDevice*)> onLoad;
  std::function<void(IBaseEntity*, GDBDevice*)> onLoadEntity, onSwapOut;

 private:
  CallLog* m_log;
};

struct ScopedFacade {
  explicit ScopedFacade(IDataIOFacade* facade) { SetIOFacade(facade); }
  ~ScopedFacade() { SetIOFacade(nullptr); }
  ScopedFacade(const ScopedFacade&) = delete;
};

}  // namespace hux::test
