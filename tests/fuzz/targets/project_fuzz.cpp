// IBaseProject loading: the id counter object, with its version, block and
// size rules. What was read is written back and read again.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include <hux/io/archive.h>
#include <hux/io/memstream.h>
#include <hux/object/project.h>

namespace {

// The reports go through the archive's hook; they must not stop reading.
class QuietArchive : public hux::GDbArchiveImpl {
 public:
  using hux::GDbArchiveImpl::GDbArchiveImpl;
  void ErrorMsgBox(std::string, std::string) override { ++reports; }
  int reports = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  std::vector<char> copy(data, data + size);
  hux::GMemStream in(false, copy.data(), static_cast<unsigned int>(size));
  hux::IBaseProject first;
  {
    QuietArchive ar(&in);
    first.Serialize(ar);
    if (ar.GetVersion() != 0) std::abort();  // the version stack is balanced
    if (ar.DevicePos() < 0) std::abort();
  }

  hux::GMemStream out(true, nullptr, 0);
  {
    QuietArchive ar(&out);
    first.Serialize(ar);
  }
  if (out.GetDataSize() != 16) std::abort();  // a project is always 16 bytes
  out.SetOpenMode(false);
  hux::IBaseProject second;
  QuietArchive ar(&out);
  second.Serialize(ar);
  if (second.GetLastUniqueID() != first.GetLastUniqueID() || ar.reports != 0) std::abort();
  return 0;
}
