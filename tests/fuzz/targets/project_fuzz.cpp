// IBaseProject loading: the id counter object and the newer content it
// keeps, written back and read again.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include <hux/io/archive.h>
#include <hux/io/memstream.h>
#include <hux/object/project.h>

namespace {

// Counts the reports, which must not stop reading.
class QuietArchive : public hux::GDbArchiveImpl {
 public:
  using hux::GDbArchiveImpl::GDbArchiveImpl;
  void ErrorMsgBox(std::string, std::string) override { ++reports; }
  int reports = 0;
};

int Read(hux::IBaseProject& project, char* data, size_t size) {
  hux::GMemStream in(false, data, static_cast<unsigned int>(size));
  QuietArchive ar(&in);
  project.Serialize(ar);
  if (ar.GetVersion() != 0 || ar.DevicePos() < 0) std::abort();  // the version stack is balanced
  return ar.reports;
}

std::string Write(hux::IBaseProject& project) {
  hux::GMemStream out(true, nullptr, 0);
  {
    QuietArchive ar(&out);
    project.Serialize(ar);
  }
  return std::string(out.GetData(), out.GetDataSize());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  std::vector<char> copy(data, data + size);
  hux::IBaseProject first, second;
  Read(first, copy.data(), size);
  std::string written = Write(first);
  // 16 bytes and the kept blocks, or the kept newer object (blocks past 255 go)
  const size_t kept = first.GetKeptByteCount();
  const bool whole = written.size() == 16 + kept || written.size() == kept;
  if (!whole && written.size() + 5 > 16 + kept) std::abort();
  if (Read(second, written.data(), written.size()) != 0 || second.GetLastUniqueID() != first.GetLastUniqueID())
    std::abort();
  if ((whole && second.GetKeptByteCount() != kept) || Write(second) != written) std::abort();
  return 0;
}
