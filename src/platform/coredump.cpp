// An ELF core file of the running process, written by the process itself.
//
// Layout: the ELF header, the program headers (one PT_NOTE, then one PT_LOAD
// per dumped memory range), the notes, and the memory ranges, each starting on
// a page boundary. What gdb needs from the notes: NT_PRSTATUS with the
// registers of the thread to show, NT_AUXV to relocate a position-independent
// executable (AT_PHDR, AT_ENTRY), and NT_FILE so that it reads the file-backed
// pages it is not given (program headers, code) from the files themselves.
#include <hux/platform/coredump.h>

#if !defined(__x86_64__)
#error "The core-dump writer knows the x86-64 register layout only."
#endif

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <asm/prctl.h>
#include <elf.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/procfs.h>
#include <sys/random.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <sys/uio.h>
#include <sys/user.h>
#include <ucontext.h>
#include <unistd.h>

#include <hux/platform/process.h>

#include "platform/file_size_limit.h"
#include "platform/procfs.h"

namespace hux::platform {

namespace {

// A single range larger than this is left out (the calling thread's stack
// excepted), and so is any range that would take the dump past the total.
// The limits stop a runaway dump of a huge heap; sanitizer shadows are marked
// "do not dump" and never reach them.
constexpr uint64_t kMaxRangeBytes = uint64_t{1} << 30;
constexpr uint64_t kMaxTotalBytes = uint64_t{4} << 30;
// A core file with PN_XNUM or more program headers needs the extended
// numbering, which older readers do not know; the default map-count limit
// stays below it. Room is kept for the note and the stack.
constexpr size_t kMaxLoadSegments = PN_XNUM - 4;
constexpr size_t kCopyChunk = size_t{1} << 20;

struct Mapping {
  uint64_t start = 0;
  uint64_t end = 0;
  uint64_t offset = 0;
  bool readable = false;
  bool writable = false;
  bool executable = false;
  bool shared = false;
  bool doNotDump = false;      // VmFlags dd (madvise DONTDUMP), io or pf
  uint64_t anonymousKb = 0;    // pages of the range no longer backed by the file
  bool detailed = false;       // smaps gave anonymousKb
  std::string path;            // empty for anonymous memory, "[stack]" and the like
};

uint64_t PageSize() {
  const long size = ::sysconf(_SC_PAGESIZE);
  return size > 0 ? static_cast<uint64_t>(size) : 4096;
}

// One line of /proc/self/maps (or a range line of smaps):
// "start-end perms offset dev inode   path".
bool ParseRangeLine(const std::string& line, Mapping& out) {
  unsigned long long start = 0, end = 0, offset = 0, inode = 0;
  char perms[8] = {};
  int pathAt = 0;
  if (std::sscanf(line.c_str(), "%llx-%llx %7s %llx %*s %llu %n", &start, &end, perms, &offset, &inode, &pathAt) < 5)
    return false;
  if (std::strlen(perms) < 4 || end <= start) return false;
  out = Mapping();
  out.start = start;
  out.end = end;
  out.offset = offset;
  out.readable = perms[0] == 'r';
  out.writable = perms[1] == 'w';
  out.executable = perms[2] == 'x';
  out.shared = perms[3] == 's';
  if (pathAt > 0 && static_cast<size_t>(pathAt) <= line.size()) out.path = line.substr(static_cast<size_t>(pathAt));
  return true;
}

// The process's memory ranges with the flags the kernel's own dumper heeds.
// smaps adds per-range details to the maps lines; maps is the fallback.
std::vector<Mapping> ReadMappings() {
  std::vector<Mapping> mappings;
  std::string text = ReadProcFile("/proc/self/smaps");
  if (text.empty()) text = ReadProcFile("/proc/self/maps");
  size_t pos = 0;
  while (pos < text.size()) {
    size_t eol = text.find('\n', pos);
    if (eol == std::string::npos) eol = text.size();
    const std::string line = text.substr(pos, eol - pos);
    pos = eol + 1;
    Mapping mapping;
    // Detail lines are "Name: value"; a range line starts with hex digits and '-'.
    const size_t colon = line.find(':');
    const size_t dash = line.find('-');
    if (dash != std::string::npos && (colon == std::string::npos || dash < colon) && ParseRangeLine(line, mapping)) {
      mappings.push_back(std::move(mapping));
      continue;
    }
    if (mappings.empty()) continue;
    Mapping& last = mappings.back();
    if (line.compare(0, 10, "Anonymous:") == 0) {
      last.anonymousKb = std::strtoull(line.c_str() + 10, nullptr, 10);
      last.detailed = true;
    } else if (line.compare(0, 8, "VmFlags:") == 0) {
      // Two-letter flags separated by spaces.
      for (size_t i = 8; i + 1 < line.size(); ++i) {
        if (line[i] == ' ') continue;
        const std::string flag = line.substr(i, 2);
        if (flag == "dd" || flag == "io" || flag == "pf") last.doNotDump = true;
        while (i < line.size() && line[i] != ' ') ++i;
      }
    }
  }
  return mappings;
}

bool IsAnonymousShared(const Mapping& m) {
  return m.path.empty() || m.path.rfind("/dev/zero", 0) == 0 || m.path.rfind("/SYSV", 0) == 0;
}

// Which ranges hold what a "normal" dump needs: memory the process changed.
// Code and unchanged file data are left to the debugger, which has the files.
bool WantsRange(const Mapping& m) {
  if (!m.readable || m.doNotDump) return false;
  if (m.path == "[vvar]" || m.path == "[vvar_vclock]" || m.path == "[vsyscall]") return false;
  if (m.shared) return IsAnonymousShared(m);
  const bool fileBacked = !m.path.empty() && m.path[0] == '/';
  if (!fileBacked) return true;  // heap, stacks, anonymous memory, [vdso]
  // Writable data, and read-only ranges the loader relocated (RELRO), which
  // hold pages that differ from the file: gdb finds the libraries through
  // them. Without smaps, every read-only data range may be one of those.
  return m.writable || m.anonymousKb > 0 || (!m.detailed && !m.executable);
}

// Reads the process's own memory without touching it directly, so a page that
// cannot be read (a file mapping past the file's end, a guard) gives an error
// here instead of a signal.
class MemoryReader {
 public:
  MemoryReader() = default;
  MemoryReader(const MemoryReader&) = delete;
  MemoryReader& operator=(const MemoryReader&) = delete;
  ~MemoryReader() {
    if (m_memFd >= 0) ::close(m_memFd);
  }

