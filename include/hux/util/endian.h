// Byte-order information: a process-wide singleton that tells whether the
// machine stores integers little-endian.
//
// The instance is created on the first GetInstance call (without a lock: the
// first call must not race with another) and destroyed at unload. CColor's
// integer conversions consult it.
#pragma once

#include <hux/export.h>

namespace hux {

class HUX_API CEndianInfoMananger {
 public:
  // The single instance; never null.
  static CEndianInfoMananger* GetInstance();
  // The stored flag: 1 on a little-endian machine (every machine this edition
  // builds for), 0 otherwise.
  unsigned char GetIsLittleEndian() const { return m_bLittleEndian; }
  // Always 1, whatever the flag says.
  static int is_little_endian() { return 1; }

 protected:
  CEndianInfoMananger();
  ~CEndianInfoMananger();

 private:
  CEndianInfoMananger(const CEndianInfoMananger&) = delete;
  CEndianInfoMananger& operator=(const CEndianInfoMananger&) = delete;

  unsigned char m_bLittleEndian;
};

}  // namespace hux
