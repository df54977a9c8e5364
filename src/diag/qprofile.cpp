// The call-tree profiler and the memory report.
#include <hux/diag/qprofile.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <ostream>
#include <string>
#include <unordered_map>
#include <vector>

#include <boost/date_time/posix_time/posix_time.hpp>

#include <hux/platform/clock.h>
#include <hux/platform/process.h>
#include <hux/platform/procstatus.h>

#include "diag/profile_export.h"
#include "platform/report_file.h"

namespace {

QProfile* const kSeveralCallers = reinterpret_cast<QProfile*>(1);
constexpr __int64 kMinStart = 0x7FFFFFFFFFFFFFFFLL;
constexpr int kMaxMemoryRecords = 1024;
constexpr long long kReportRestartSize = 102400;

__int64 Counter() { return static_cast<__int64>(hux::platform::ReadTimeStampCounter()); }

// The profile list (newest first). Construction and destruction of profiles
// take the lock; measurements do not touch the list.
std::mutex g_listMutex;
QProfile* g_head = nullptr;
int g_count = 0;

// Summary state.
double g_frequency = 0;
__int64 g_totalTicks = 0;
bool g_summaryPrinted = false;
std::atomic<bool> g_stopped{false};
bool g_headerPending = true;
std::FILE* g_reportFile = nullptr;

thread_local QProfileStarter* t_current = nullptr;

struct MemoryRecord {
  char const* tag;
  double mib;
};
std::mutex g_memoryMutex;
MemoryRecord g_memory[kMaxMemoryRecords];
int g_memoryCount = 0;

}  // namespace

// The run's own profile, started at load. The library's static objects are
// constructed before those of the modules that use it, so it is normally the
// oldest entry; its destruction at unload prints the summary if any other
// profile exists.
static QProfile g_totalTime("Total time", false, "", 0);

char* QProfile::StrBuffer = nullptr;

// ---- QProfile ----

QProfile::QProfile(char const* name, bool autoDelete, char const* file, int line)
    : m_bAutoDelete(autoDelete),
      m_nTotal(0),
      m_nChild(0),
      m_nStart(0),
      m_nMax(0),
      m_nMin(kMinStart),
      m_nHits(0),
      m_pNext(nullptr),
      m_nRunning(0),
      m_nActiveStarters(0),
      m_pParent(nullptr),
      m_bPrinted(false),
      m_szFile(file),
      m_nLine(line),
      m_szName(name) {
  {
    std::lock_guard<std::mutex> lock(g_listMutex);
    m_pNext = g_head;
    g_head = this;
    ++g_count;
  }
  // For "Total time" itself this starts it, at load.
  if (!g_totalTime.IsRunning()) g_totalTime.Start();
}

QProfile::~QProfile() {
  int count;
  {
    std::lock_guard<std::mutex> lock(g_listMutex);
    count = g_count;
  }
  if (count >= 2) PrintSummary();
  // A destroyed profile must not stay listed (its storage may be reused).
  std::lock_guard<std::mutex> lock(g_listMutex);
  for (QProfile** link = &g_head; *link; link = &(*link)->m_pNext) {
    if (*link == this) {
      *link = m_pNext;
      --g_count;
      break;
    }
  }
}

QProfile& QProfile::operator=(QProfile const& other) {
  if (this == &other) return *this;
  m_bAutoDelete = other.m_bAutoDelete;
  m_nTotal = other.m_nTotal;
  m_nChild = other.m_nChild;
  m_nStart = other.m_nStart;
  m_nMax = other.m_nMax;
  m_nMin = other.m_nMin;
  m_nHits = other.m_nHits;
  m_nRunning = other.m_nRunning;
  m_nActiveStarters = other.m_nActiveStarters;
  m_pParent = other.m_pParent;
  m_bPrinted = other.m_bPrinted;
  m_szFile = other.m_szFile;
  m_nLine = other.m_nLine;
  m_szName = other.m_szName;
  return *this;
}

void QProfile::Start() {
  if (m_nRunning == 0) m_nStart = Counter();
  ++m_nRunning;
}

void QProfile::Stop() {
  if (m_nRunning == 0) return;
  ++m_nHits;
  if (--m_nRunning == 0) m_nTotal += Counter() - m_nStart;
}

bool QProfile::IsRunning() { return m_nRunning != 0; }

void QProfile::Reset() {
  m_nTotal = 0;
  m_nStart = 0;
  m_nHits = 0;
  m_nRunning = 0;
  m_nMax = 0;
  m_nMin = kMinStart;
}

