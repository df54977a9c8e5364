// Assertions for client code: the failed expression, chosen values and a
// report by level (debugger output, message box, crash dump, termination).
//
// HUX_ASSERT(condition) evaluates the condition once; when it fails, an Assert
// records the expression with its file and line, then the values chained after
// the macro, and the chain ends with a report operation:
//
//   HUX_ASSERT(x > 0)(x)(name).error("bad x");
//
// An Assert belongs to the thread that made it and lives for one failed
// assertion. Its report text is narrow text as the compiler gives it (UTF-8
// for source text under GCC) and goes to the debugger output unchanged.
#pragma once

#include <exception>
#include <sstream>
#include <string>
#include <type_traits>

#include <hux/export.h>

namespace hux {

class HUX_API Assert {
 public:
  enum ErrorLevel : int {
    EL_ERROR = 0,  // crash dump, then ExceptionWithMinidump; as EL_DEBUG under a debugger
    EL_DEBUG = 1,  // message box, then a break when a debugger is attached
    EL_ABORT = 2,  // ends the process
    // Any other value: the debugger output only.
  };

  Assert();
  // An Assert that never reached a report operation sends what it recorded
  // to the debugger output, so a failed assertion is never lost silently.
  ~Assert();
  // The two self-references: a copy would point at the original.
  Assert(const Assert&) = delete;
  Assert& operator=(const Assert&) = delete;

  // Appends `name`, "=", the value and "\n". Integers in decimal, doubles in
  // the stream's default format (six significant digits), text as it is (a
  // null pointer as "(null)").
  Assert& print_current_val(int value, char const* name);
  Assert& print_current_val(double value, char const* name);
  Assert& print_current_val(char const* value, char const* name);
  // Any other value the stream writes (long, size_t, std::string, ...);
  // integers and characters are written as numbers, as through the int form.
  template <class T>
    requires(!std::is_convertible_v<const T&, char const*>)
  Assert& print_current_val(const T& value, char const* name) {
    m_ssReport << (name ? name : "") << '=';
    if constexpr (std::is_integral_v<T>)
      m_ssReport << +value;
    else
      m_ssReport << value;
    m_ssReport << '\n';
    return *this;
  }

  // Appends "Failed:", the expression, "\n", "File:\n", the file, "(", the
  // line, ")" and "\n".
  Assert& print_context(char const* expression, char const* file, int line);

  // The report operations. Each appends `message` (when not null) directly
  // after the recorded text and sends the whole text to the debugger output.
  // warn: nothing else.
  void warn(char const* message);
  // fatal: then ends the process (abort).
  [[noreturn]] void fatal(char const* message);
  // level(EL_ERROR, message).
  void error(char const* message);
  // level(EL_DEBUG, message).
  void debug(char const* message);
  // By level, after the debugger output: EL_DEBUG shows a message box
  // captioned "SMART_ASSERT triggered!" and breaks into an attached debugger;
  // EL_ABORT ends the process; EL_ERROR without a debugger writes a crash dump
  // of the process beside its executable (extension ".dmp") and throws
  // ExceptionWithMinidump with the dump's path and the report text, also when
  // the dump could not be written; any other level returns.
  void level(ErrorLevel level, char const* message);

  // Used by HUX_ASSERT to chain values: each names this object.
  Assert& HUX_ASSERT_A{*this};
  Assert& HUX_ASSERT_B{*this};

 private:
  std::ostringstream m_ssReport;
  bool m_bReported = false;
};

// Thrown by a failed assertion at level EL_ERROR, by value.
class HUX_API ExceptionWithMinidump : public std::exception {
 public:
  // what() gives "minidump file path:\n", the path, "\n" and the text; null
  // arguments count as empty.
  ExceptionWithMinidump(char const* dumpPath, char const* text);
  ExceptionWithMinidump(const ExceptionWithMinidump& other);
  ExceptionWithMinidump& operator=(const ExceptionWithMinidump& other);
  ~ExceptionWithMinidump() override;
  char const* what() const noexcept override;

 private:
  std::string m_strDumpPath;
  std::string m_strMessage;
};

}  // namespace hux

// HUX_ASSERT(condition)(value)...(value).report(message): see the top of this
// file. The condition is evaluated once; the values only when it fails. Safe
// in an unbraced if/else. Condition and values may hold unbracketed commas
// (template arguments).
#define HUX_ASSERT(...)                 \
  if (static_cast<bool>(__VA_ARGS__)) { \
  } else                                \
    ::hux::Assert().print_context(#__VA_ARGS__, __FILE__, __LINE__).HUX_ASSERT_A

// Each value step records the value under its own text and names the other
// step's member, so the next "(value)" expands the other macro; this is what
// lets one macro take any number of values.
#define HUX_ASSERT_A(...) HUX_ASSERT_A.print_current_val((__VA_ARGS__), #__VA_ARGS__).HUX_ASSERT_B
#define HUX_ASSERT_B(...) HUX_ASSERT_B.print_current_val((__VA_ARGS__), #__VA_ARGS__).HUX_ASSERT_A