  // Copies up to `size` bytes at `address`; returns the count read (0 when
  // the first page cannot be read).
  size_t Read(uint64_t address, char* out, size_t size) {
    if (!m_useProcMem) {
      iovec local{out, size};
      iovec remote{reinterpret_cast<void*>(address), size};
      const ssize_t n = ::process_vm_readv(::getpid(), &local, 1, &remote, 1, 0);
      if (n >= 0) return static_cast<size_t>(n);
      if (errno != ENOSYS && errno != EPERM) return 0;
      // Forbidden here (seccomp or an old kernel): go through /proc/self/mem.
      m_useProcMem = true;
      m_memFd = ::open("/proc/self/mem", O_RDONLY | O_CLOEXEC);
    }
    if (m_memFd < 0) return 0;
    for (;;) {
      const ssize_t n = ::pread(m_memFd, out, size, static_cast<off_t>(address));
      if (n < 0 && errno == EINTR) continue;
      return n > 0 ? static_cast<size_t>(n) : 0;
    }
  }

 private:
  bool m_useProcMem = false;
  int m_memFd = -1;
};

class CoreFile {
 public:
  explicit CoreFile(int fd) : m_fd(fd) {}
  bool Write(const void* data, size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
      const ssize_t n = ::write(m_fd, p, size);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      p += n;
      size -= static_cast<size_t>(n);
      m_written += static_cast<uint64_t>(n);
    }
    return true;
  }
  bool PadTo(uint64_t offset) {
    static const char zeros[4096] = {};
    while (m_written < offset)
      if (!Write(zeros, static_cast<size_t>(std::min<uint64_t>(sizeof zeros, offset - m_written)))) return false;
    return true;
  }

