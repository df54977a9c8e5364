// CVariant loading: every code, custom objects through the factory, kept
// content for codes that cannot be loaded. What was read is written back;
// reading that and writing it again gives the same bytes.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <hux/io/archive.h>
#include <hux/io/memstream.h>
#include <hux/value/variant.h>

namespace {

std::vector<hux::CVariant> ReadAll(hux::GMemStream& mem, long long end) {
  hux::GDbArchiveImpl ar(&mem);
  std::vector<hux::CVariant> values;
  // Each value consumes at least its 4-byte code, so the count is bounded by
  // the input; the cap bounds the work on inputs that do not advance.
  while (ar.DevicePos() < end && values.size() < 256) {
    const long long before = ar.DevicePos();
    values.emplace_back();
    values.back().Serialize(ar);
    if (ar.DevicePos() <= before) break;
  }
  return values;
}

void WriteAll(hux::GMemStream& mem, std::vector<hux::CVariant>& values) {
  hux::GDbArchiveImpl ar(&mem);
  for (hux::CVariant& v : values) v.Serialize(ar);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  std::vector<char> copy(data, data + size);
  hux::GMemStream in(false, copy.data(), static_cast<unsigned int>(size));
  std::vector<hux::CVariant> first = ReadAll(in, static_cast<long long>(size));
  for (const hux::CVariant& v : first) {
    bool ok = false;
    (void)v.toWString(&ok);
    (void)v.toDouble(&ok);
    (void)v.toInt64(&ok);
  }

  hux::GMemStream out(true, nullptr, 0);
  WriteAll(out, first);
  const long long written = out.pos();
  out.SetOpenMode(false);
  std::vector<hux::CVariant> second = ReadAll(out, written);

  hux::GMemStream again(true, nullptr, 0);
  WriteAll(again, second);
  if (second.size() != first.size() || again.pos() != written ||
      std::memcmp(again.GetData(), out.GetData(), static_cast<size_t>(written)) != 0)
    std::abort();
  // Kept content stays kept (its bytes are part of the fixed point above).
  for (size_t i = 0; i < first.size(); ++i)
    if (first[i].IsKept() != second[i].IsKept()) std::abort();
  return 0;
}
