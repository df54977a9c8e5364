// CVariant loading (every code, custom objects, kept content): what was
// read and written back is a fixed point.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include <hux/io/archive.h>
#include <hux/io/memstream.h>
#include <hux/value/variant.h>

namespace {

std::vector<hux::CVariant> ReadAll(char* data, size_t size) {
  hux::GMemStream mem(false, data, static_cast<unsigned int>(size));
  hux::GDbArchiveImpl ar(&mem);
  std::vector<hux::CVariant> values;
  while (ar.DevicePos() < static_cast<long long>(size) && values.size() < 256) {
    const long long before = ar.DevicePos();
    values.emplace_back().Serialize(ar);
    if (ar.DevicePos() <= before) break;
  }
  return values;
}

std::string WriteAll(std::vector<hux::CVariant>& values) {
  hux::GMemStream mem(true, nullptr, 0);
  {
    hux::GDbArchiveImpl ar(&mem);
    for (hux::CVariant& v : values) v.Serialize(ar);
  }
  return std::string(mem.GetData(), static_cast<size_t>(mem.pos()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  std::vector<char> copy(data, data + size);
  std::vector<hux::CVariant> first = ReadAll(copy.data(), size);
  for (const hux::CVariant& v : first) {
    bool ok = false;
    (void)v.toWString(&ok);
    (void)v.toDouble(&ok);
    (void)v.toInt64(&ok);
  }
  std::string written = WriteAll(first);
  std::vector<hux::CVariant> second = ReadAll(written.data(), written.size());
  if (second.size() != first.size() || WriteAll(second) != written) std::abort();
  for (size_t i = 0; i < first.size(); ++i)
    if (first[i].IsKept() != second[i].IsKept()) std::abort();
  return 0;
}
