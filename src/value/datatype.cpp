#include <hux/object/datatype.h>

namespace hux {

const char* GetDataTypeName(eXOMDataType type) {
  switch (type) {
#define HUX_NAME(code) \
  case code:           \
    return #code;
    HUX_NAME(DT_NONE)
    HUX_NAME(DT_UNDEFINED)
    HUX_NAME(DT_INT)
    HUX_NAME(DT_DOUBLE)
    HUX_NAME(DT_LOCAL_BOX)
    HUX_NAME(DT_LOCAL_VEC2D)
    HUX_NAME(DT_LOCAL_VEC3D)
    HUX_NAME(DT_INT64)
    HUX_NAME(DT_BOOL)
    HUX_NAME(DT_FILE_ADDRESS)
    HUX_NAME(DT_LOCAL_COORD3D)
    HUX_NAME(DT_CHAR)
    HUX_NAME(DT_UCHAR)
    HUX_NAME(DT_SHORT)
    HUX_NAME(DT_USHORT)
    HUX_NAME(DT_UINT)
    HUX_NAME(DT_FLOAT)
    HUX_NAME(DT_UINT64)
    HUX_NAME(DT_OBJECT_ID)
    HUX_NAME(DT_REF_OBJECT)
    HUX_NAME(DT_STRING)
    HUX_NAME(DT_WSTRING)
    HUX_NAME(DT_MEM_STREAM)
    HUX_NAME(DT_PROJECT)
#undef HUX_NAME
  }
  return nullptr;
}

}  // namespace hux
