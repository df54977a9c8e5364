// The frame profiler: named scopes measured per frame, with running
// statistics, on-screen texts and a tabular report.
//
// Client code opens and closes scopes with the guard CProfile (or
// BeginProfile/EndProfile in last-in, first-out order) on the process-wide
// CProfiler, CSingleton<CProfiler>::GetInstance(). The profiler keeps a tree
// of CProfileInstance nodes, one per scope name under each parent. A frame is
// one run of a top-level scope: when it ends, the frame's times are folded
// into every node's statistics. Times are whole milliseconds of
// CStopwatch::GetTickCount; the profiler also measures its own cost in
// nanoseconds.
//
// Not thread-safe: a profiler and its tree belong to one thread (the frame
// loop's).
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include <hux/export.h>
#include <hux/util/singleton.h>

namespace hux {

class CProfiler;

// One scope of the tree and its statistics (times in milliseconds).
class HUX_API CProfileInstance {
 public:
  // A copy owns copies of the whole subtree (no node belongs to two
  // parents); its own parent pointer is the source's.
  CProfileInstance(CProfileInstance const& other);
  CProfileInstance& operator=(CProfileInstance const& other);
  // Destroys the children, recursively.
  ~CProfileInstance();

  // The first child named exactly `name` (case-sensitive), or null.
  CProfileInstance* FindChild(std::wstring const& name) const;
  // Appends `child`, which this node then owns; null is ignored.
  void AddChild(CProfileInstance* child);
  // Starts a frame: frame number, in-frame, frame time and calls 0.
  void BeginFrame(long frame);
  // Adds one call of `elapsed` milliseconds to the frame; leaves the frame.
  void EndFrame(double elapsed);

  CProfileInstance* GetParent() const { return m_pParent; }
  std::vector<CProfileInstance*> const& GetChildren() const { return m_vecChildren; }
  std::wstring const& GetName() const { return m_strName; }
  long GetFrame() const { return m_nFrame; }
  // 0 for the root, parent's level + 1 below it.
  unsigned int GetLevel() const { return m_nLevel; }
  double GetBeginTick() const { return m_dBeginTick; }
  double GetEndTick() const { return m_dEndTick; }
  // Time and entries in the node's current (or last entered) frame.
  double GetFrameTime() const { return m_dFrameTime; }
  int GetFrameCalls() const { return m_nFrameCalls; }
  // The node's last folded frame: time, calls and share of the parent.
  double GetLastFrameTime() const { return m_dLastFrameTime; }
  int GetLastFrameCalls() const { return m_nLastFrameCalls; }
  double GetLastFrameParentShare() const { return m_dLastFrameParentShare; }
  // Longest and shortest per-call time of a folded frame (1000 until a
  // per-call time below the maximum is seen).
  double GetMaxTime() const { return m_dMaxTime; }
  double GetMinTime() const { return m_dMinTime; }
  // Sums over every folded frame, and the share of the parent's total time.
  double GetTotalTime() const { return m_dTotalTime; }
  int GetTotalCalls() const { return m_nTotalCalls; }
  double GetTotalParentShare() const { return m_dTotalParentShare; }
  bool IsInFrame() const { return m_bInFrame; }

 protected:
  CProfileInstance();
  CProfileInstance(CProfileInstance* parent, std::wstring const& name, long frame, unsigned int level);

 private:
  friend class CProfiler;
  void CopyFrom(CProfileInstance const& other);
  void DeleteChildren();
  // FindChild that tries the child found last and the one after it first.
  CProfileInstance* FindChildForEntry(std::wstring const& name);

  CProfileInstance* m_pParent;
  std::vector<CProfileInstance*> m_vecChildren;
  std::wstring m_strName;
  long m_nFrame;
  unsigned int m_nLevel;
  double m_dBeginTick;
  double m_dEndTick;
  double m_dFrameTime;
  int m_nFrameCalls;
  double m_dLastFrameParentShare;
  double m_dLastFrameTime;
  double m_dMaxTime;
  double m_dMinTime;
  int m_nLastFrameCalls;
  double m_dTotalParentShare;
  double m_dTotalTime;
  int m_nTotalCalls;
  bool m_bInFrame;
  // The lookup hint of FindChildForEntry: the index of the child found last.
  // It is only used while no two children share a name (AddChild can append
  // a duplicate; FindChild must then return the first of them).
  size_t m_nLastFound;
  bool m_bDuplicateNames;
};

class HUX_API CProfiler : public CSingleton<CProfiler> {
 public:
  CProfiler();
  ~CProfiler();
  CProfiler(CProfiler const&) = delete;
  CProfiler& operator=(CProfiler const&) = delete;

