// Built against the installed hosts: saves a project of two entities and
// reopens it. `host_consumer sqlite FILE` or `host_consumer pg CONNECTION`,
// for the hosts it was built with (HUX_CONSUMER_SQLITE, HUX_CONSUMER_PG).
#include <hux/host/entity_facade.h>
#include <hux/hux.h>
#ifdef HUX_CONSUMER_SQLITE
#include <hux/host/sqlite_device.h>
#endif
#ifdef HUX_CONSUMER_PG
#include <hux/host/pg_device.h>
#endif

#include <cstdio>
#include <memory>

namespace {

class Project : public hux::IBaseProject {};

hux::GDBDevice* NewDevice(const std::string& kind) {
#ifdef HUX_CONSUMER_SQLITE
  if (kind == "sqlite") return new hux::host::SqliteDevice();
#endif
#ifdef HUX_CONSUMER_PG
  if (kind == "pg") return new hux::host::PgDevice();
#endif
  return nullptr;
}

int Fail(const std::string& why) {
  return std::printf("host consumer: %s\n", why.c_str()), 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string kind = argc == 3 ? argv[1] : "";
  if (std::unique_ptr<hux::GDBDevice> probe(NewDevice(kind)); !probe) {
    std::puts("usage: host_consumer sqlite|pg DATABASE (a kind this consumer was built with)");
    return 2;
  }
  hux::sClassFunctionPtr record;
  record.createBaseObject = []() -> hux::IBase* { return new Project(); };
  record.className = hux::FactoryClassName<Project>();
  hux::GetBaseObjectFactory().RegitsterObjectPointers(hux::DT_PROJECT, record);
  hux::host::EntityFacade facade;
  hux::SetIOFacade(&facade);

  const std::string location = argv[2];
  const std::wstring path(location.begin(), location.end());
  __int64 childId = 0;
  {
    Project project;
    project.SetProjectDBDevice(NewDevice(kind));
    auto* group = new hux::IBaseEntity();
    project.AddChild(group);
    group->AddChild(new hux::IBaseEntity());
    childId = group->GetAllChild()[0]->GetObjectID();
    project.SaveProject(path);
  }
  std::unique_ptr<hux::GDBDevice> device(NewDevice(kind));
  std::unique_ptr<hux::IBaseProject> project(hux::IBaseProject::LoadProject(0, path, device.get()));
  if (!project) return Fail("cannot reopen: " + facade.LastError());  // the device is still ours
  if (project->GetProjectDBDevice() == device.get()) device.release();  // the project owns it now
  const auto& top = project->GetAllChild();
  if (top.size() != 1 || top[0]->GetAllChild().size() != 1 || top[0]->GetAllChild()[0]->GetObjectID() != childId ||
      project->GetLastUniqueID() < childId)
    return Fail("the reopened project differs");
  std::printf("host consumer: project saved and reopened through %s, entity %lld back\n", kind.c_str(), childId);
  return 0;
}
