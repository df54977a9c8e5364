// Builds a project of a few hundred entities whose implementation objects
// carry data, saves it into an SQLite database through the SQLite host,
// loads it back through the factory, swaps one entity's data out and in,
// deletes a subtree and saves only the changes, and checks every step.
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <hux/host/entity_facade.h>
#include <hux/host/sqlite_device.h>
#include <hux/hux.h>

#include "sample_model.h"

namespace {

using sample::AssemblyEntity;
using sample::PartEntity;

constexpr int kAssemblies = 8;
constexpr int kPartsPerAssembly = 40;

// Everything the tree holds, in pre-order: ids, classes, places and data.
std::string Signature(hux::IBaseEntity* root) {
  std::vector<hux::IBaseEntity*> all;
  hux::IBaseEntity::GetAllLeafChild(root, all);
  std::string out;
  char buf[128];
  for (hux::IBaseEntity* e : all) {
    std::snprintf(buf, sizeof buf, "%lld<%lld:", e->GetObjectID(), e->GetParent() ? e->GetParent()->GetObjectID() : 0);
    out += buf;
    if (auto* part = dynamic_cast<PartEntity*>(e)) {
      const sample::PartData& d = part->Data();
      std::snprintf(buf, sizeof buf, "part %zu chars %.17g %zu pts", d.name.size(), d.mass, d.points.size());
      out += buf;
      for (double p : d.points) {
        std::snprintf(buf, sizeof buf, " %.17g", p);
        out += buf;
      }
      // The named properties, by name, with their codes and values.
      hux::CPropertyCollection props(d.properties);
      props.First();
      std::wstring product, name;
      hux::CVariant value;
      while (props.Next(product, name, value)) {
        const bool isId = value.GetVariantStru().type == hux::DT_OBJECT_ID;
        const std::wstring entry = L" " + product + L":" + name + L"=" +
                                   (isId ? std::to_wstring(value.toObjectID()) : value.toWString()) + L"#" +
                                   std::to_wstring(value.GetVariantStru().type);
        out += hux::GStdStringTrans::WstringToString(entry);
      }
    } else if (auto* assembly = dynamic_cast<AssemblyEntity*>(e)) {
      out += "assembly " + assembly->Data().label + " r" + std::to_string(assembly->Data().revision);
    }
    out += ";";
  }
  return out;
}

size_t Count(hux::IBaseEntity* root) {
  std::vector<hux::IBaseEntity*> all;
  hux::IBaseEntity::GetAllLeafChild(root, all);
  return all.size();
}

int g_failures = 0;

void Check(bool ok, const char* what) {
  std::printf("  [%s] %s\n", ok ? "ok" : "FAILED", what);
  if (!ok) ++g_failures;
}

// Opens the database and loads the project the library's query finds.
std::unique_ptr<hux::IBaseProject> Reopen(const std::wstring& path, hux::host::EntityFacade& facade) {
  auto* device = new hux::host::SqliteDevice();
  hux::IBaseProject* project = hux::IBaseProject::LoadProject(0, path, device);
  if (!project) {
    std::printf("  LoadProject failed: %s %s\n", facade.LastError().c_str(), device->LastError().c_str());
    delete device;  // not attached to any project
  }
  return std::unique_ptr<hux::IBaseProject>(project);
}

}  // namespace

