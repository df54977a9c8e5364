// The log manager.
#include <hux/diag/logmanager.h>

#include <cstdlib>

#include <boost/date_time/posix_time/posix_time.hpp>

#include <hux/platform/debug.h>

#include "diag/widen.h"
#include "util/native_path.h"
#include "util/unicode.h"

namespace hux {

// Never destroyed: threads that the host leaves running may still log while
// the process exits, after the exit handlers have run. The handler that
// flushes the file is registered when the instance is made, so it runs where
// the instance's destructor would have run.
template <>
CLogManager& CSingleton<CLogManager>::GetInstance() {
  static CLogManager* const instance = [] {
    CLogManager* log = new CLogManager;
    ms_pInstance = log;
    std::atexit([] { ms_pInstance->FlushAtExit(); });
    return log;
  }();
  return *instance;
}

template class CSingleton<CLogManager>;

CLogManager::CLogManager()
    : m_bDebuggerOutput(true), m_bFileOutput(true), m_bTimeStamp(false), m_enLogLevel(LOG_NORMAL) {}

CLogManager::~CLogManager() = default;

bool CLogManager::SetOutputFilePath(std::wstring const& path) {
  CLock lock(m_lock);
  // A second file would close the first and lose its later lines: keep the
  // open one and refuse.
  if (m_logFile.is_open()) return false;
  m_logFile.clear();
  // Binary mode with our own UTF-8: line feeds stay line feeds and every
  // character can be represented, so a write never fails on a character.
  std::string native;
  if (detail::WideToNativePath(path, native))
    m_logFile.open(native, std::ios::out | std::ios::app | std::ios::binary);
  if (!m_logFile.is_open()) {
    m_logFile.setstate(std::ios::failbit);
    return false;
  }
  m_logFile.clear();
  const std::string stamp = boost::posix_time::to_simple_string(boost::posix_time::second_clock::local_time());
  const std::string dashes(37, '-');
  m_logFile << '\n' << dashes << stamp << dashes << '\n';
  return m_logFile.good();
}

void CLogManager::FlushAtExit() {
  CLock lock(m_lock);
  m_logFile.flush();
  // A line logged later is not lost with the buffer when the process ends.
  m_logFile.setf(std::ios::unitbuf);
}

void CLogManager::SetDebuggerOutput(bool on) {
  CLock lock(m_lock);
  m_bDebuggerOutput.store(on, std::memory_order_relaxed);
}

void CLogManager::SetTimeStamp(bool on) {
  CLock lock(m_lock);
  m_bTimeStamp.store(on, std::memory_order_relaxed);
}

void CLogManager::SetLogLevel(EnLogLevel level) {
  CLock lock(m_lock);
  m_enLogLevel.store(level, std::memory_order_relaxed);
}

void CLogManager::Log(std::wstring const& message, EnLogLevel level) {
  if (static_cast<int>(level) > static_cast<int>(m_enLogLevel.load(std::memory_order_relaxed))) return;

  // Compose the whole line outside the lock.
  std::wstring line;
  line.reserve(message.size() + 32);
  if (m_bTimeStamp.load(std::memory_order_relaxed)) {
    const boost::posix_time::ptime now = boost::posix_time::second_clock::local_time();
    line += L'[';
    line += boost::posix_time::to_simple_wstring(now.time_of_day());
    line += L"] - ";
  }
  line += L'[';
  line += GetLogLevelString(level);
  line += L"]: ";
  line += message;
  line += L'\n';
  const std::string utf8 = detail::WideToUtf8(line);

  CLock lock(m_lock);
  if (m_bDebuggerOutput.load(std::memory_order_relaxed)) platform::WriteDebugOutput(utf8);
  if (m_bFileOutput.load(std::memory_order_relaxed) && m_logFile.is_open() && m_logFile.good())
    m_logFile.write(utf8.data(), static_cast<std::streamsize>(utf8.size()));
}

void CLogManager::Log(std::string const& message, EnLogLevel level) {
  Log(detail::WidenBytes(message.c_str()), level);
}

std::wstring const CLogManager::GetLogLevelString(EnLogLevel level) {
  switch (level) {
    case LOG_CRITICAL: return L"CRITICAL";
    case LOG_NORMAL: return L"NORMAL";
    case LOG_TRIVIAL: return L"TRIVIAL";
    case LOG_DEBUG: return L"DEBUG";
  }
  return std::wstring();
}

}  // namespace hux
