// The call-tree profiler: per-site profiles timed with the processor's
// time-stamp counter, and tagged memory snapshots, summarised once per run.
//
// Client code declares one QProfile per measured site (typically a
// function-local static with a string-literal name) and measures each
// execution with a scoped QProfileStarter. Starters on one thread form a
// chain, so a profile learns its calling profile and the time spent in
// measured callees, and recursion is counted once. The profile "Total time"
// runs from the library's load. The summary (one line per profile in order of
// construction, then the memory snapshots) goes to the standard output and to
// "QProfile.txt" beside the executable, once: at the first destruction of a
// profile while at least two exist (so at the latest when the library is
// unloaded), or by PrintSummary. Afterwards nothing more is measured.
//
// Texts (names, file names, memory tags) are not copied: they must live until
// the summary. A profile is measured by one thread at a time; starters of
// different threads do not see each other. These names are global, outside
// the namespace hux.
#pragma once

#include <iosfwd>

#include <hux/export.h>

class QProfileStarter;
class QProfileExport;

class HUX_API QProfile {
 public:
  // Lists the profile (newest first) and starts "Total time" if it is not
  // running. `autoDelete` marks a heap object that the summary destroys.
  QProfile(char const* name, bool autoDelete = false, char const* file = "", int line = 0);
  // Prints the summary if at least two profiles are listed (nothing after
  // the first summary), then unlists the profile.
  ~QProfile();
  QProfile(QProfile const&) = delete;
  // Copies the figures and texts; the target keeps its own place in the list.
  QProfile& operator=(QProfile const& other);

  // Manual measurement: nested Start/Stop pairs count one hit each and add
  // the time between the outermost Start and Stop once. Stop without Start
  // does nothing.
  void Start();
  void Stop();
  bool IsRunning();
  // Clears total, start, hits, nesting and maximum; minimum back to its
  // start value.
  void Reset();

  // Writes the summary once per process; later calls do nothing.
  static void PrintSummary();

  // The profiles for flame-graph viewers, in UTF-8 (names are read as UTF-8;
  // other bytes become U+FFFD). A profile's call path runs up through the
  // one profile it was measured under, to a profile measured under none or
  // several, and carries the profile's self time: its time less that of its
  // measured callees, in nanoseconds (time-stamp ticks, unit "none", when
  // the frequency is unknown). The time a profile spent in callees measured
  // under several profiles shows below it as "(callees with several
  // callers)"; those callees start paths of their own. So the weights below
  // a profile add up to its total time. A running profile counts up to now.
  // WriteSpeedscope writes a speedscope file (www.speedscope.app) with one
  // "sampled" profile: the profiles hold sums, not a timeline, so the paths
  // are weighted samples, not timed events. WriteCollapsedStacks writes one
  // line per path, "outer;inner;leaf weight" (in names ';' becomes ':' and
  // control characters '?'). Call them while no measurement runs, like
  // PrintSummary; after the summary the auto-delete profiles are gone. Both
  // return false when the stream fails.
  static bool WriteSpeedscope(std::ostream& out);
  static bool WriteCollapsedStacks(std::ostream& out);

  // Unused by the library; kept for client code of the Windows edition.
  static char* StrBuffer;

  char const* GetName() const { return m_szName; }
  // Figures in time-stamp ticks.
  __int64 GetTotalTicks() const { return m_nTotal; }
  __int64 GetChildTicks() const { return m_nChild; }
  __int64 GetMaxTicks() const { return m_nMax; }
  __int64 GetMinTicks() const { return m_nMin; }
  __int64 GetHits() const { return m_nHits; }
  // The one profile this profile was measured under, or null when it had no
  // calling profile or several (HasSeveralCallers).
  QProfile const* GetParent() const;
  bool HasSeveralCallers() const;

 private:
  friend class QProfileStarter;
  friend class QProfileExport;
  void Add(__int64 const& ticks, __int64 const& childTicks);
  double ElapsedInMS();
  QProfile* FindNextChild(QProfile* after);
  bool operator>(QProfile& other);
  void PrintReport(int depth);
  static bool Out(char const* text, bool close, char const* unused = nullptr);
  static void PrintMemorySummary();

  bool m_bAutoDelete;
  __int64 m_nTotal;
  __int64 m_nChild;
  __int64 m_nStart;
  __int64 m_nMax;
  __int64 m_nMin;
  __int64 m_nHits;
  QProfile* m_pNext;
  unsigned int m_nRunning;
  int m_nActiveStarters;
  QProfile* m_pParent;
  bool m_bPrinted;
  char const* m_szFile;
  int m_nLine;
  char const* m_szName;
};

// Measures one execution of a profile, from construction to destruction.
// Create and destroy starters in nested order on one thread.
class HUX_API QProfileStarter {
 public:
  explicit QProfileStarter(QProfile* profile);
  ~QProfileStarter();
  QProfileStarter(QProfileStarter const&) = delete;
  QProfileStarter& operator=(QProfileStarter const&) = delete;

 private:
  QProfileStarter* RecursiveCallFrom();

  QProfile* m_pProfile;
  QProfileStarter* m_pCaller;
  __int64 m_nStart;
  __int64 m_nChild;
};

// The time-stamp counter's frequency in ticks per second, measured once
// against the monotonic clock; 0 when it cannot be measured.
HUX_API void GetCPUFreq(__int64& hz);
// Records the process's private memory in use (MiB) under `tag`. 1 when
// recorded, 0 when the 1024 records are used up.
HUX_API int QPAddMemoryStatus(char const* tag);
// Memory of the first record tagged `tagA` minus that of the first tagged
// `tagB`, in MiB; 0.0 when either tag was not recorded.
HUX_API double QPMemoryDiffent(char const* tagA, char const* tagB);
