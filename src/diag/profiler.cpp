// The frame profiler.
#include <hux/diag/profiler.h>

#include <cfloat>
#include <chrono>
#include <fstream>
#include <iomanip>
#include <sstream>

#include <boost/date_time/posix_time/posix_time.hpp>

#include <hux/util/stopwatch.h>

#include "util/unicode.h"

namespace hux {

template class CSingleton<CProfiler>;

namespace {

// The profiler's cost clock, started at load; only its wall time is read.
// boost::timer::cpu_timer::elapsed() also reads the process's CPU times with
// a system call each time (some microseconds, far more than the scope being
// timed), so the wall time is read from the monotonic clock that cpu_timer
// itself uses for it.
std::chrono::steady_clock::time_point CostStart() {
  static const std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
  return start;
}
const bool g_costTimerStarted = (CostStart(), true);

double WallNs() {
  return static_cast<double>(
      std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - CostStart()).count());
}

double Ticks() { return static_cast<double>(CStopwatch::GetTickCount()); }

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
      m_bInFrame(false) {}

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
}

CProfileInstance* CProfileInstance::FindChild(std::wstring const& name) const {
  for (CProfileInstance* child : m_vecChildren)
    if (child->m_strName == name) return child;
  return nullptr;
}

void CProfileInstance::AddChild(CProfileInstance* child) {
  if (child) m_vecChildren.push_back(child);
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

CProfiler::~CProfiler() { ResetProfile(); }

void CProfiler::ResetProfile() {
  m_root.DeleteChildren();
  m_pCurrent = &m_root;
  m_nFrameCounter = 0;
  m_bStatisticsValid = false;
  m_dBeginCost = 0;
  m_dEndCost = 0;
  m_nBeginCalls = 0;
}

void CProfiler::BeginProfile(std::wstring const& name) {
  const double t0 = WallNs();
  if (m_pCurrent == &m_root) {
    ++m_nFrameCounter;
    m_bStatisticsValid = false;
  }
  CProfileInstance* node = m_pCurrent->FindChild(name);
  if (node) {
    if (node->m_nFrame != m_nFrameCounter) node->BeginFrame(m_nFrameCounter);
  } else {
    node = new CProfileInstance(m_pCurrent, name, m_nFrameCounter, m_pCurrent->m_nLevel + 1);
    m_pCurrent->AddChild(node);
  }
  m_pCurrent = node;
  node->m_dBeginTick = Ticks();
  const double t1 = WallNs();
  m_dBeginCost += t1 - t0;
  m_nBeginCalls += 1;
}

void CProfiler::EndProfile(std::wstring const& /*name*/) {
  // With no scope open the root would be "closed" and the current scope
  // lost; an unbalanced end is ignored instead.
  if (m_pCurrent == &m_root) return;
  const double t0 = WallNs();
  CProfileInstance* node = m_pCurrent;
  node->m_dEndTick = Ticks();
  node->EndFrame(node->m_dEndTick - node->m_dBeginTick);
  const double t1 = WallNs();
  m_dEndCost += t1 - t0;
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
  std::ofstream file(detail::WideToUtf8(path), std::ios::out | std::ios::app | std::ios::binary);
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

// ---- CProfile ----

CProfile::CProfile(std::wstring const& name) : m_strName(name) {
  CSingleton<CProfiler>::GetInstance().BeginProfile(m_strName);
}

CProfile::~CProfile() { CSingleton<CProfiler>::GetInstance().EndProfile(m_strName); }

}  // namespace hux
