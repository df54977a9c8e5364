// Report files opened without following links.
#include "platform/report_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace hux::platform {

std::FILE* OpenReportFile(const std::string& path, long long restartSize) {
  if (path.empty()) return nullptr;
  // O_NOFOLLOW refuses a link at the name; O_NONBLOCK makes a pipe without a
  // reader fail instead of blocking. The size is that of the file opened,
  // so it cannot be swapped between the check and the truncation.
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
  if (fd < 0) return nullptr;
  struct stat info {};
  const bool usable = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_nlink == 1 &&
                      (info.st_size < restartSize || ::ftruncate(fd, 0) == 0) && ::fcntl(fd, F_SETFL, O_APPEND) == 0;
  std::FILE* file = usable ? ::fdopen(fd, "ab") : nullptr;
  if (!file) ::close(fd);
  return file;
}

}  // namespace hux::platform
