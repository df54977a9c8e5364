// Registers the memory device with the factory at load, under code 1003, in
// two records: copy and destroy, and reference-counted creation.
#include <hux/io/memstream.h>
#include <hux/object/factory.h>

namespace hux {
namespace {

void* CreateMemStream(void const* source) {
  return source ? new GMemStream(*static_cast<const GMemStream*>(source)) : new GMemStream();
}

void DeleteMemStream(void* object) { delete static_cast<GMemStream*>(object); }

CReferenced* CreateRefMemStream() { return new GMemStream(); }

sClassFunctionPtr CopyRecord() {
  sClassFunctionPtr record;
  record.createVoidObject = &CreateMemStream;
  record.deleteVoidObject = &DeleteMemStream;
  record.className = FactoryClassName<GMemStream>();
  return record;
}

sClassFunctionPtr RefRecord() {
  sClassFunctionPtr record;
  record.createRefObject = &CreateRefMemStream;
  record.className = FactoryClassName<GMemStream>();
  return record;
}

const GBaseObjectFactoryHelper g_registerMemStreamCopy(DT_MEM_STREAM, CopyRecord());
const GBaseObjectFactoryHelper g_registerMemStreamRef(DT_MEM_STREAM, RefRecord());

}  // namespace
}  // namespace hux
