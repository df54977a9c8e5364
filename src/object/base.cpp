#include <hux/object/base.h>

#include <hux/io/archive.h>

namespace hux {

IBase::~IBase() = default;

bool IBase::Serialize(GDbArchive& archive) {
  if (archive.IsLoading())
    archive.ReadEmptyObject();
  else
    archive.WriteEmptyObject();
  return true;
}

eXOMDataType IBase::GetObjectType() { return DT_UNDEFINED; }

// The operators take a const object, as the interface gives them; Serialize
// is not const because loading changes the object.
GDbArchive& operator<<(GDbArchive& archive, const IBase& object) {
  const_cast<IBase&>(object).Serialize(archive);
  return archive;
}

GDbArchive& operator>>(GDbArchive& archive, const IBase& object) {
  const_cast<IBase&>(object).Serialize(archive);
  return archive;
}

}  // namespace hux
