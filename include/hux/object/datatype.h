// The type codes of objects and values (`eXOMDataType`).
//
// The factory uses the codes as plain keys; the variant and the archive give
// them their meaning. Codes from 1000 up are custom objects that the archive
// writes through the factory.
#pragma once

#include <hux/export.h>

namespace hux {

enum eXOMDataType : int {
  DT_NONE = -1,           // nothing
  DT_UNDEFINED = 0,       // an IBase that declares no type
  DT_INT = 1,             // int, signed 32-bit
  DT_DOUBLE = 2,          // double
  DT_LOCAL_BOX = 10,      // owned LocalBox
  DT_LOCAL_VEC2D = 11,    // owned LocalVec2d
  DT_LOCAL_VEC3D = 12,    // owned LocalVec3d
  DT_INT64 = 14,          // signed 64-bit integer
  DT_BOOL = 15,           // bool
  DT_FILE_ADDRESS = 16,   // owned FileAddress
  DT_LOCAL_COORD3D = 21,  // owned LocalCoord3d
  DT_CHAR = 100,          // char, signed 8-bit
  DT_UCHAR = 101,         // unsigned char
  DT_SHORT = 102,         // short
  DT_USHORT = 103,        // unsigned short
  DT_UINT = 104,          // unsigned int
  DT_FLOAT = 105,         // float
  DT_UINT64 = 106,        // unsigned 64-bit integer
  DT_OBJECT_ID = 107,     // object id, unsigned 64-bit
  DT_REF_OBJECT = 1000,   // shared object whose class has no registered code
  DT_STRING = 1001,       // owned narrow string
  DT_WSTRING = 1002,      // owned wide string
  DT_MEM_STREAM = 1003,   // GMemStream
  DT_PROJECT = 1500,      // the type code an IBaseProject reports
};

// The name of a code of the table above ("DT_INT" for 1), for diagnostics and
// tools; null for a code the library does not define.
HUX_API const char* GetDataTypeName(eXOMDataType type);

}  // namespace hux
