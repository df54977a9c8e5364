// Per-thread error codes with printf-style messages, and the error exception.
//
// Each thread has its own error code (SetError, GetError), its own 2048-byte
// message buffer and its own ValistStream, the argument list for one message.
// A process-wide table maps codes to message formats; five defaults are
// present from load (err_ok to err_dont_support). To report an error with
// arguments, a caller fills its thread's stream, sets the code, and whoever
// reads the message formats the code's format with those arguments:
//
//   hux::GetErrorParamStream().AppendInt(3);
//   hux::SetError(hux::err_bad_argument);
//   ... hux_err() gives "err_bad_argument: parameter 3"
//   hux::ReleaseErrorParamStream();  // the next message starts afresh
//
// The report mode can make any nonzero code stop in an attached debugger.
// CErrorException carries a description, a file and a line and writes itself
// to the log at level CRITICAL when constructed.
#pragma once

#include <exception>
#include <string>
#include <vector>

#include <hux/export.h>

namespace hux {

// The codes with default formats.
enum EErrorCode : int {
  err_ok = 0,            // "err_ok"
  err_null_pointer = 1,  // "err_null_pointer:%s"
  err_bad_argument = 2,  // "err_bad_argument: parameter %d"
  err_failed = 3,        // "err_failed: %s"
  err_dont_support = 4,  // "err_dont_support: %s"
};

// What setting a nonzero error code does. Any other value acts as
// REPORT_SILENT.
enum ErrorReportMode : int {
  REPORT_SILENT = 0,      // the code is only recorded
  REPORT_DEBUGBREAK = 1,  // an attached debugger stops where the code is set
};

// Sets the process-wide report mode and returns the previous one. At load the
// mode is REPORT_DEBUGBREAK when a debugger is attached, else REPORT_SILENT.
HUX_API ErrorReportMode SetErrorReportMode(ErrorReportMode mode);

// Holder of the setter of the thread's error code; client code calls
// hux::SetError.
class HUX_API ErrorCode {
 private:
  // Stores `code` for the calling thread. With report mode REPORT_DEBUGBREAK
  // a nonzero code stops in the debugger, if one is attached (a process
  // without a debugger just goes on). 0 never stops.
  static void SetError(int code);
  friend void SetError(int code);
};

// Sets the calling thread's error code (see ErrorCode::SetError).
inline void SetError(int code) { ErrorCode::SetError(code); }
// The calling thread's error code; 0 on a fresh thread.
HUX_API int GetError();

// Sets the format of `code`, copying `format` (null counts as ""); replaces
// an existing format, the defaults included. The table is locked, so formats
// may be set while other threads format messages.
HUX_API void SetErrorMessage(int code, char const* format);
// The message of `code` formatted with the arguments in the calling thread's
// ValistStream (created empty if the thread has none), in the thread's
// buffer, valid until the thread formats again. Cut to 2047 characters. For a
// code without a format: "Can't understand error code" (a constant text; the
// buffer and the stream are not touched).
HUX_API char const* GetErrorMessage(int code);
// GetErrorMessage(GetError()).
HUX_API char const* GetErrorMessage();

// The arguments of one message, laid out as a variable argument list: one
// 8-byte slot per argument in order (integers widened to 64 bits, doubles,
// string addresses). Strings are copied into the stream's text pool; until
// the stream is resolved, a string's slot holds the text's pool offset in its
// low 32 bits and the slot's own offset is listed among the string slots.
// Resolving (done by GetErrorMessage) turns those offsets into addresses.
//
// Formatting takes one slot per conversion of the format (and one per `*`
// width or precision), so the arguments must follow the format's order. A
// format that asks for more arguments than the stream holds gets zeros and
// "(null)" for the missing ones, and a %s on a slot that holds no string of
// this stream prints "(null)"; %n writes nothing.
class HUX_API ValistStream {
 public:
  ValistStream();
  // A copy holds its own pool; a resolved copy's string slots point into it.
  ValistStream(ValistStream const& other);
  ValistStream& operator=(ValistStream const& other);

  // Appends an integer argument (for %d, %u, %x, %c, %lld, %I64d, %p, ...).
  ValistStream& AppendInt(long long value);
  // Appends a floating-point argument (for %f, %e, %g, ...).
  ValistStream& AppendDouble(double value);
  // Appends a string argument (for %s); the text is copied. A null `text`
  // prints as "(null)".
  ValistStream& AppendString(char const* text);

  // Turns the string slots' pool offsets into addresses; does nothing if the
  // stream is resolved already. Strings appended afterwards are stored
  // resolved.
  void Resolve();

  std::string const& GetArgumentBlock() const { return m_argBlock; }
  std::string const& GetTextPool() const { return m_textPool; }
  std::vector<int> const& GetStringSlots() const { return m_stringSlots; }
  bool IsResolved() const { return m_bResolved; }
  // Number of arguments (8-byte slots) appended.
  size_t GetArgumentCount() const { return m_argBlock.size() / 8; }

 private:
  void AppendSlot(unsigned long long bits);
  // Moves resolved string addresses from a pool at `oldBase` to this pool.
  void RebaseStrings(char const* oldBase);

  std::string m_argBlock;
  std::string m_textPool;
  std::vector<int> m_stringSlots;
  bool m_bResolved;
};

// The calling thread's stream, created empty on the first call (or the first
// after a release). It lives until ReleaseErrorParamStream or thread exit.
HUX_API ValistStream& GetErrorParamStream();
// Destroys the calling thread's stream, if any.
HUX_API void ReleaseErrorParamStream();

// An exception that logs itself: constructing one writes
// "<description> - [FILE]: <file> [LINE]: <line>" to the log manager at level
// CRITICAL. Copies do not log. what() is the standard default text; the
// description is GetDescription().
class HUX_API CErrorException : public std::exception {
 public:
  // `file` is widened byte by byte for the log line; null counts as "".
  CErrorException(std::wstring const& description, char const* file, long line);
  CErrorException(CErrorException const& other);
  void operator=(CErrorException const& other);
  virtual ~CErrorException();

  std::wstring const& GetDescription() const { return m_strDescription; }
  std::string const& GetFile() const { return m_strFile; }
  long GetLine() const { return m_nLine; }

 private:
  std::wstring m_strDescription;
  std::string m_strFile;
  long m_nLine;
};

}  // namespace hux

// hux::GetErrorMessage(): the calling thread's current error message.
HUX_API char const* hux_err();
