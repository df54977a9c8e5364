#include <hux/platform/debug.h>

#include <gtest/gtest.h>

#include <sys/prctl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

namespace hux::platform {
namespace {

std::string OnStderr(const std::string& text) {
  std::FILE* capture = std::tmpfile();
  const int saved = ::dup(STDERR_FILENO);
  ::dup2(::fileno(capture), STDERR_FILENO);
  WriteDebugOutput(text);
  ::dup2(saved, STDERR_FILENO);
  ::close(saved);
  std::string written(64, '\0');
  std::rewind(capture);
  written.resize(std::fread(written.data(), 1, written.size(), capture));
  std::fclose(capture);
  return written;
}

TEST(DebugOutput, HandlerReceivesUtf8AndTheDefaultWritesOnlyWhenAsked) {
  std::string seen;
  auto previous = SetDebugOutputHandler([&](const std::string& text) { seen += text; });
  WriteDebugOutput(std::string("plain\n"));
  WriteDebugOutput(std::wstring(L"\u4e2d\U0001F600"));
  SetDebugOutputHandler(previous);
  EXPECT_EQ(seen, "plain\n\xE4\xB8\xAD\xF0\x9F\x98\x80");
  WriteDebugOutput(std::string());  // the default must not crash on empty text

  const struct {
    const char* env;               // HUX_DEBUG_OUTPUT, or null: unset
    std::optional<bool> debugger;  // the presence hook's answer; none: the real (no) tracer
    bool written;
  } cases[] = {
      {nullptr, std::nullopt, false}, {nullptr, true, true}, {"stderr", false, true}, {"1", false, false},
  };
  for (const auto& c : cases) {
    c.env ? ::setenv("HUX_DEBUG_OUTPUT", c.env, 1) : ::unsetenv("HUX_DEBUG_OUTPUT");
    DebuggerPresenceHook hook;
    if (c.debugger) hook = [&c] { return *c.debugger; };
    auto before = SetDebuggerPresenceHook(hook);
    EXPECT_EQ(OnStderr("line\n"), c.written ? "line\n" : "") << &c - cases;
    SetDebuggerPresenceHook(before);
  }
  ::unsetenv("HUX_DEBUG_OUTPUT");
  auto before = SetDebugOutputHandler(WriteToStandardError);
  EXPECT_EQ(OnStderr("always\n"), "always\n");
  SetDebugOutputHandler(before);
  EXPECT_FALSE(IsDebuggerAttached());  // ctest runs the tests without a debugger
}

TEST(DebuggerPresence, NoTracerForAProcessNamedLikeATracerLine) {
  EXPECT_EXIT(
      {
        ::prctl(PR_SET_NAME, "TracerPid:\t1");
        DebugBreakIfAttached();
        std::_Exit(IsDebuggerAttached() ? 1 : 0);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST(MessageBox, DefaultAnswersOk) { EXPECT_EQ(ShowMessageBox(L"caption", L"default box", 0), MB_RESULT_OK); }

}  // namespace
}  // namespace hux::platform
