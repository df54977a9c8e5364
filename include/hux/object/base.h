// IBase: the root of every object that serializes itself into an archive and
// reports a type code.
#pragma once

#include <hux/export.h>
#include <hux/object/datatype.h>

namespace hux {

class GDbArchive;

class HUX_API IBase {
 public:
  virtual ~IBase();
  // Writes or reads the object according to the archive's mode. The default
  // writes (or skips) one empty object, so readers stay aligned.
  virtual bool Serialize(GDbArchive& archive);
  // The object's type code; 0 (DT_UNDEFINED) unless a class declares one.
  virtual eXOMDataType GetObjectType();
};

// Both call `object.Serialize(archive)`; the archive's mode decides the direction.
HUX_API GDbArchive& operator<<(GDbArchive& archive, const IBase& object);
HUX_API GDbArchive& operator>>(GDbArchive& archive, const IBase& object);

}  // namespace hux
