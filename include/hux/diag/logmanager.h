// The library's log: level-tagged lines to the debugger output and a log file.
//
// One process-wide CLogManager is reached through
// CSingleton<CLogManager>::GetInstance(); further instances may be made (the
// constructor is public) and are independent. A line is written when its
// level is at most the threshold (a smaller level is more important). Lines
// go to the debugger output (hux::platform::WriteDebugOutput) and, once
// SetOutputFilePath has succeeded, are appended to the log file as UTF-8 with
// line feeds; they are buffered and reach the disk when the buffer fills or
// the manager is destroyed. The singleton is never destroyed, since threads
// may log while the process exits: at exit it writes its buffered lines out,
// and from then on writes each line as soon as it is logged.
//
// Any thread may log: a line is composed first and then written whole under
// the manager's mutex, so lines never interleave. Settings may change while
// other threads log.
#pragma once

#include <atomic>
#include <fstream>
#include <string>

#include <hux/export.h>
#include <hux/util/mutex.h>
#include <hux/util/singleton.h>

namespace hux {

class HUX_API CLogManager : public CSingleton<CLogManager> {
 public:
  enum EnLogLevel : int { LOG_CRITICAL = 0, LOG_NORMAL = 1, LOG_TRIVIAL = 2, LOG_DEBUG = 3 };

  // Debugger output on, time stamps off, threshold LOG_NORMAL, no file.
  CLogManager();
  // Flushes and closes the log file.
  virtual ~CLogManager();
  CLogManager(const CLogManager&) = delete;
  CLogManager& operator=(const CLogManager&) = delete;

  // Opens `path` (created if missing) for appending and writes a banner line
  // with the local date and time. True when the file is open and good. While
  // a file is open, another call returns false and the open file stays in
  // use. After a failed open the call may be repeated with another path.
  // The path converts as GFileIOStream's does; one that names no file fails.
  bool SetOutputFilePath(std::wstring const& path);

  void SetDebuggerOutput(bool on);
  bool IsDebuggerOutput() const { return m_bDebuggerOutput.load(std::memory_order_relaxed); }
  // With time stamps on, each line starts with "[hh:mm:ss] - " (local time).
  void SetTimeStamp(bool on);
  bool IsTimeStamp() const { return m_bTimeStamp.load(std::memory_order_relaxed); }
  void SetLogLevel(EnLogLevel level);
  EnLogLevel GetLogLevel() { return m_enLogLevel.load(std::memory_order_relaxed); }

  // Writes "[LEVEL]: message" and a line feed if `level` is at most the
  // threshold (any level, negative ones included; an unknown level shows as
  // "[]"). Throws std::runtime_error only if the local time cannot be read
  // for a time stamp.
  void Log(std::wstring const& message, EnLogLevel level);
  // Widens the bytes of `message` up to its first zero byte one to one
  // (byte b becomes code point b) and logs the result.
  void Log(std::string const& message, EnLogLevel level);
  // The same for zero-terminated text (a null pointer logs an empty message).
  // The level is checked inline before any string is built, so a call that is
  // filtered out costs one load and one comparison.
  void Log(wchar_t const* message, EnLogLevel level) {
    if (IsLogged(level)) Log(std::wstring(message ? message : L""), level);
  }
  void Log(char const* message, EnLogLevel level) {
    if (IsLogged(level)) Log(std::string(message ? message : ""), level);
  }
  // True when a line of `level` would be written now: callers that compose an
  // expensive message can ask first.
  bool IsLogged(EnLogLevel level) const {
    return static_cast<int>(level) <= static_cast<int>(m_enLogLevel.load(std::memory_order_relaxed));
  }

  // "CRITICAL", "NORMAL", "TRIVIAL", "DEBUG", or "" for any other value.
  std::wstring const GetLogLevelString(EnLogLevel level);

 private:
  friend class CSingleton<CLogManager>;
  // At process exit, under the lock: writes the buffered lines to the file
  // and makes every later line go out at once.
  void FlushAtExit();

  std::ofstream m_logFile;
  std::atomic<bool> m_bDebuggerOutput;
  std::atomic<bool> m_bFileOutput;
  std::atomic<bool> m_bTimeStamp;
  std::atomic<EnLogLevel> m_enLogLevel;
  CMutex m_lock;
};

// The library's one log manager singleton, shared with client modules; made
// on first use and never destroyed (see above).
template <>
CLogManager& CSingleton<CLogManager>::GetInstance();
extern template class CSingleton<CLogManager>;

}  // namespace hux