 private:
  int m_fd;
  uint64_t m_written = 0;
};

// Copies [start, end) of the process's memory into the file; unreadable pages
// become zeros.
bool CopyRange(CoreFile& file, MemoryReader& reader, std::vector<char>& buffer, uint64_t start, uint64_t end,
               uint64_t page) {
  uint64_t at = start;
  while (at < end) {
    const size_t want = static_cast<size_t>(std::min<uint64_t>(buffer.size(), end - at));
    size_t got = reader.Read(at, buffer.data(), want);
    if (got < want) {
      // Zero from the failing byte to the end of its page and go on after it.
      const uint64_t failed = at + got;
      const uint64_t resume = std::min(end, (failed / page + 1) * page);
      std::memset(buffer.data() + got, 0, static_cast<size_t>(resume - failed));
      got = static_cast<size_t>(resume - at);
    }
    if (!file.Write(buffer.data(), got)) return false;
    at += got;
  }
  return true;
}

void AppendBytes(std::vector<char>& out, const void* data, size_t size) {
  const char* p = static_cast<const char*>(data);
  out.insert(out.end(), p, p + size);
}

void AppendNote(std::vector<char>& notes, uint32_t type, const void* desc, size_t size) {
  static const char kName[8] = "CORE";  // "CORE" and its terminator, padded to 4
  Elf64_Nhdr header{};
  header.n_namesz = 5;
  header.n_descsz = static_cast<Elf64_Word>(size);
  header.n_type = type;
  AppendBytes(notes, &header, sizeof header);
  AppendBytes(notes, kName, 8);
  AppendBytes(notes, desc, size);
  notes.resize((notes.size() + 3) & ~size_t{3}, '\0');
}

// Registers as ptrace reports them, from the context getcontext saved.
// getcontext keeps the callee-saved and argument registers, rsp and rip; rax,
// r10 and r11 are not kept and stay zero (unwinding does not need them).
user_regs_struct RegistersFrom(const ucontext_t& context) {
  const greg_t* g = context.uc_mcontext.gregs;
  user_regs_struct regs{};
  regs.r15 = static_cast<unsigned long long>(g[REG_R15]);
  regs.r14 = static_cast<unsigned long long>(g[REG_R14]);
  regs.r13 = static_cast<unsigned long long>(g[REG_R13]);
  regs.r12 = static_cast<unsigned long long>(g[REG_R12]);
  regs.rbp = static_cast<unsigned long long>(g[REG_RBP]);
  regs.rbx = static_cast<unsigned long long>(g[REG_RBX]);
  regs.r11 = static_cast<unsigned long long>(g[REG_R11]);
  regs.r10 = static_cast<unsigned long long>(g[REG_R10]);
  regs.r9 = static_cast<unsigned long long>(g[REG_R9]);
  regs.r8 = static_cast<unsigned long long>(g[REG_R8]);
  regs.rax = static_cast<unsigned long long>(g[REG_RAX]);
  regs.rcx = static_cast<unsigned long long>(g[REG_RCX]);
  regs.rdx = static_cast<unsigned long long>(g[REG_RDX]);
  regs.rsi = static_cast<unsigned long long>(g[REG_RSI]);
  regs.rdi = static_cast<unsigned long long>(g[REG_RDI]);
  regs.orig_rax = ~0ULL;  // not inside a system call
  regs.rip = static_cast<unsigned long long>(g[REG_RIP]);
  regs.rsp = static_cast<unsigned long long>(g[REG_RSP]);
  // getcontext does not keep the flags, and reading them (pushf) would write
  // below the stack pointer, into the compiler's red zone. A user thread runs
  // with interrupts enabled and the fixed bit set.
  regs.eflags = 0x202;
  unsigned short cs = 0, ss = 0, ds = 0, es = 0, fs = 0, gs = 0;
  asm volatile("mov %%cs, %0" : "=r"(cs));
  asm volatile("mov %%ss, %0" : "=r"(ss));
  asm volatile("mov %%ds, %0" : "=r"(ds));
  asm volatile("mov %%es, %0" : "=r"(es));
  asm volatile("mov %%fs, %0" : "=r"(fs));
  asm volatile("mov %%gs, %0" : "=r"(gs));
  regs.cs = cs, regs.ss = ss, regs.ds = ds, regs.es = es, regs.fs = fs, regs.gs = gs;
  // The thread pointer lets the debugger find thread-local variables.
  unsigned long base = 0;
  if (::syscall(SYS_arch_prctl, ARCH_GET_FS, &base) == 0) regs.fs_base = base;
  base = 0;
  if (::syscall(SYS_arch_prctl, ARCH_GET_GS, &base) == 0) regs.gs_base = base;
  return regs;
}

void FillTimes(struct timeval& user, struct timeval& system, int who) {
  rusage usage{};
  if (::getrusage(who, &usage) == 0) user = usage.ru_utime, system = usage.ru_stime;
}

elf_prstatus ThreadStatus(const ucontext_t& context) {
  elf_prstatus status{};
  status.pr_pid = static_cast<pid_t>(::gettid());
  status.pr_ppid = ::getppid();
  status.pr_pgrp = ::getpgrp();
  status.pr_sid = ::getsid(0);
  sigset_t blocked;
  sigemptyset(&blocked);
  ::pthread_sigmask(SIG_SETMASK, nullptr, &blocked);
  for (int sig = 1; sig <= 64; ++sig)
    if (sigismember(&blocked, sig) == 1) status.pr_sighold |= 1UL << (sig - 1);
  FillTimes(status.pr_utime, status.pr_stime, RUSAGE_THREAD);
  FillTimes(status.pr_cutime, status.pr_cstime, RUSAGE_CHILDREN);
  const user_regs_struct regs = RegistersFrom(context);
  static_assert(sizeof regs == sizeof status.pr_reg, "NT_PRSTATUS register block");
  std::memcpy(&status.pr_reg, &regs, sizeof regs);
  status.pr_fpvalid = context.uc_mcontext.fpregs != nullptr;
  return status;
}

elf_prpsinfo ProcessInfo() {
  elf_prpsinfo info{};
  info.pr_state = 0;
  info.pr_sname = 'R';
  info.pr_uid = ::getuid();
  info.pr_gid = ::getgid();
  info.pr_pid = ::getpid();
  info.pr_ppid = ::getppid();
  info.pr_pgrp = ::getpgrp();
  info.pr_sid = ::getsid(0);
  std::string name = ReadProcFile("/proc/self/comm");
  while (!name.empty() && name.back() == '\n') name.pop_back();
  std::strncpy(info.pr_fname, name.c_str(), sizeof info.pr_fname - 1);
  // The arguments, separated by spaces, cut to the field's size.
  std::string args = ReadProcFile("/proc/self/cmdline");
  while (!args.empty() && args.back() == '\0') args.pop_back();
  std::replace(args.begin(), args.end(), '\0', ' ');
  std::strncpy(info.pr_psargs, args.c_str(), sizeof info.pr_psargs - 1);
  return info;
}

// NT_FILE: the count, the page size, (start, end, offset in pages) per file
// mapping, then the file names, each ended by a zero byte.
std::vector<char> FileNote(const std::vector<Mapping>& mappings, uint64_t page) {
  std::vector<uint64_t> table;
  std::string names;
  for (const Mapping& m : mappings) {
    if (m.path.empty() || m.path[0] != '/') continue;
    table.push_back(m.start);
    table.push_back(m.end);
    table.push_back(m.offset / page);
    names.append(m.path).push_back('\0');
  }
  std::vector<char> desc;
  const uint64_t head[2] = {table.size() / 3, page};
  AppendBytes(desc, head, sizeof head);
  AppendBytes(desc, table.data(), table.size() * sizeof(uint64_t));
  AppendBytes(desc, names.data(), names.size());
  return desc;
}

struct Segment {
  uint64_t start;
  uint64_t end;
  uint32_t flags;
};

// The ranges to dump, in address order; the range holding `stackPointer` is
// always among them when readable.
std::vector<Segment> ChooseSegments(const std::vector<Mapping>& mappings, uint64_t stackPointer) {
  std::vector<Segment> segments;
  uint64_t total = 0;
  for (const Mapping& m : mappings)
    if (m.readable && m.start <= stackPointer && stackPointer < m.end) total += m.end - m.start;
  for (const Mapping& m : mappings) {
    const uint64_t size = m.end - m.start;
    const bool isStack = m.start <= stackPointer && stackPointer < m.end;
    if (isStack) {
      if (!m.readable) continue;
    } else {
      if (!WantsRange(m) || size > kMaxRangeBytes || total + size > kMaxTotalBytes) continue;
      if (segments.size() >= kMaxLoadSegments) continue;
      total += size;
    }
    uint32_t flags = PF_R;
    if (m.writable) flags |= PF_W;
    if (m.executable) flags |= PF_X;
    segments.push_back({m.start, m.end, flags});
  }
  return segments;
}

// The writer proper; `context` holds the registers taken by WriteCoreDump.
bool WriteCore(int fd, const ucontext_t& context) {
  const uint64_t page = PageSize();
  const std::vector<Mapping> mappings = ReadMappings();
  if (mappings.empty()) return false;
  const uint64_t stackPointer = static_cast<uint64_t>(context.uc_mcontext.gregs[REG_RSP]);
  const std::vector<Segment> segments = ChooseSegments(mappings, stackPointer);

  // Notes, in the order the kernel writes them: the thread's status and its
  // floating-point registers first, then the process-wide notes.
  std::vector<char> notes;
  const elf_prstatus status = ThreadStatus(context);
  AppendNote(notes, NT_PRSTATUS, &status, sizeof status);
  if (context.uc_mcontext.fpregs) {
    user_fpregs_struct fpregs{};
    static_assert(sizeof fpregs == sizeof *context.uc_mcontext.fpregs, "NT_FPREGSET layout");
    std::memcpy(&fpregs, context.uc_mcontext.fpregs, sizeof fpregs);
    AppendNote(notes, NT_FPREGSET, &fpregs, sizeof fpregs);
  }
  const elf_prpsinfo info = ProcessInfo();
  AppendNote(notes, NT_PRPSINFO, &info, sizeof info);
  const std::string auxv = ReadProcFile("/proc/self/auxv");
  if (!auxv.empty()) AppendNote(notes, NT_AUXV, auxv.data(), auxv.size());
  const std::vector<char> files = FileNote(mappings, page);
  AppendNote(notes, NT_FILE, files.data(), files.size());

  const size_t phnum = 1 + segments.size();
  const uint64_t notesOffset = sizeof(Elf64_Ehdr) + phnum * sizeof(Elf64_Phdr);
  uint64_t offset = (notesOffset + notes.size() + page - 1) / page * page;

  std::vector<char> head;
  Elf64_Ehdr ehdr{};
  std::memcpy(ehdr.e_ident, ELFMAG, SELFMAG);
  ehdr.e_ident[EI_CLASS] = ELFCLASS64;
  ehdr.e_ident[EI_DATA] = ELFDATA2LSB;
  ehdr.e_ident[EI_VERSION] = EV_CURRENT;
  ehdr.e_ident[EI_OSABI] = ELFOSABI_NONE;
  ehdr.e_type = ET_CORE;
  ehdr.e_machine = EM_X86_64;
  ehdr.e_version = EV_CURRENT;
  ehdr.e_phoff = sizeof(Elf64_Ehdr);
  ehdr.e_ehsize = sizeof(Elf64_Ehdr);
  ehdr.e_phentsize = sizeof(Elf64_Phdr);
  ehdr.e_phnum = static_cast<Elf64_Half>(phnum);
  AppendBytes(head, &ehdr, sizeof ehdr);

  Elf64_Phdr note{};
  note.p_type = PT_NOTE;
  note.p_offset = notesOffset;
  note.p_filesz = notes.size();
  note.p_align = 4;
  AppendBytes(head, &note, sizeof note);
  for (const Segment& s : segments) {
    Elf64_Phdr load{};
    load.p_type = PT_LOAD;
    load.p_flags = s.flags;
    load.p_offset = offset;
    load.p_vaddr = s.start;
    load.p_filesz = s.end - s.start;
    load.p_memsz = s.end - s.start;
    load.p_align = page;
    AppendBytes(head, &load, sizeof load);
    offset += s.end - s.start;
  }
  // The whole size is known now: past the file-size limit the kernel would
  // end the process with SIGXFSZ part-way, so fail as on a full disk instead.
  if (!WithinFileSizeLimit(offset)) return false;
  AppendBytes(head, notes.data(), notes.size());

  CoreFile file(fd);
  if (!file.Write(head.data(), head.size())) return false;
  MemoryReader reader;
  std::vector<char> buffer(kCopyChunk);
  uint64_t at = (notesOffset + notes.size() + page - 1) / page * page;
  for (const Segment& s : segments) {
    if (!file.PadTo(at) || !CopyRange(file, reader, buffer, s.start, s.end, page)) return false;
    at += s.end - s.start;
  }
  return file.PadTo(at);
}

// Dumps are written one at a time: two assertions at once would otherwise
// each hold a copy of the process's memory in flight, and the second rename
// would replace the first dump while it is being looked at.
std::mutex g_dumpMutex;

// A directory descriptor that closes itself.
class DirectoryFd {
 public:
  explicit DirectoryFd(const std::string& path) : m_fd(::open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC)) {}
  DirectoryFd(const DirectoryFd&) = delete;
  DirectoryFd& operator=(const DirectoryFd&) = delete;
  ~DirectoryFd() {
    if (m_fd >= 0) ::close(m_fd);
  }
  int Get() const { return m_fd; }

