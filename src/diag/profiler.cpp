// The frame profiler.
#include <hux/diag/profiler.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <fstream>
#include <iomanip>
#include <map>
#include <sstream>

#include <boost/date_time/posix_time/posix_time.hpp>

#include <hux/platform/clock.h>
#include <hux/util/stopwatch.h>

#include "diag/profile_export.h"
#include "util/native_path.h"
#include "util/unicode.h"

namespace hux {

template class CSingleton<CProfiler>;

namespace {

// The profiler's cost is wall time of the monotonic clock: the wall time of
// boost::timer::cpu_timer, read without the system call for the process's CPU
// times that cpu_timer::elapsed() adds (microseconds, more than the scopes
// timed). The scope ticks come from the same clock (unless a test's counter is
// installed): the read that gives a scope its begin tick also ends the
// measurement of BeginProfile, and the read that gives the end tick starts
// that of EndProfile, so a scope costs four clock reads, not six.
double Ticks(long long counter) { return static_cast<double>(CStopwatch::TicksFromCounter(counter)); }

// `text` centred in `width` characters of `fill`: floor((width - n) / 2)
// before, the rest after; a longer text is cut to `width`.
std::wstring Centre(const std::wstring& text, size_t width, wchar_t fill) {
  if (text.size() >= width) return text.substr(0, width);
  const size_t before = (width - text.size()) / 2;
  return std::wstring(before, fill) + text + std::wstring(width - text.size() - before, fill);
}

// A number in fixed notation with two decimals, right-aligned in 9.
std::wstring Cell(double value) {
  std::wostringstream out;
  out << std::fixed << std::setprecision(2) << std::setw(9) << value;
  return out.str();
}

// The tree below `root` as call paths, one frame per distinct name.
detail::ExportProfile ExportTree(const CProfileInstance& root) {
  detail::ExportProfile profile;
  profile.name = "Frame profile";
  profile.unit = "milliseconds";
  std::map<std::wstring, size_t> frameOf;
  struct Visit {
    const CProfileInstance* node;
    std::vector<size_t> path;
  };
  std::vector<Visit> stack;
  for (auto it = root.GetChildren().rbegin(); it != root.GetChildren().rend(); ++it) stack.push_back({*it, {}});
  while (!stack.empty()) {
    Visit visit = std::move(stack.back());
    stack.pop_back();
    const CProfileInstance* node = visit.node;
    const auto [at, added] = frameOf.emplace(node->GetName(), profile.frames.size());
    if (added) profile.frames.push_back({detail::WideToUtf8(node->GetName()), std::string(), 0});
    visit.path.push_back(at->second);
    // A node not entered in a frame is folded again with its last frame's
    // time, so its children can hold more time than it: no negative self.
    double self = node->GetTotalTime();
    for (const CProfileInstance* child : node->GetChildren()) self -= child->GetTotalTime();
    const long long weight = std::llround(std::max(self, 0.0));
    if (weight > 0) profile.stacks.push_back({visit.path, weight});
    for (auto it = node->GetChildren().rbegin(); it != node->GetChildren().rend(); ++it)
      stack.push_back({*it, visit.path});
  }
  return profile;
}

// n / d, or 0 when there is nothing to divide by.
double Ratio(double n, double d) { return d != 0.0 ? n / d : 0.0; }

}  // namespace

// ---- CProfileInstance ----

CProfileInstance::CProfileInstance() : CProfileInstance(nullptr, std::wstring(), 0, 0) {}

CProfileInstance::CProfileInstance(CProfileInstance* parent, std::wstring const& name, long frame, unsigned int level)
    : m_pParent(parent),
      m_strName(name),
      m_nFrame(frame),
      m_nLevel(level),
      m_dBeginTick(0),
      m_dEndTick(0),
      m_dFrameTime(0),
      m_nFrameCalls(0),
      m_dLastFrameParentShare(1.0),
      m_dLastFrameTime(0),
      m_dMaxTime(0),
      m_dMinTime(1000.0),
      m_nLastFrameCalls(0),
      m_dTotalParentShare(1.0),
      m_dTotalTime(0),
      m_nTotalCalls(0),
      m_bInFrame(false),
      m_nLastFound(0),
      m_bDuplicateNames(false) {}

CProfileInstance::CProfileInstance(CProfileInstance const& other) { CopyFrom(other); }

CProfileInstance& CProfileInstance::operator=(CProfileInstance const& other) {
  if (this != &other) {
    // Copy first: `other` may live inside this node's subtree.
    CProfileInstance copy(other);
    DeleteChildren();
    std::vector<CProfileInstance*> children;
    children.swap(copy.m_vecChildren);
    CopyFrom(copy);  // copy has no children now
    m_vecChildren.swap(children);
    for (CProfileInstance* child : m_vecChildren) child->m_pParent = this;
  }
  return *this;
}

void CProfileInstance::CopyFrom(CProfileInstance const& other) {
  m_pParent = other.m_pParent;
  m_strName = other.m_strName;
  m_nFrame = other.m_nFrame;
  m_nLevel = other.m_nLevel;
  m_dBeginTick = other.m_dBeginTick;
  m_dEndTick = other.m_dEndTick;
  m_dFrameTime = other.m_dFrameTime;
  m_nFrameCalls = other.m_nFrameCalls;
  m_dLastFrameParentShare = other.m_dLastFrameParentShare;
  m_dLastFrameTime = other.m_dLastFrameTime;
  m_dMaxTime = other.m_dMaxTime;
  m_dMinTime = other.m_dMinTime;
  m_nLastFrameCalls = other.m_nLastFrameCalls;
  m_dTotalParentShare = other.m_dTotalParentShare;
  m_dTotalTime = other.m_dTotalTime;
  m_nTotalCalls = other.m_nTotalCalls;
  m_bInFrame = other.m_bInFrame;
  m_nLastFound = other.m_nLastFound;
  m_bDuplicateNames = other.m_bDuplicateNames;
  m_vecChildren.clear();
  m_vecChildren.reserve(other.m_vecChildren.size());
  for (const CProfileInstance* child : other.m_vecChildren) {
    CProfileInstance* copy = new CProfileInstance(*child);
    copy->m_pParent = this;
    m_vecChildren.push_back(copy);
  }
}

CProfileInstance::~CProfileInstance() { DeleteChildren(); }

void CProfileInstance::DeleteChildren() {
  for (CProfileInstance* child : m_vecChildren) delete child;
  m_vecChildren.clear();
  m_nLastFound = 0;
  m_bDuplicateNames = false;
}

CProfileInstance* CProfileInstance::FindChild(std::wstring const& name) const {
  for (CProfileInstance* child : m_vecChildren)
    if (child->m_strName == name) return child;
  return nullptr;
}

CProfileInstance* CProfileInstance::FindChildForEntry(std::wstring const& name) {
  const size_t count = m_vecChildren.size();
  // A frame loop enters the same scopes in the same order, so the child
  // wanted is mostly the one found last (a scope repeated) or the next one.
  // With unique names a match there is the first match too.
  if (!m_bDuplicateNames) {
    for (size_t i = m_nLastFound; i < count && i <= m_nLastFound + 1; ++i) {
      if (m_vecChildren[i]->m_strName == name) {
        m_nLastFound = i;
        return m_vecChildren[i];
      }
    }
  }
  for (size_t i = 0; i < count; ++i) {
    if (m_vecChildren[i]->m_strName == name) {
      m_nLastFound = i;
      return m_vecChildren[i];
    }
  }
  return nullptr;
}

void CProfileInstance::AddChild(CProfileInstance* child) {
  if (!child) return;
  if (!m_bDuplicateNames && FindChild(child->m_strName)) m_bDuplicateNames = true;
  m_vecChildren.push_back(child);
}

void CProfileInstance::BeginFrame(long frame) {
  m_nFrame = frame;
  m_bInFrame = true;
  m_dFrameTime = 0;
  m_nFrameCalls = 0;
}

void CProfileInstance::EndFrame(double elapsed) {
  m_dFrameTime += elapsed;
  m_nFrameCalls += 1;
  m_bInFrame = false;
}

// ---- CProfiler ----

CProfiler::CProfiler()
    : m_pCurrent(nullptr),
      m_nFrameCounter(0),
      m_bStatisticsValid(false),
      m_dBeginCost(0),
      m_dEndCost(0),
      m_nBeginCalls(0) {
  ResetProfile();
}

CProfiler::~CProfiler() {
  ResetProfile();
  for (CProfileInstance* node : m_vecRetired) delete node;
}

void CProfiler::ResetProfile() {
  if (m_pCurrent && m_pCurrent != &m_root) {
    // Open guards refer to names in the tree: keep it until the end.
    m_vecRetired.insert(m_vecRetired.end(), m_root.m_vecChildren.begin(), m_root.m_vecChildren.end());
    m_root.m_vecChildren.clear();
  }
  m_root.DeleteChildren();
  m_pCurrent = &m_root;
  m_nFrameCounter = 0;
  m_bStatisticsValid = false;
  m_dBeginCost = 0;
  m_dEndCost = 0;
  m_nBeginCalls = 0;
}

void CProfiler::BeginProfile(std::wstring const& name) { Enter(name); }

CProfileInstance* CProfiler::Enter(std::wstring const& name) {
  const long long t0 = platform::MonotonicNanoseconds();
  CProfileInstance* parent = m_pCurrent;
  if (parent == &m_root) {
    ++m_nFrameCounter;
    m_bStatisticsValid = false;
  }
  CProfileInstance* node = parent->FindChildForEntry(name);
  if (node) {
    if (node->m_nFrame != m_nFrameCounter) node->BeginFrame(m_nFrameCounter);
  } else {
    // Not found, so the name is new among the children: appended directly.
    node = new CProfileInstance(parent, name, m_nFrameCounter, parent->m_nLevel + 1);
    parent->m_vecChildren.push_back(node);
    parent->m_nLastFound = parent->m_vecChildren.size() - 1;
  }
  m_pCurrent = node;
  const platform::CounterReading now = platform::ReadPerformanceCounterWithClock();
  node->m_dBeginTick = Ticks(now.counter);
  m_dBeginCost += static_cast<double>(now.monotonicNs - t0);
  m_nBeginCalls += 1;
  return node;
}

void CProfiler::EndProfile(std::wstring const& /*name*/) {
  // With no scope open the root would be "closed" and the current scope
  // lost; an unbalanced end is ignored instead.
  if (m_pCurrent == &m_root) return;
  const platform::CounterReading now = platform::ReadPerformanceCounterWithClock();
  CProfileInstance* node = m_pCurrent;
  node->m_dEndTick = Ticks(now.counter);
  node->EndFrame(node->m_dEndTick - node->m_dBeginTick);
  m_dEndCost += static_cast<double>(platform::MonotonicNanoseconds() - now.monotonicNs);
  // The statistics pass is not part of the measured cost.
  if (node->m_pParent == &m_root) ProcessFrameStats(node);
  m_pCurrent = node->m_pParent;
}

void CProfiler::ProcessFrameStats(CProfileInstance* node) {
  if (!node) return;
  node->m_dLastFrameTime = node->m_dFrameTime;
  node->m_dTotalTime += node->m_dFrameTime;
  node->m_nTotalCalls += node->m_nFrameCalls;
  node->m_nLastFrameCalls = node->m_nFrameCalls;
  if (node->m_nFrameCalls != 0) {
    const double perCall = node->m_dFrameTime / node->m_nFrameCalls;
    if (perCall > node->m_dMaxTime)
      node->m_dMaxTime = perCall;
    else if (perCall < node->m_dMinTime)
      node->m_dMinTime = perCall;
  }
  const CProfileInstance* parent = node->m_pParent;
  if (parent && parent != &m_root) {
    node->m_dLastFrameParentShare =
        parent->m_dFrameTime <= DBL_EPSILON
            ? 1.0
            : static_cast<double>(static_cast<float>(node->m_dFrameTime) / static_cast<float>(parent->m_dFrameTime));
    node->m_dTotalParentShare =
        parent->m_dTotalTime <= DBL_EPSILON ? 1.0 : node->m_dTotalTime / parent->m_dTotalTime;
  }
  for (CProfileInstance* child : node->m_vecChildren) ProcessFrameStats(child);
}

void CProfiler::ProcessFrameStats() {
  for (CProfileInstance* child : m_root.m_vecChildren) ProcessFrameStats(child);
}

void CProfiler::UpdateStatistic() {
  if (m_bStatisticsValid) return;
  m_strTitles.clear();
  m_strValues.clear();
  std::wostringstream titles, values;
  // Pre-order over the tree with an explicit stack (children in order).
  std::vector<const CProfileInstance*> stack(m_root.m_vecChildren.rbegin(), m_root.m_vecChildren.rend());
  while (!stack.empty()) {
    const CProfileInstance* node = stack.back();
    stack.pop_back();
    titles << L'\n' << std::wstring(node->m_nLevel, L' ') << node->m_strName << L'(' << node->m_nLastFrameCalls
           << L')';
    values << L'\n' << node->m_dLastFrameTime << L"ms";
    if (node->m_pParent != &m_root) {
      values << L'-' << std::fixed << std::setprecision(2) << node->m_dLastFrameParentShare * 100 << L'%';
      values.unsetf(std::ios::floatfield);
      values.precision(6);
    }
    stack.insert(stack.end(), node->m_vecChildren.rbegin(), node->m_vecChildren.rend());
  }
  m_strTitles = titles.str();
  m_strValues = values.str();
  m_bStatisticsValid = true;
}

std::wstring const& CProfiler::GetTitlesStr() {
  if (!m_bStatisticsValid) UpdateStatistic();
  return m_strTitles;
}

std::wstring const& CProfiler::GetValueStr() {
  if (!m_bStatisticsValid) UpdateStatistic();
  return m_strValues;
}

bool CProfiler::LogProfileResult(std::wstring const& path) {
  std::string native;
  if (!detail::WideToNativePath(path, native)) return false;
  std::ofstream file(native, std::ios::out | std::ios::app | std::ios::binary);
  if (!file.is_open()) return false;

  std::wostringstream out;
  const std::wstring now = boost::posix_time::to_simple_wstring(boost::posix_time::second_clock::local_time());
  out << L'\n' << Centre(L"Profile Result (" + now + L")", 100, L'-') << L'\n';
  out << Centre(L"NAME", 40, L' ');
  for (const wchar_t* head : {L"AVG", L"MAX", L"MIN", L"CsPF", L"PARENT%", L"TOTAL%", L"HIER"})
    out << L'|' << Centre(head, 9, L' ');
  out << L'\n' << std::wstring(100, L'-') << L'\n';

  int frames = 0;  // total calls of the last top-level node
  for (const CProfileInstance* top : m_root.m_vecChildren) {
    const double topTime = top->m_dTotalTime;
    const int topCalls = top->m_nTotalCalls;
    frames = topCalls;
    std::vector<const CProfileInstance*> stack{top};
    while (!stack.empty()) {
      const CProfileInstance* node = stack.back();
      stack.pop_back();
      std::wstring name = node->m_strName.substr(0, 40);
      out << std::wstring(40 - name.size(), L' ') << name;
      out << L'|' << Cell(Ratio(node->m_dTotalTime, topCalls));
      out << L'|' << Cell(node->m_dMaxTime);
      out << L'|' << Cell(node->m_dMinTime);
      out << L'|' << std::setw(9) << (topCalls != 0 ? node->m_nTotalCalls / topCalls : 0);
      out << L'|' << Cell(node->m_dTotalParentShare * 100);
      out << L'|' << Cell(Ratio(node->m_dTotalTime, topTime) * 100);
      out << L'|' << std::wstring(node->m_nLevel * 4, L'-') << L'*' << L'\n';
      stack.insert(stack.end(), node->m_vecChildren.rbegin(), node->m_vecChildren.rend());
    }
  }

  // Per-frame figures need at least one frame; without one they are 0.
  const double f = frames;
  out << Centre(L"Profile Cost", 90, L'-') << L'\n';
  out << L"Profile Invoked Per Frame: " << (frames != 0 ? m_nBeginCalls / frames : 0) << L'\n';
  out << L"Profile Begin Per Frame(ms): " << Ratio(m_dBeginCost, f * 1000000.0) << L'\n';
  out << L"Profile Begin Per Call(ns): " << Ratio(m_dBeginCost, m_nBeginCalls) << L'\n';
  out << L"Profile End Per Frame(ms): " << Ratio(m_dEndCost, f * 1000000.0) << L'\n';
  out << L"Profile End Per Call(ns): " << Ratio(m_dEndCost, m_nBeginCalls) << L'\n';

  const std::string utf8 = detail::WideToUtf8(out.str());
  file.write(utf8.data(), static_cast<std::streamsize>(utf8.size()));
  return true;
}

bool CProfiler::WriteSpeedscope(std::ostream& out) const { return detail::WriteSpeedscope(out, ExportTree(m_root)); }

bool CProfiler::WriteCollapsedStacks(std::ostream& out) const {
  return detail::WriteCollapsedStacks(out, ExportTree(m_root));
}

// ---- CProfile ----

CProfile::CProfile(std::wstring const& name)
    : m_pName(&CSingleton<CProfiler>::GetInstance().Enter(name)->GetName()) {}

CProfile::~CProfile() { CSingleton<CProfiler>::GetInstance().EndProfile(*m_pName); }

}  // namespace hux