QProfile const* QProfile::GetParent() const { return m_pParent == kSeveralCallers ? nullptr : m_pParent; }

bool QProfile::HasSeveralCallers() const { return m_pParent == kSeveralCallers; }

void QProfile::Add(__int64 const& ticks, __int64 const& childTicks) {
  m_nTotal += ticks;
  m_nHits += 1;
  m_nChild += childTicks;
}

double QProfile::ElapsedInMS() { return g_frequency > 0 ? m_nTotal / g_frequency * 1000.0 : 0.0; }

QProfile* QProfile::FindNextChild(QProfile* after) {
  for (QProfile* p = after ? after->m_pNext : g_head; p; p = p->m_pNext)
    if (p->m_pParent == this) return p;
  return nullptr;
}

bool QProfile::operator>(QProfile& other) { return other.m_bPrinted; }

bool QProfile::Out(char const* text, bool close, char const*) {
  std::fputs(text, stdout);
  if (close) std::fputs("\r\n", stdout);
  if (!g_reportFile) {
    const std::string exe = hux::platform::ExecutablePath();
    if (!exe.empty()) {
      // A large report file starts anew; a small one is continued.
      const std::filesystem::path path = std::filesystem::path(exe).parent_path() / "QProfile.txt";
      g_reportFile = hux::platform::OpenReportFile(path.string(), kReportRestartSize);
    }
  }
  if (g_reportFile) {
    std::fputs(text, g_reportFile);
    if (close) {
      std::fclose(g_reportFile);
      g_reportFile = nullptr;
    }
  }
  return true;
}

void QProfile::PrintReport(int depth) {
  if (m_bPrinted) return;
  m_bPrinted = true;
  char cell[512];
  if (g_headerPending) {
    g_headerPending = false;
    Out("------------------------------------------------------\r\n", false);
    Out("|-Child|Total ", false);
    Out("|  Hits  ", false);
    Out("|Time/call ", false);
    Out("|   MIN   |   MAX   ", false);
    Out("| Function    \r\n", false);
    Out("------------------------------------------------------\r\n", false);
  }
  const double self = g_totalTicks != 0 ? static_cast<double>(m_nTotal - m_nChild) / g_totalTicks * 100 : 0.0;
  const double all = g_totalTicks != 0 ? static_cast<double>(m_nTotal) / g_totalTicks * 100 : 0.0;
  if (self != all)
    std::snprintf(cell, sizeof cell, "|%6.2lf|%6.2lf", self, all);
  else
    std::snprintf(cell, sizeof cell, "|%6.2lf|      ", self);
  Out(cell, false);
  std::snprintf(cell, sizeof cell, "|%8lld", static_cast<long long>(m_nHits));
  Out(cell, false);
  const double perCall = m_nHits != 0 ? ElapsedInMS() / static_cast<double>(m_nHits) : 0.0;
  std::snprintf(cell, sizeof cell, "|%12.5lf", perCall);
  Out(cell, false);
  Out("|", false);
  if (m_nMin == kMinStart) m_nMin = 0;
  const double toMs = g_frequency > 0 ? 1000.0 / g_frequency : 0.0;
  std::snprintf(cell, sizeof cell, "%9.3lf|%9.3lf|", m_nMin * toMs, m_nMax * toMs);
  Out(cell, false);
  std::string name(static_cast<size_t>(depth) * 2, ' ');
  const char* text = m_szName ? m_szName : "";
  name += text;
  const size_t length = std::strlen(text);
  if (length < 50) name.append(50 - length, '-');
  Out(name.c_str(), false);
  if (m_pParent && m_pParent != kSeveralCallers) {
    const double share =
        m_pParent->m_nTotal != 0 ? static_cast<double>(m_nTotal) / m_pParent->m_nTotal * 100 : 0.0;
    // The parent's name is data, not format: print it with %s.
    std::snprintf(cell, sizeof cell, "|%3.1lf%% of ", share);
    Out(cell, false);
    Out(m_pParent->m_szName ? m_pParent->m_szName : "", false);
  }
  Out("\r\n", false);
}