 private:
  int m_fd;
};

// A name for the dump in progress, beside the dump: hidden, and not
// guessable, so that nobody can create it beforehand to make the dump fail.
std::string TemporaryName(const std::string& name) {
  uint64_t bits = 0;
  if (::getrandom(&bits, sizeof bits, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bits)) {
    // No entropy yet (early boot): O_EXCL still keeps the file ours.
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    bits = static_cast<uint64_t>(now.tv_nsec) ^ (static_cast<uint64_t>(now.tv_sec) << 30) ^
           (static_cast<uint64_t>(::getpid()) << 40);
  }
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(bits));
  // Cut long names so that the temporary one stays within NAME_MAX.
  return "." + name.substr(0, 200) + "." + hex + ".tmp";
}

// Creates a new file for the dump in `dir`, owner-only (it holds the
// process's memory). O_EXCL with O_NOFOLLOW: never a file or link that
// someone else put there. -1 on failure.
int CreateTemporaryFile(int dir, const std::string& name, std::string& tempName) {
  for (int attempt = 0; attempt < 16; ++attempt) {
    tempName = TemporaryName(name);
    const int fd =
        ::openat(dir, tempName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (fd >= 0) {
      // The umask may have taken the owner's own bits away.
      if (::fchmod(fd, S_IRUSR | S_IWUSR) == 0) return fd;
      ::close(fd);
      ::unlinkat(dir, tempName.c_str(), 0);
      return -1;
    }
    if (errno != EEXIST) return -1;
  }
  return -1;
}

// What may stand at the dump's name and be replaced: nothing, an older dump,
// or a link (hard links and symbolic links lose only this name; their
// targets stay as they were). A directory, device, pipe or socket is left
// alone.
bool MayReplace(int dir, const std::string& name) {
  struct stat info {};
  if (::fstatat(dir, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) return errno == ENOENT;
  return S_ISREG(info.st_mode) || S_ISLNK(info.st_mode);
}

}  // namespace

std::string DumpPathForExecutable(const std::string& exePath) {
  if (exePath.empty()) return std::string();
  // Only the file name's extension: a '.' in a directory name is no extension.
  const size_t slash = exePath.rfind('/');
  const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
  const size_t dot = exePath.rfind('.');
  if (dot != std::string::npos && dot > nameStart) return exePath.substr(0, dot) + ".dmp";
  return exePath + ".dmp";
}

std::string CoreDumpPath() { return DumpPathForExecutable(ExecutablePath()); }

// Not inlined: the registers are taken in this frame, so the debugger's
// backtrace starts here and goes on with the caller.
__attribute__((noinline)) bool WriteCoreDump(const std::string& path) {
  const std::lock_guard<std::mutex> lock(g_dumpMutex);
  ucontext_t context{};
  if (::getcontext(&context) != 0) return false;
  std::unique_ptr<DirectoryFd> dir;
  std::string name, tempName;
  int fd = -1;
  bool ok = false;
  try {
    const size_t slash = path.rfind('/');
    name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (name.empty() || name == "." || name == ".." || path.find('\0') != std::string::npos) return false;
    dir = std::make_unique<DirectoryFd>(slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash));
    if (dir->Get() < 0 || !MayReplace(dir->Get(), name)) return false;
    fd = CreateTemporaryFile(dir->Get(), name, tempName);
    ok = fd >= 0 && WriteCore(fd, context);
  } catch (...) {
    ok = false;  // out of memory while collecting the notes
  }
  if (fd >= 0) {
    if (::close(fd) != 0) ok = false;
    // The complete dump appears under its name at once; readers never see a
    // part of it.
    ok = ok && ::renameat(dir->Get(), tempName.c_str(), dir->Get(), name.c_str()) == 0;
    if (!ok) ::unlinkat(dir->Get(), tempName.c_str(), 0);
  }
  // An older dump would pass for the dump of this failure.
  if (!ok && dir && dir->Get() >= 0) ::unlinkat(dir->Get(), name.c_str(), 0);
  return ok;
}

}  // namespace hux::platform
