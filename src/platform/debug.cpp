// Debugger output, debugger presence and breaks, and message boxes.
#include <hux/platform/debug.h>

#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <utility>

#include <hux/platform/procstatus.h>

#include "platform/procfs.h"
#include "util/unicode.h"

namespace hux::platform {

namespace {

// Hooks are installed at start-up and read without a lock, as the header says.
DebugOutputHandler& OutputHandler() {
  static DebugOutputHandler handler;
  return handler;
}
DebuggerPresenceHook& PresenceHook() {
  static DebuggerPresenceHook hook;
  return hook;
}
DebugBreakHook& BreakHook() {
  static DebugBreakHook hook;
  return hook;
}
MessageBoxHandler& BoxHandler() {
  static MessageBoxHandler handler;
  return handler;
}

// One write(2) per text, so lines from several threads do not interleave
// within a text of ordinary length.
void WriteAllToStderr(const std::string& text) {
  const char* p = text.data();
  size_t left = text.size();
  while (left > 0) {
    const ssize_t n = ::write(STDERR_FILENO, p, left);
    if (n <= 0) return;
    p += n;
    left -= static_cast<size_t>(n);
  }
}

// The TracerPid field of /proc/self/status: nonzero means a tracer (a
// debugger) is attached.
bool ProcessIsTraced() { return ProcStatusField(ReadProcFile("/proc/self/status"), "TracerPid") > 0; }

// Whether the default debugger output writes: the environment asks for it,
// or a debugger listens. The tracer state costs a read of /proc, so it is
// taken again at most once a second; a debugger that attaches sees the output
// from then on.
bool SomeoneListens() {
  const char* asked = std::getenv("HUX_DEBUG_OUTPUT");
  if (asked && std::strcmp(asked, "stderr") == 0) return true;
  if (const DebuggerPresenceHook& hook = PresenceHook()) return hook();
  static std::atomic<long long> nextCheck{LLONG_MIN};
  static std::atomic<bool> traced{false};
  const long long now = std::chrono::steady_clock::now().time_since_epoch() / std::chrono::milliseconds(1);
  if (now >= nextCheck.load(std::memory_order_relaxed)) {
    traced.store(ProcessIsTraced(), std::memory_order_relaxed);
    nextCheck.store(now + 1000, std::memory_order_relaxed);
  }
  return traced.load(std::memory_order_relaxed);
}

}  // namespace

void WriteDebugOutput(const std::string& utf8) {
  const DebugOutputHandler& handler = OutputHandler();
  if (handler)
    handler(utf8);
  else if (SomeoneListens())
    WriteAllToStderr(utf8);
}

void WriteToStandardError(const std::string& utf8) { WriteAllToStderr(utf8); }

void WriteDebugOutput(const std::wstring& text) { WriteDebugOutput(detail::WideToUtf8(text)); }

DebugOutputHandler SetDebugOutputHandler(DebugOutputHandler handler) {
  return std::exchange(OutputHandler(), std::move(handler));
}

bool IsDebuggerAttached() {
  const DebuggerPresenceHook& hook = PresenceHook();
  return hook ? hook() : ProcessIsTraced();
}

DebuggerPresenceHook SetDebuggerPresenceHook(DebuggerPresenceHook hook) {
  return std::exchange(PresenceHook(), std::move(hook));
}

void DebugBreakIfAttached() {
  if (const DebugBreakHook& hook = BreakHook()) {
    hook();
    return;
  }
  // Without a tracer SIGTRAP would end the process: raise it only under one.
  if (ProcessIsTraced()) ::raise(SIGTRAP);
}

DebugBreakHook SetDebugBreakHook(DebugBreakHook hook) { return std::exchange(BreakHook(), std::move(hook)); }

int ShowMessageBox(const std::wstring& caption, const std::wstring& text, unsigned int style) {
  if (const MessageBoxHandler& handler = BoxHandler()) return handler(caption, text, style);
  // No desktop here: show the box as text on the standard error and answer OK.
  WriteAllToStderr("[" + detail::WideToUtf8(caption) + "] " + detail::WideToUtf8(text) + "\n");
  return MB_RESULT_OK;
}

MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler) {
  return std::exchange(BoxHandler(), std::move(handler));
}

}  // namespace hux::platform