void QProfile::PrintMemorySummary() {
  std::lock_guard<std::mutex> lock(g_memoryMutex);
  if (g_memoryCount == 0) return;
  Out("----------------- memory  status -----------------\r\n", false);
  Out("|used/M|Inc/M | time Tag ---------------------------------\r\n", false);
  double previous = 0;
  for (int i = 0; i < g_memoryCount; ++i) {
    const MemoryRecord& r = g_memory[i];
    char head[64];
    std::snprintf(head, sizeof head, "|%6.2lf|%6.2lf| ", r.mib, r.mib - previous);
    Out(head, false);
    Out(r.tag ? r.tag : "(null)", false);
    Out("\r\n", false);
    previous = r.mib;
  }
}

void QProfile::PrintSummary() {
  std::vector<QProfile*> autoDelete;
  {
    std::lock_guard<std::mutex> lock(g_listMutex);
    if (g_summaryPrinted) return;
    g_summaryPrinted = true;
    g_stopped.store(true);

    g_totalTime.Stop();
    __int64 hz = 0;
    GetCPUFreq(hz);
    g_frequency = static_cast<double>(hz);
    g_totalTicks = g_totalTime.m_nTotal;

    Out("\r\n----------------- Profiling  results -----------------\r\n", false);
    const boost::posix_time::ptime now = boost::posix_time::second_clock::local_time();
    const boost::gregorian::date day = now.date();
    const boost::posix_time::time_duration time = now.time_of_day();
    char line[128];
    std::snprintf(line, sizeof line, "Date: %02d.%02d.%02d, Time: %02d:%02d.%02d\r\n", static_cast<int>(day.day()),
                  static_cast<int>(day.month()), static_cast<int>(day.year()), static_cast<int>(time.hours()),
                  static_cast<int>(time.minutes()), static_cast<int>(time.seconds()));
    Out(line, false);

    // Oldest first: the list runs from newest to oldest.
    std::vector<QProfile*> order;
    for (QProfile* p = g_head; p; p = p->m_pNext) order.push_back(p);
    for (auto it = order.rbegin(); it != order.rend(); ++it) (*it)->PrintReport(0);

    for (QProfile** link = &g_head; *link;) {
      if ((*link)->m_bAutoDelete) {
        autoDelete.push_back(*link);
        *link = (*link)->m_pNext;
        --g_count;
      } else {
        link = &(*link)->m_pNext;
      }
    }
  }
  for (QProfile* p : autoDelete) delete p;
  PrintMemorySummary();
  Out("------------------------------------------------------\r\n", true);
  std::fflush(stdout);
}

// ---- QProfileStarter ----

QProfileStarter::QProfileStarter(QProfile* profile)
    : m_pProfile(profile), m_pCaller(t_current), m_nStart(0), m_nChild(0) {
  t_current = this;
  ++m_pProfile->m_nActiveStarters;
  m_nStart = Counter();
}

QProfileStarter::~QProfileStarter() {
  // Keep the thread's chain right even when nothing is recorded any more.
  t_current = m_pCaller;
  if (g_stopped.load(std::memory_order_relaxed)) return;
  const __int64 elapsed = Counter() - m_nStart;
  QProfile* profile = m_pProfile;
  const bool recursive = --profile->m_nActiveStarters > 0;
  if (elapsed > profile->m_nMax) profile->m_nMax = elapsed;
  if (elapsed < profile->m_nMin) profile->m_nMin = elapsed;
  if (!m_pCaller) {
    profile->Add(elapsed, m_nChild);
    return;
  }
  QProfile* callerProfile = m_pCaller->m_pProfile;
  if (!profile->m_pParent)
    profile->m_pParent = callerProfile;
  else if (profile->m_pParent != callerProfile)
    profile->m_pParent = kSeveralCallers;
  if (recursive) {
    if (QProfileStarter* same = RecursiveCallFrom()) {
      // The outermost execution counts the time; this one counts a hit.
      profile->m_nHits += 1;
      if (same == m_pCaller) {
        m_pCaller->m_nChild += m_nChild;
      } else {
        m_pCaller->m_nChild += elapsed;
        same->m_nChild += m_nChild - elapsed;
      }
      return;
    }
  }
  profile->Add(elapsed, m_nChild);
  m_pCaller->m_nChild += elapsed;
}

QProfileStarter* QProfileStarter::RecursiveCallFrom() {
  for (QProfileStarter* s = m_pCaller; s; s = s->m_pCaller)
    if (s->m_pProfile == m_pProfile) return s;
  return nullptr;
}

// ---- export ----

