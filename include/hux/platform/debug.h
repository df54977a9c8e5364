// Debugger services of the platform layer: debugger output, debugger presence
// and breaks, and message boxes.
//
// Each service has a process-wide hook that a host (or a test) may replace,
// for example a GUI host that shows real message boxes. Installing a hook is
// not synchronised with callers: install hooks at start-up, before other
// threads use the service.
#pragma once

#include <functional>
#include <string>

#include <hux/export.h>

namespace hux::platform {

// ---- debugger output ----
// Receives each text sent to the debugger output, as UTF-8.
using DebugOutputHandler = std::function<void(const std::string& utf8)>;
// Sends text to the debugger output. Like the debugger output it stands for,
// the default handler is silent unless someone listens: it writes the text
// to the standard error unchanged (no line feed is added) only while a
// debugger is attached (IsDebuggerAttached, the tracer state taken again at
// most once a second) or when the environment variable HUX_DEBUG_OUTPUT is
// "stderr". A host that wants the text always installs WriteToStandardError
// (or a handler of its own).
HUX_API void WriteDebugOutput(const std::string& utf8);
HUX_API void WriteDebugOutput(const std::wstring& text);
// Writes text to the standard error unchanged, in one write where it can.
HUX_API void WriteToStandardError(const std::string& utf8);
// Installs a handler and returns the previous one; an empty handler restores
// the default.
HUX_API DebugOutputHandler SetDebugOutputHandler(DebugOutputHandler handler);

// ---- debugger presence and breaks ----
// True when a debugger (any tracer) is attached to the process. A hook set
// with SetDebuggerPresenceHook answers instead of the process's tracer state.
HUX_API bool IsDebuggerAttached();
using DebuggerPresenceHook = std::function<bool()>;
HUX_API DebuggerPresenceHook SetDebuggerPresenceHook(DebuggerPresenceHook hook);
// Stops in the debugger (SIGTRAP) when one is attached; does nothing
// otherwise, so a process without a debugger is never ended by it. A hook
// set with SetDebugBreakHook runs instead (for tests).
HUX_API void DebugBreakIfAttached();
using DebugBreakHook = std::function<void()>;
HUX_API DebugBreakHook SetDebugBreakHook(DebugBreakHook hook);

// ---- message boxes ----
// Style bits, as the Windows edition's callers pass them.
enum MessageBoxStyle : unsigned int {
  MB_STYLE_OK = 0x0,
  MB_STYLE_ICON_ERROR = 0x10,
  MB_STYLE_ICON_WARNING = 0x30,
  MB_STYLE_ICON_INFORMATION = 0x40,
};
// The button pressed; the default handler answers MB_RESULT_OK at once.
enum MessageBoxResult : int { MB_RESULT_OK = 1, MB_RESULT_CANCEL = 2 };
using MessageBoxHandler =
    std::function<int(const std::wstring& caption, const std::wstring& text, unsigned int style)>;
// Shows a modal message box (no owner window) through the handler. The
// default handler writes caption and text to the standard error.
HUX_API int ShowMessageBox(const std::wstring& caption, const std::wstring& text, unsigned int style);
HUX_API MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler);

}  // namespace hux::platform
