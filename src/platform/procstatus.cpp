// Private memory from /proc, and the reader of procfs text files.
#include <hux/platform/procstatus.h>

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <utility>

#include "platform/procfs.h"

namespace hux::platform {

namespace {

PrivateMemoryHook& MemoryHook() {
  static PrivateMemoryHook hook;
  return hook;
}

}  // namespace

std::string ReadProcFile(const char* path) {
  std::string text;
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return text;
  char buffer[16384];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    text.append(buffer, static_cast<size_t>(n));
  }
  ::close(fd);
  return text;
}

long long ProcStatusField(std::string_view status, std::string_view name) {
  for (size_t line = 0; line < status.size();) {
    const size_t end = std::min(status.find('\n', line), status.size());
    const std::string_view text = status.substr(line, end - line);
    line = end + 1;
    if (text.size() <= name.size() || text.substr(0, name.size()) != name || text[name.size()] != ':') continue;
    // The kernel pads with tabs and spaces; a value on the next line is not
    // this field's.
    size_t at = name.size() + 1;
    while (at < text.size() && (text[at] == ' ' || text[at] == '\t')) ++at;
    if (at == text.size() || text[at] < '0' || text[at] > '9') return -1;
    long long value = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
      if (value > (LLONG_MAX - (text[at] - '0')) / 10) return -1;
      value = value * 10 + (text[at] - '0');
    }
    return value;
  }
  return -1;
}

long long PrivateMemoryBytes() {
  if (const PrivateMemoryHook& hook = MemoryHook()) return hook();
  const std::string status = ReadProcFile("/proc/self/status");
  const long long anon = ProcStatusField(status, "RssAnon");
  if (anon < 0 || anon > LLONG_MAX / 2048) return -1;
  const long long swap = ProcStatusField(status, "VmSwap");
  return (anon + (swap > 0 && swap <= LLONG_MAX / 2048 ? swap : 0)) * 1024;
}

PrivateMemoryHook SetPrivateMemoryHook(PrivateMemoryHook hook) {
  return std::exchange(MemoryHook(), std::move(hook));
}

}  // namespace hux::platform
