// A growable file mapping: reserve + posix_fallocate + MAP_FIXED.
#include <hux/platform/mapped_file.h>

#include <cerrno>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include "platform/file_size_limit.h"

namespace hux::platform {

namespace {

size_t PageSize() {
  static const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
  return page;
}

size_t RoundUpToPage(size_t n) {
  const size_t page = PageSize();
  return (n + page - 1) / page * page;
}

// Gives the file disk space for [offset, offset + length); the file's size
// becomes at least offset + length. Returns 0 or an errno value.
int Allocate(int fd, size_t offset, size_t length) {
  if (!WithinFileSizeLimit(offset + length)) return EFBIG;
  int err;
  do {
    err = ::posix_fallocate(fd, static_cast<off_t>(offset), static_cast<off_t>(length));
  } while (err == EINTR);
  return err;
}

// Maps the file's pages that cover [from, to) at base + from. The page that
// held the old end of the file is mapped already (a page beyond the end of a
// file may be mapped while part of it lies within), so only whole new pages
// are added.
int MapPages(char* base, int fd, size_t from, size_t to) {
  const size_t start = RoundUpToPage(from);
  const size_t end = RoundUpToPage(to);
  if (end <= start) return 0;
  void* p = ::mmap(base + start, end - start, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_FIXED, fd,
                   static_cast<off_t>(start));
  return p == MAP_FAILED ? errno : 0;
}

// Reserves address space without memory or swap behind it; asks for less
// when the system refuses (an address-space limit), down to `least` bytes.
char* Reserve(size_t wanted, size_t least, size_t& granted) {
  for (size_t want = RoundUpToPage(wanted);; want = RoundUpToPage(want / 2)) {
    if (want < least) want = RoundUpToPage(least);
    void* p = ::mmap(nullptr, want, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (p != MAP_FAILED) {
      granted = want;
      return static_cast<char*>(p);
    }
    if (want <= RoundUpToPage(least)) return nullptr;
  }
}

}  // namespace

int CreateGrowableFileMapping(const std::string& path, size_t size, size_t capacity, GrowableFileMapping& out) {
  if (size == 0) return EINVAL;
  if (capacity < size) capacity = size;
  if (::unlink(path.c_str()) != 0 && errno != ENOENT) return errno;
  // The blocks are the process's data: the owner alone may read them. A new
  // file only (O_EXCL), so that a file or link someone puts at the name after
  // the unlink is never written through.
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return errno;
  // Undo everything made so far; the error code is kept for the caller.
  auto fail = [&](int err, char* reserved, size_t reservedSize) {
    if (reserved) ::munmap(reserved, reservedSize);
    ::close(fd);
    ::unlink(path.c_str());
    return err;
  };
  if (int err = Allocate(fd, 0, size)) return fail(err, nullptr, 0);
  size_t granted = 0;
  char* base = Reserve(capacity, size, granted);
  if (!base) return fail(ENOMEM, nullptr, 0);
  if (int err = MapPages(base, fd, 0, size)) return fail(err, base, granted);
  out.base = base;
  out.size = size;
  out.capacity = granted;
  out.handle = fd;
  return 0;
}

int GrowFileMapping(GrowableFileMapping& mapping, size_t extra) {
  if (mapping.handle < 0) return EBADF;
  if (extra == 0) return 0;
  const size_t oldSize = mapping.size;
  if (extra > mapping.capacity - oldSize) return ENOMEM;
  const size_t newSize = oldSize + extra;
  int err = Allocate(mapping.handle, oldSize, extra);
  if (err == 0) err = MapPages(mapping.base, mapping.handle, oldSize, newSize);
  if (err != 0) {
    // Give back what was added. The pages beyond the old end were not mapped
    // (or the failed MAP_FIXED left nothing there); return them to the
    // reservation so the range stays inaccessible.
    const size_t start = RoundUpToPage(oldSize);
    const size_t end = RoundUpToPage(newSize);
    if (end > start &&
        ::mmap(mapping.base + start, end - start, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_FIXED,
               -1, 0) == MAP_FAILED) {
      // The range is no longer ours: never map over it again.
      mapping.capacity = start;
    }
    if (::ftruncate(mapping.handle, static_cast<off_t>(oldSize)) != 0) {
      // The file keeps the extra bytes; the mapping does not use them.
    }
    return err;
  }
  mapping.size = newSize;
  return 0;
}

void CloseFileMapping(GrowableFileMapping& mapping) {
  if (mapping.base) ::munmap(mapping.base, mapping.capacity);
  if (mapping.handle >= 0) ::close(mapping.handle);
  mapping = GrowableFileMapping();
}

}  // namespace hux::platform
