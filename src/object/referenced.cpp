#include <hux/object/referenced.h>

namespace hux {

CReferenced::~CReferenced() = default;

void CReferenced::Ref() { ++m_nRefCount; }

void CReferenced::Unref() {
  if (--m_nRefCount == 0) delete this;
}

void CReferenced::SignalAndDelete(bool /*signal*/, bool deleteObject) {
  if (deleteObject) delete this;
}

}  // namespace hux