  // Destroys every node, returns to the root, frame 0, costs 0. Call it while
  // no scope is open; if scopes are open, their nodes are kept (unlisted)
  // until the profiler is destroyed, so that their guards stay valid, and
  // their ends are ignored.
  void ResetProfile();
  // Opens the scope `name` below the current one; opening a top-level scope
  // starts a new frame.
  void BeginProfile(std::wstring const& name);
  // Closes the current scope (whatever `name` says); closing a top-level
  // scope folds the frame into the statistics. Does nothing when no scope
  // is open.
  void EndProfile(std::wstring const& name);
  // Folds the current frame of `node`'s subtree into its statistics.
  void ProcessFrameStats(CProfileInstance* node);
  // ProcessFrameStats for every top-level node.
  void ProcessFrameStats();

  // The on-screen texts, rebuilt at most once per frame: one line per node
  // (pre-order), each starting with a line feed. Titles: indentation by
  // level, name, "(" last frame calls ")". Values: last frame time and "ms",
  // and below the top level "-" and the share of the parent with "%".
  std::wstring const& GetTitlesStr();
  std::wstring const& GetValueStr();

  // Appends the report (statistics table and the profiler's cost) to the
  // file `path` as UTF-8. False when the file cannot be opened, or when the
  // path names no file exactly (it holds a NUL, or a character with no byte
  // form such as a lone surrogate); nothing is written then.
  bool LogProfileResult(std::wstring const& path);
  // The accumulated tree (every folded frame) for flame-graph viewers, in
  // UTF-8. Each node's call path (top-level scope first) carries the node's
  // self time: its total time less its children's, in whole milliseconds,
  // never below 0; a path without time is left out, so the weights below a
  // node add up to its total time. WriteSpeedscope writes a speedscope file
  // (www.speedscope.app) with one "sampled" profile: the profiler keeps sums,
  // not a timeline, so the paths are weighted samples, not timed events.
  // WriteCollapsedStacks writes one line per path, "outer;inner;leaf ms"
  // (in names ';' becomes ':' and control characters '?').
  // Both return false when the stream fails.
  bool WriteSpeedscope(std::ostream& out) const;
  bool WriteCollapsedStacks(std::ostream& out) const;
  // A path kept for callers; the profiler itself does not use it.
  void SetLogFilePath(std::wstring const& path) { m_strLogFilePath = path; }
  std::wstring const& GetLogFilePath() const { return m_strLogFilePath; }

  CProfileInstance const* GetRootInstance() { return &m_root; }
  // The profiler's own cost: nanoseconds spent in BeginProfile and
  // EndProfile, and the number of BeginProfile calls.
  double GetBeginCost() const { return m_dBeginCost; }
  double GetEndCost() const { return m_dEndCost; }
  int GetBeginCalls() const { return m_nBeginCalls; }

 protected:
  void UpdateStatistic();

 private:
  friend class CProfile;
  // BeginProfile, returning the node entered.
  CProfileInstance* Enter(std::wstring const& name);

  CProfileInstance* m_pCurrent;
  CProfileInstance m_root;
  long m_nFrameCounter;
  std::wstring m_strLogFilePath;
  std::wstring m_strTitles;
  std::wstring m_strValues;
  bool m_bStatisticsValid;
  double m_dBeginCost;
  double m_dEndCost;
  int m_nBeginCalls;
  // Subtrees taken from the root by a reset while scopes were open.
  std::vector<CProfileInstance*> m_vecRetired;
};

// The library's one frame profiler singleton, shared with client modules.
extern template class CSingleton<CProfiler>;

// A scope of the singleton profiler for the guard's lifetime. Not copyable:
// each guard ends exactly the scope it began.
class HUX_API CProfile {
 public:
  explicit CProfile(std::wstring const& name);
  ~CProfile();
  CProfile(CProfile const&) = delete;
  CProfile& operator=(CProfile const&) = delete;

 private:
  // The scope's name as the tree holds it (the node outlives the guard), so
  // that opening a scope copies no text.
  std::wstring const* m_pName;
};

}  // namespace hux
