// Private memory from /proc.
#include <hux/platform/procstatus.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <utility>

namespace hux::platform {

namespace {

PrivateMemoryHook& MemoryHook() {
  static PrivateMemoryHook hook;
  return hook;
}

// The value in kB of a "Name:   123 kB" line, or -1 when the line is absent.
long long StatusKiB(const char* status, const char* name) {
  const size_t len = std::strlen(name);
  for (const char* line = status; line && *line;) {
    if (std::strncmp(line, name, len) == 0 && line[len] == ':') {
      char* end = nullptr;
      const long long v = std::strtoll(line + len + 1, &end, 10);
      return end == line + len + 1 ? -1 : v;
    }
    line = std::strchr(line, '\n');
    if (line) ++line;
  }
  return -1;
}

}  // namespace

long long PrivateMemoryBytes() {
  if (const PrivateMemoryHook& hook = MemoryHook()) return hook();
  const int fd = ::open("/proc/self/status", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  char buf[8192];
  size_t used = 0;
  while (used < sizeof buf - 1) {
    const ssize_t n = ::read(fd, buf + used, sizeof buf - 1 - used);
    if (n <= 0) break;
    used += static_cast<size_t>(n);
  }
  ::close(fd);
  buf[used] = '\0';
  const long long anon = StatusKiB(buf, "RssAnon");
  if (anon < 0) return -1;
  const long long swap = StatusKiB(buf, "VmSwap");
  return (anon + (swap > 0 ? swap : 0)) * 1024;
}

PrivateMemoryHook SetPrivateMemoryHook(PrivateMemoryHook hook) {
  return std::exchange(MemoryHook(), std::move(hook));
}

}  // namespace hux::platform
