// Process and file-system queries over /proc and the *at family of calls.
#include <hux/platform/process.h>

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string_view>
#include <vector>

namespace hux::platform {

namespace {

// readlink(2) with a buffer that grows until the whole target fits: the
// kernel truncates silently, so a result that fills the buffer is retried.
std::string ReadLink(const std::string& link) {
  std::vector<char> buf(256);
  for (;;) {
    const ssize_t n = ::readlink(link.c_str(), buf.data(), buf.size());
    if (n < 0) return std::string();
    if (static_cast<size_t>(n) < buf.size()) return std::string(buf.data(), static_cast<size_t>(n));
    if (buf.size() >= (size_t{1} << 20)) return std::string();  // no real path is this long
    buf.resize(buf.size() * 2);
  }
}

// A directory descriptor that closes itself; AT_FDCWD is never closed.
class DirFd {
 public:
  explicit DirFd(int fd) : m_fd(fd) {}
  DirFd(const DirFd&) = delete;
  DirFd& operator=(const DirFd&) = delete;
  ~DirFd() { Reset(AT_FDCWD); }
  int Get() const { return m_fd; }
  void Reset(int fd) {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = fd;
  }

 private:
  int m_fd;
};

// The '/'-separated components of `path`, empty ones (from "//" or a
// trailing '/') left out.
std::vector<std::string> Components(const std::string& path) {
  std::vector<std::string> parts;
  std::string_view rest(path);
  while (!rest.empty()) {
    const size_t cut = rest.find('/');
    const std::string_view part = rest.substr(0, cut);
    if (!part.empty()) parts.emplace_back(part);
    if (cut == std::string_view::npos) break;
    rest.remove_prefix(cut + 1);
  }
  return parts;
}

// Opens the directory `name` below `dir` for use as the base of further *at
// calls; -1 when it does not exist or is not a directory.
int OpenDirectoryAt(int dir, const std::string& name) {
  return ::openat(dir, name.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
}

bool ExistsAt(int dir, const std::string& name) { return ::faccessat(dir, name.c_str(), F_OK, 0) == 0; }

}  // namespace

std::string ExecutablePath() {
  std::string path = ReadLink("/proc/self/exe");
  // The kernel marks an executable replaced or removed since it started by
  // appending " (deleted)". A file may also really be named so: the marker
  // is taken off only when the name as read is not the running executable.
  static const std::string kDeleted = " (deleted)";
  if (path.size() > kDeleted.size() && path.compare(path.size() - kDeleted.size(), kDeleted.size(), kDeleted) == 0) {
    struct stat named {}, running {};
    if (::stat(path.c_str(), &named) != 0 || ::stat("/proc/self/exe", &running) != 0 ||
        named.st_dev != running.st_dev || named.st_ino != running.st_ino)
      path.resize(path.size() - kDeleted.size());
  }
  return path;
}

std::string ProcessExecutablePath(int processId) {
  if (processId <= 0) return std::string();
  return ReadLink("/proc/" + std::to_string(processId) + "/exe");
}

std::string CurrentDirectory() {
  // glibc's getcwd falls back to walking ".." when the path is longer than
  // the kernel's limit, so ERANGE is the only reason to retry.
  std::vector<char> buf(512);
  for (;;) {
    if (::getcwd(buf.data(), buf.size())) return std::string(buf.data());
    if (errno != ERANGE) return std::string();
    buf.resize(buf.size() * 2);
  }
}

int ParentProcessId() { return static_cast<int>(::getppid()); }

bool PathExists(const std::string& path) {
  // A NUL would end the name early: the system would see another path.
  if (path.empty() || path.find('\0') != std::string::npos) return false;
  if (path.size() < PATH_MAX) return ::access(path.c_str(), F_OK) == 0;
  // Too long for one system call: open each directory in turn.
  const std::vector<std::string> parts = Components(path);
  if (parts.empty()) return true;  // only separators: the root
  DirFd dir(path[0] == '/' ? ::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC) : AT_FDCWD);
  if (dir.Get() == -1) return false;
  for (size_t i = 0; i + 1 < parts.size(); ++i) {
    const int next = OpenDirectoryAt(dir.Get(), parts[i]);
    if (next < 0) return false;
    dir.Reset(next);
  }
  return ExistsAt(dir.Get(), parts.back());
}

bool CreateDirectoryPath(const std::string& path) {
  if (path.empty() || path.find('\0') != std::string::npos) return false;
  const std::vector<std::string> parts = Components(path);
  if (parts.empty()) return true;  // only separators: the root
  // Each level is created relative to a descriptor of its parent, so the
  // length of the whole path never reaches the kernel.
  DirFd dir(path[0] == '/' ? ::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC) : AT_FDCWD);
  if (dir.Get() == -1) return false;
  for (size_t i = 0; i < parts.size(); ++i) {
    const std::string& part = parts[i];
    if (!ExistsAt(dir.Get(), part)) {
      // EEXIST: someone else created it meanwhile, or it is a dangling link;
      // only the first counts as success.
      if (::mkdirat(dir.Get(), part.c_str(), 0777) != 0 && (errno != EEXIST || !ExistsAt(dir.Get(), part)))
        return false;
    }
    if (i + 1 == parts.size()) break;
    const int next = OpenDirectoryAt(dir.Get(), part);
    if (next < 0) return false;
    dir.Reset(next);
  }
  return true;
}

}  // namespace hux::platform
