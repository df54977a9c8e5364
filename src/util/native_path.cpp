#include "util/native_path.h"

#include "util/unicode.h"

namespace hux::detail {

namespace {

constexpr wchar_t kEscapeFirst = 0xDC80;
constexpr wchar_t kEscapeLast = 0xDCFF;

// Length of the UTF-8 sequence a lead byte announces; 1 for anything that
// cannot start one (the byte is then escaped on its own).
size_t SequenceLength(unsigned char lead) {
  if ((lead & 0xE0) == 0xC0) return 2;
  if ((lead & 0xF0) == 0xE0) return 3;
  if ((lead & 0xF8) == 0xF0) return 4;
  return 1;
}

}  // namespace

std::wstring NativePathToWide(const std::string& path) {
  std::wstring out;
  if (Utf8ToWide(path.data(), path.size(), out)) return out;
  // Not valid UTF-8 as a whole: decode sequence by sequence and escape each
  // byte that does not start a valid one.
  out.clear();
  std::wstring piece;
  size_t i = 0;
  while (i < path.size()) {
    const auto lead = static_cast<unsigned char>(path[i]);
    const size_t len = lead < 0x80 ? 1 : SequenceLength(lead);
    if (i + len <= path.size() && Utf8ToWide(path.data() + i, len, piece) && !piece.empty()) {
      out += piece;
      i += len;
    } else {
      out.push_back(static_cast<wchar_t>(kEscapeFirst - 0x80 + lead));
      ++i;
    }
  }
  return out;
}

bool WideToNativePath(const std::wstring& path, std::string& out) {
  out.clear();
  if (path.find(L'\0') != std::wstring::npos) return false;
  size_t start = 0;
  for (size_t i = 0; i < path.size(); ++i) {
    if (path[i] < kEscapeFirst || path[i] > kEscapeLast) continue;
    out += WideToUtf8(path.substr(start, i - start));
    out.push_back(static_cast<char>(path[i] - kEscapeFirst + 0x80));
    start = i + 1;
  }
  out += WideToUtf8(path.substr(start));
  // WideToUtf8 replaces what UTF-8 cannot hold, and adjacent escapes may
  // spell a valid sequence: in both cases the bytes read back as another
  // wide path. Only a path that comes back unchanged names its own file.
  if (NativePathToWide(out) == path) return true;
  out.clear();
  return false;
}

}  // namespace hux::detail
