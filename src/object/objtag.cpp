#include <hux/object/objtag.h>

namespace hux {

GObjTag::GObjTag() : m_nObjID(0), m_pPointer(nullptr) {}
GObjTag::GObjTag(__int64 id, void* pointer) : m_nObjID(id), m_pPointer(pointer) {}
GObjTag::GObjTag(const GObjTag& other) : IBase(other), m_nObjID(other.m_nObjID), m_pPointer(other.m_pPointer) {}
GObjTag::~GObjTag() = default;

const GObjTag& GObjTag::operator=(const GObjTag& other) {
  m_nObjID = other.m_nObjID;
  m_pPointer = other.m_pPointer;
  return *this;
}

bool GObjTag::operator==(const GObjTag& other) const {
  return m_nObjID == other.m_nObjID && m_pPointer == other.m_pPointer;
}

void GObjTag::Init() {
  m_nObjID = 0;
  m_pPointer = nullptr;
}

}  // namespace hux
