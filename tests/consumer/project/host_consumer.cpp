// Built against the installed SQLite host: saves a project of two entities
// into the database file given as argument, reopens it and checks the tree
// and the id counter.
#include <hux/host/entity_facade.h>
#include <hux/host/sqlite_device.h>
#include <hux/hux.h>

#include <cstdio>
#include <memory>
#include <string>

namespace {

class Project : public hux::IBaseProject {};

hux::IBase* CreateProject() { return new Project(); }

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::puts("usage: host_consumer DATABASE");
    return 2;
  }
  hux::sClassFunctionPtr record;
  record.createBaseObject = &CreateProject;
  record.className = hux::FactoryClassName<Project>();
  hux::GetBaseObjectFactory().RegitsterObjectPointers(hux::DT_PROJECT, record);
  hux::host::EntityFacade facade;
  hux::SetIOFacade(&facade);

  const std::string file = argv[1];
  const std::wstring path(file.begin(), file.end());
  __int64 childId = 0;
  {
    Project project;
    project.SetProjectDBDevice(new hux::host::SqliteDevice());
    auto* group = new hux::IBaseEntity();
    project.AddChild(group);
    group->AddChild(new hux::IBaseEntity());
    childId = group->GetAllChild()[0]->GetObjectID();
    project.SaveProject(path);
  }
  auto* device = new hux::host::SqliteDevice();
  std::unique_ptr<hux::IBaseProject> project(hux::IBaseProject::LoadProject(0, path, device));
  if (!project) {
    std::printf("host consumer: cannot reopen: %s %s\n", facade.LastError().c_str(), device->LastError().c_str());
    delete device;
    return 1;
  }
  const auto& top = project->GetAllChild();
  if (top.size() != 1 || top[0]->GetAllChild().size() != 1 || top[0]->GetAllChild()[0]->GetObjectID() != childId ||
      project->GetLastUniqueID() < childId) {
    std::puts("host consumer: the reopened project differs");
    return 1;
  }
  std::printf("host consumer: project saved and reopened, entity %lld back\n", childId);
  return 0;
}
