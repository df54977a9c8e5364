// A process working on a stored project, for the tests of several users and of crashes:
//   store_worker ENGINE LOCATION edit LABEL SAVES: SAVES times, changes the
//     first part of assembly LABEL, adds a part to it and saves the changes;
//   store_worker ENGINE LOCATION churn SEED: until killed, gives every part
//     the round's number (mass and name), adds or deletes a part and saves
//     (every third round the whole project).
#include <cstdio>
#include <random>

#include <hux/host/entity_facade.h>
#include <hux/object/project.h>

#include "sample_model.h"
#include "test_devices.h"

namespace {

using sample::AssemblyEntity;
using sample::PartEntity;

int Fail(const char* what, const std::string& why) {
  std::fprintf(stderr, "store_worker: %s: %s\n", what, why.c_str());
  return 1;
}

PartEntity* NewPart(double mass, const std::wstring& name) {
  auto* part = new PartEntity();
  part->Data().mass = mass;
  part->Data().name = name;
  return part;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5) return Fail("usage", "store_worker ENGINE LOCATION edit LABEL SAVES | churn SEED");
  sample::RegisterSampleTypes();
  hux::host::EntityFacade facade;
  hux::SetIOFacade(&facade);
  const std::string command = argv[3], text = argv[2];
  const std::wstring location(text.begin(), text.end());
  std::unique_ptr<hux::IBaseProject> project(
      hux::IBaseProject::LoadProject(0, location, hux::test::NewDevice(hux::test::EngineByName(argv[1])).release()));
  if (!project) return Fail("load", facade.LastError());
  hux::GDBDevice* device = project->GetProjectDBDevice();

  if (command == "edit" && argc >= 6) {
    AssemblyEntity* assembly = nullptr;
    for (hux::IBaseEntity* e : project->GetAllChild())
      if (auto* a = dynamic_cast<AssemblyEntity*>(e); a && a->Data().label == argv[4]) assembly = a;
    for (int i = 0; assembly && i < std::atoi(argv[5]); ++i) {
      auto* first = static_cast<PartEntity*>(assembly->GetAllChild()[0]);
      first->Data().mass = i + 1;
      first->SetObjectFlag(true, hux::EGOBJECT_MODIFIED);
      assembly->AddChild(NewPart(i, L""));
      if (!facade.SaveModifiedData(project.get(), device)) return Fail("save", facade.LastError());
    }
    return assembly ? 0 : Fail("edit", "no assembly " + std::string(argv[4]));
  }
  if (command != "churn") return Fail("usage", "unknown command " + command);
  std::mt19937 random(static_cast<unsigned>(std::atoi(argv[4])));
  for (int round = 1;; ++round) {
    const std::wstring name = L"g" + std::to_wstring(round);
    std::vector<hux::IBaseEntity*> all;
    hux::IBaseEntity::GetAllLeafChild(project.get(), all);
    std::vector<AssemblyEntity*> assemblies;
    for (hux::IBaseEntity* e : all) {
      if (auto* part = dynamic_cast<PartEntity*>(e)) {
        part->Data().mass = round;
        part->Data().name = name;
        part->SetObjectFlag(true, hux::EGOBJECT_MODIFIED);
      } else if (auto* a = dynamic_cast<AssemblyEntity*>(e)) {
        assemblies.push_back(a);
      }
    }
    AssemblyEntity* assembly = assemblies[random() % assemblies.size()];
    const auto& parts = assembly->GetAllChild();
    if (random() % 2 && parts.size() > 1)
      assembly->DeleteChild(parts[random() % parts.size()]);
    else
      assembly->AddChild(NewPart(round, name));
    if (round % 3 == 0) {
      try {
        project->SaveProject(location);
      } catch (const std::exception& e) {
        return Fail("save", e.what());
      }
    } else if (!facade.SaveModifiedData(project.get(), device)) {
      return Fail("save", facade.LastError());
    }
  }
}
