// IBaseProject loading: the id counter object, with its version, block and
// size rules, and what it keeps of newer content. What was read is written
// back and read again.
#include <cstdint>
#include <cstdlib>
#include <string>
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

// Reads a project from `size` bytes at `data`; the number of reports.
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
  // A project is 16 bytes and the blocks it kept, or the newer object it
  // kept; only blocks beyond the 255 an object holds are left out.
  const size_t kept = first.GetKeptByteCount();
  const bool whole = written.size() == 16 + kept || written.size() == kept;
  if (!whole && written.size() + 5 > 16 + kept) std::abort();
  if (Read(second, written.data(), written.size()) != 0 || second.GetLastUniqueID() != first.GetLastUniqueID())
    std::abort();
  // Every kept byte survives, and writing again gives the same bytes.
  if ((whole && second.GetKeptByteCount() != kept) || Write(second) != written) std::abort();
  return 0;
}
