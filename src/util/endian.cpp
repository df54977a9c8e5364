#include <hux/util/endian.h>

#include <bit>

namespace hux {

CEndianInfoMananger::CEndianInfoMananger() : m_bLittleEndian(std::endian::native == std::endian::little ? 1 : 0) {}

CEndianInfoMananger::~CEndianInfoMananger() = default;

CEndianInfoMananger* CEndianInfoMananger::GetInstance() {
  static CEndianInfoMananger instance;
  return &instance;
}

}  // namespace hux