int main() {
  sample::RegisterSampleTypes();
  hux::host::EntityFacade facade;
  hux::SetIOFacade(&facade);
  const std::filesystem::path file = "project_demo.db";
  std::filesystem::remove(file);
  const std::wstring path = file.wstring();

  // 1. Build and save.
  std::string built;
  {
    sample::SampleProject project;
    project.SetProjectDBDevice(new hux::host::SqliteDevice());
    for (int a = 0; a < kAssemblies; ++a) {
      auto* assembly = new AssemblyEntity();
      assembly->Data().label = "assembly-" + std::to_string(a);
      assembly->Data().revision = a + 1;
      project.AddChild(assembly);
      for (int p = 0; p < kPartsPerAssembly; ++p) {
        auto* part = new PartEntity();
        sample::PartData& d = part->Data();
        d.name = L"Teil \u00e4-" + std::to_wstring(a) + L"/" + std::to_wstring(p) + L" \u90e8\u4ef6";
        d.mass = 0.25 * (a + 1) + p / 7.0;
        for (int k = 0; k < (p % 5) + 1; ++k) d.points.push_back(a * 100.0 + p + k / 3.0);
        assembly->AddChild(part);
        // Properties: a number, a text and an object id (the assembly's).
        d.properties.SetObject(part);
        d.properties.SetProperty(L"quantity", hux::CVariant(p + 1));
        d.properties.SetProperty(L"material", hux::CVariant(std::wstring(p % 2 ? L"steel" : L"铝 aluminium")));
        hux::CVariant owner;
        owner.SetObjectID(static_cast<unsigned long long>(assembly->GetObjectID()));
        d.properties.SetProperty(L"assembly", owner);
      }
    }
    built = Signature(&project);
    std::printf("built a project of %zu entities (%d assemblies, %d parts), ids 2 to %lld\n", Count(&project),
                kAssemblies, kAssemblies * kPartsPerAssembly, project.GetLastUniqueID());
    project.SaveProject(path);
    std::printf("saved into %s: %d rows written\n", file.string().c_str(), facade.GetStats().rowsWritten);
  }

  // 2. Reopen and compare.
  std::unique_ptr<hux::IBaseProject> project = Reopen(path, facade);
  std::printf("reopened through LoadProject(0, ...):\n");
  Check(project != nullptr, "the query found the project and the facade rebuilt it through the factory");
  if (!project) return 1;
  Check(Count(project.get()) == 1 + kAssemblies * (1 + kPartsPerAssembly), "every entity is back");
  Check(Signature(project.get()) == built, "ids, places, classes, data and properties are identical");
  Check(built.find(" HUX:assembly=2#107") != std::string::npos && built.find(" HUX:quantity=1#1") != std::string::npos &&
            built.find(" HUX:material=steel#1002") != std::string::npos,
        "parts carry their properties: a number, a text and an object id");
  Check(project->GetLastUniqueID() >= 1 + kAssemblies * (1 + kPartsPerAssembly),
        "the id counter is above every stored id (new ids come from a block reserved for this process)");
  Check(!project->GetAllChild()[0]->HasObjectFlag(hux::EGOBJECT_MODIFIED), "loaded entities are unmodified");

  // 3. Swap one part's data out and back in.
  auto* part = static_cast<PartEntity*>(project->GetAllChild()[3]->GetAllChild()[17]);
  const std::string before = Signature(part);
  part->SwapDataToDisk();
  std::printf("swapped part %lld out and in:\n", part->GetObjectID());
  Check(part->HasObjectFlag(hux::EGOBJECT_SWAPPED) && facade.IsEntityStored(part->GetObjectID(), project->GetProjectDBDevice()),
        "swapped out: the data is in the database and released from memory");
  Check(Signature(part) == before, "swapped in on first use: the data is identical");
  Check(!part->HasObjectFlag(hux::EGOBJECT_SWAPPED), "no longer marked swapped");
  Check(facade.GetStats().swappedOut == 1 && facade.GetStats().swappedIn == 1, "one swap each way");

  // 4. Delete an assembly, change a part, save only the changes.
  hux::IBaseEntity* doomed = project->GetAllChild()[5];
  project->DeleteChild(doomed);
  std::vector<__int64> deleted;
  project->GetProjectDBDevice()->GetObjectsState().GetDeleteList(deleted);
  auto* changed = static_cast<PartEntity*>(project->GetAllChild()[0]->GetAllChild()[0]);
  changed->Data().mass = 99.5;
  changed->SetObjectFlag(true, hux::EGOBJECT_MODIFIED);
  const std::string edited = Signature(project.get());
  std::printf("deleted an assembly with its %d parts and changed one part:\n", kPartsPerAssembly);
  Check(deleted.size() == 1 + kPartsPerAssembly, "every deleted stored entity was recorded");
  const int writtenBefore = facade.GetStats().rowsWritten;
  Check(facade.SaveModifiedData(project.get(), project->GetProjectDBDevice()), "SaveModifiedData succeeded");
  std::printf("  rows updated: %d (the changed part; the others kept their places), rows removed: %d\n",
              facade.GetStats().rowsWritten - writtenBefore, facade.GetStats().rowsDeleted);
  project.reset();
  project = Reopen(path, facade);
  Check(project && Signature(project.get()) == edited, "reopened: the database holds exactly the edited project");

  hux::SetIOFacade(nullptr);
  std::printf("%s\n", g_failures ? "SOME CHECKS FAILED" : "all checks passed");
  return g_failures ? 1 : 0;
}
