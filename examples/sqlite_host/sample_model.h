// A small model for the SQLite host example: a project of assemblies and parts
// whose implementation objects carry data (names, masses, point lists), all
// creatable through the factory so that the entity facade can load them.
//
// Call RegisterSampleTypes() once before loading; it is idempotent. The
// classes are plain examples of how a client module defines entities: an
// entity class derives from IBaseEntity and IBase (for its type code), and
// its implementation class from IBaseEntityImpl.
#pragma once

#include <string>
#include <vector>

#include <hux/io/archive.h>
#include <hux/object/base.h>
#include <hux/object/datatype.h>
#include <hux/object/entity.h>
#include <hux/object/project.h>
#include <hux/value/property.h>

namespace sample {

// Type codes of the sample classes (the custom range, above the library's).
constexpr hux::eXOMDataType DT_SAMPLE_ASSEMBLY = static_cast<hux::eXOMDataType>(20001);
constexpr hux::eXOMDataType DT_SAMPLE_PART = static_cast<hux::eXOMDataType>(20002);

// The data of a part: version 1, block 1 the name and mass, block 2 the
// points, block 3 the named properties (whose owner is the part entity, so
// their names are kept in the part class's scheme). Blocks of later
// versions are kept and written back, so an older program saving a part
// loses nothing of them.
class PartData : public hux::IBaseEntityImpl {
 public:
  bool Serialize(hux::GDbArchive& archive) override;

  std::wstring name;
  double mass = 0;
  std::vector<double> points;
  hux::CPropertyCollection properties;
  hux::GKeptBlocks kept;  // blocks of a newer release, written back as read
};

// The data of an assembly: version 1, block 1 the label and revision.
class AssemblyData : public hux::IBaseEntityImpl {
 public:
  bool Serialize(hux::GDbArchive& archive) override;

  std::string label;
  int revision = 0;
  hux::GKeptBlocks kept;  // blocks of a newer release, written back as read
};

class PartEntity : public hux::IBaseEntity, public hux::IBase {
 public:
  hux::eXOMDataType GetObjectType() override { return DT_SAMPLE_PART; }
  hux::IBaseEntityImpl* CreateBaseEntityImpl() override { return new PartData(); }
  // The data, loaded from the database when it was swapped out.
  PartData& Data() { return *static_cast<PartData*>(GetBaseEntityImpl(true)); }
};

class AssemblyEntity : public hux::IBaseEntity, public hux::IBase {
 public:
  hux::eXOMDataType GetObjectType() override { return DT_SAMPLE_ASSEMBLY; }
  hux::IBaseEntityImpl* CreateBaseEntityImpl() override { return new AssemblyData(); }
  AssemblyData& Data() { return *static_cast<AssemblyData*>(GetBaseEntityImpl(true)); }
};

// The project class the factory creates for DT_PROJECT.
class SampleProject : public hux::IBaseProject {};

// Registers SampleProject (DT_PROJECT), AssemblyEntity and PartEntity with
// the factory.
void RegisterSampleTypes();

}  // namespace sample
