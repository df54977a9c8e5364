// Assertion reports and the exception of a failed assertion at level EL_ERROR.
#include <hux/diag/assert.h>

#include <cstdlib>
#include <string>

#include <hux/platform/coredump.h>
#include <hux/platform/debug.h>

#include "util/unicode.h"

namespace hux {

namespace {

constexpr wchar_t kCaption[] = L"SMART_ASSERT triggered!";

// The message box takes wide text. The report is UTF-8 as the compiler wrote
// the expression and file; a byte that is not part of a valid sequence (text
// from elsewhere) shows as U+FFFD instead of losing the whole report.
std::wstring ReportToWide(const std::string& text) {
  std::wstring wide;
  if (detail::Utf8ToWide(text.data(), text.size(), wide)) return wide;
  wide.clear();
  size_t i = 0;
  while (i < text.size()) {
    const unsigned char lead = static_cast<unsigned char>(text[i]);
    const size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
    std::wstring one;
    if (i + length <= text.size() && detail::Utf8ToWide(text.data() + i, length, one) && one.size() == 1) {
      wide += one;
      i += length;
    } else {
      wide += L'\uFFFD';
      ++i;
    }
  }
  return wide;
}

}  // namespace

Assert::Assert() = default;

Assert::~Assert() {
  if (m_bReported) return;
  try {
    const std::string text = m_ssReport.str();
    if (!text.empty()) platform::WriteDebugOutput(text);
  } catch (...) {
    // A destructor must not throw; a failing output handler loses this text.
  }
}

Assert& Assert::print_current_val(int value, char const* name) {
  m_ssReport << (name ? name : "") << '=' << value << '\n';
  return *this;
}

Assert& Assert::print_current_val(double value, char const* name) {
  m_ssReport << (name ? name : "") << '=' << value << '\n';
  return *this;
}

Assert& Assert::print_current_val(char const* value, char const* name) {
  m_ssReport << (name ? name : "") << '=' << (value ? value : "(null)") << '\n';
  return *this;
}

Assert& Assert::print_context(char const* expression, char const* file, int line) {
  m_ssReport << "Failed:" << (expression ? expression : "") << '\n'
             << "File:\n"
             << (file ? file : "") << '(' << line << ')' << '\n';
  return *this;
}

void Assert::warn(char const* message) {
  m_bReported = true;
  if (message) m_ssReport << message;
  platform::WriteDebugOutput(m_ssReport.str());
  m_ssReport.clear();
}

void Assert::fatal(char const* message) {
  warn(message);
  std::abort();
}

void Assert::error(char const* message) { level(EL_ERROR, message); }

void Assert::debug(char const* message) { level(EL_DEBUG, message); }

void Assert::level(ErrorLevel level, char const* message) {
  m_bReported = true;
  if (message) m_ssReport << message;
  if (level == EL_ERROR && platform::IsDebuggerAttached()) level = EL_DEBUG;
  const std::string text = m_ssReport.str();
  platform::WriteDebugOutput(text);
  switch (level) {
    case EL_DEBUG:
      platform::ShowMessageBox(kCaption, ReportToWide(text), platform::MB_STYLE_OK | platform::MB_STYLE_ICON_ERROR);
      if (platform::IsDebuggerAttached()) platform::DebugBreakIfAttached();
      break;
    case EL_ABORT:
      std::abort();
    case EL_ERROR: {
      // The writer takes the registers in its own frame, so the dump shows
      // this call and, above it, the code that failed the assertion.
      const std::string path = platform::CoreDumpPath();
      platform::WriteCoreDump(path);
      m_ssReport.clear();
      throw ExceptionWithMinidump(path.c_str(), text.c_str());
    }
    default:
      break;
  }
  m_ssReport.clear();
}

ExceptionWithMinidump::ExceptionWithMinidump(char const* dumpPath, char const* text)
    : m_strDumpPath(dumpPath ? dumpPath : "") {
  m_strMessage = "minidump file path:\n" + m_strDumpPath + "\n" + (text ? text : "");
}

ExceptionWithMinidump::ExceptionWithMinidump(const ExceptionWithMinidump& other) = default;

ExceptionWithMinidump& ExceptionWithMinidump::operator=(const ExceptionWithMinidump& other) = default;

ExceptionWithMinidump::~ExceptionWithMinidump() = default;

char const* ExceptionWithMinidump::what() const noexcept { return m_strMessage.c_str(); }

}  // namespace hux