// Builds the call paths of the listed profiles (see WriteSpeedscope).
class QProfileExport {
 public:
  static hux::detail::ExportProfile Build() {
    hux::detail::ExportProfile out;
    out.name = "Call-tree profile";
    __int64 hz = 0;
    GetCPUFreq(hz);
    out.unit = hz > 0 ? "nanoseconds" : "none";
    auto weight = [hz](__int64 ticks) -> long long {
      if (ticks <= 0) return 0;
      if (hz <= 0) return ticks;
      return static_cast<long long>((static_cast<__int128>(ticks) * 1000000000 + hz / 2) / hz);
    };

    std::lock_guard<std::mutex> lock(g_listMutex);
    std::vector<const QProfile*> order;
    for (const QProfile* p = g_head; p; p = p->m_pNext) order.push_back(p);
    std::unordered_map<const QProfile*, size_t> index;
    for (size_t i = order.size(); i-- > 0;) {
      const QProfile* p = order[i];
      index.emplace(p, out.frames.size());
      hux::detail::ExportFrame frame{hux::detail::ValidUtf8(p->m_szName ? p->m_szName : ""), std::string(), 0};
      if (p->m_szFile && *p->m_szFile) {
        frame.file = hux::detail::ValidUtf8(p->m_szFile);
        frame.line = p->m_nLine;
      }
      out.frames.push_back(std::move(frame));
    }
    // The one calling profile, when it is still listed (an unlisted one may
    // be gone); a profile recursing into itself is its own caller.
    auto parentOf = [&index](const QProfile* p) -> const QProfile* {
      const QProfile* parent = p->m_pParent;
      return parent != kSeveralCallers && parent != p && index.count(parent) ? parent : nullptr;
    };
    const __int64 now = Counter();
    auto totalOf = [now](const QProfile* p) { return p->m_nTotal + (p->m_nRunning ? now - p->m_nStart : 0); };
    std::unordered_map<const QProfile*, __int64> childTotals;
    for (const QProfile* p : order)
      if (const QProfile* parent = parentOf(p)) childTotals[parent] += totalOf(p);

    size_t severalFrame = SIZE_MAX;
    for (size_t i = order.size(); i-- > 0;) {
      const QProfile* p = order[i];
      std::vector<size_t> path;
      // Calling profiles can form a cycle (A measured under B, B under A).
      for (const QProfile* q = p; q; q = parentOf(q)) {
        const size_t frame = index.at(q);
        if (std::find(path.begin(), path.end(), frame) != path.end()) break;
        path.push_back(frame);
      }
      std::reverse(path.begin(), path.end());
      if (const long long self = weight(totalOf(p) - p->m_nChild); self > 0) out.stacks.push_back({path, self});
      const long long others = weight(p->m_nChild - childTotals[p]);
      if (others > 0) {
        if (severalFrame == SIZE_MAX) {
          severalFrame = out.frames.size();
          out.frames.push_back({"(callees with several callers)", std::string(), 0});
        }
        path.push_back(severalFrame);
        out.stacks.push_back({std::move(path), others});
      }
    }
    return out;
  }
};

bool QProfile::WriteSpeedscope(std::ostream& out) { return hux::detail::WriteSpeedscope(out, QProfileExport::Build()); }

bool QProfile::WriteCollapsedStacks(std::ostream& out) {
  return hux::detail::WriteCollapsedStacks(out, QProfileExport::Build());
}

// ---- free functions ----

void GetCPUFreq(__int64& hz) { hz = hux::platform::TimeStampCounterFrequency(); }

int QPAddMemoryStatus(char const* tag) {
  std::lock_guard<std::mutex> lock(g_memoryMutex);
  if (g_memoryCount >= kMaxMemoryRecords) return 0;
  // Unknown memory (no /proc) is recorded as 0, so the tag still marks the
  // moment.
  const long long bytes = hux::platform::PrivateMemoryBytes();
  g_memory[g_memoryCount++] = MemoryRecord{tag, bytes > 0 ? bytes * 9.5367431640625e-07 : 0.0};
  return 1;
}

double QPMemoryDiffent(char const* tagA, char const* tagB) {
  std::lock_guard<std::mutex> lock(g_memoryMutex);
  auto find = [](char const* tag) -> const MemoryRecord* {
    for (int i = 0; i < g_memoryCount; ++i) {
      const char* t = g_memory[i].tag;
      if (t == tag || (t && tag && std::strcmp(t, tag) == 0)) return &g_memory[i];
    }
    return nullptr;
  };
  const MemoryRecord* a = find(tagA);
  const MemoryRecord* b = find(tagB);
  if (!a || !b) return 0.0;
  return a->mib - b->mib;
}
