// IBaseProject loading: the id counter object, with its version, block and
// size rules, and what it keeps of newer content. What was read is written
// back and read again.
#include <cstdint>
#include <cstdlib>
#include <cstring>
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
  // A project is 16 bytes and the blocks it kept, or the newer object it
  // kept; only blocks beyond the 255 an object holds are left out.
  const size_t kept = first.GetKeptByteCount();
  const bool whole = out.GetDataSize() == 16 + kept || out.GetDataSize() == kept;
  if (!whole && out.GetDataSize() + 5 > 16 + kept) std::abort();
  const unsigned int written = out.GetDataSize();
  out.SetOpenMode(false);
  hux::IBaseProject second;
  {
    QuietArchive ar(&out);
    second.Serialize(ar);
    if (second.GetLastUniqueID() != first.GetLastUniqueID() || ar.reports != 0) std::abort();
  }
  // Every kept byte survives, and writing again gives the same bytes.
  if (whole && second.GetKeptByteCount() != kept) std::abort();
  hux::GMemStream again(true, nullptr, 0);
  {
    QuietArchive ar(&again);
    second.Serialize(ar);
  }
  if (again.GetDataSize() != written || std::memcmp(again.GetData(), out.GetData(), written) != 0) std::abort();
  return 0;
}
