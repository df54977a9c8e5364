// The debugger services: hooks replace the defaults and can be restored.
#include <hux/platform/debug.h>

#include <gtest/gtest.h>

#include <sys/prctl.h>

#include <cstdlib>
#include <string>

namespace hux::platform {
namespace {

TEST(DebugOutput, HandlerReceivesUtf8AndDefaultComesBack) {
  std::string seen;
  auto previous = SetDebugOutputHandler([&](const std::string& text) { seen += text; });
  WriteDebugOutput(std::string("plain\n"));
  WriteDebugOutput(std::wstring(L"\u4e2d\U0001F600"));
  SetDebugOutputHandler(previous);
  EXPECT_EQ(seen, "plain\n\xE4\xB8\xAD\xF0\x9F\x98\x80");
  WriteDebugOutput(std::string());  // the default must not crash on empty text
}

TEST(DebuggerPresence, NoTracerUnderTestAndHookOverrides) {
  // ctest runs the tests without a debugger.
  EXPECT_FALSE(IsDebuggerAttached());
  auto previous = SetDebuggerPresenceHook([] { return true; });
  EXPECT_TRUE(IsDebuggerAttached());
  SetDebuggerPresenceHook(previous);
  EXPECT_FALSE(IsDebuggerAttached());
  // Without a debugger a break is a no-op: the process goes on.
  DebugBreakIfAttached();
  // Also for a process whose name looks like a tracer's line.
  EXPECT_EXIT(
      {
        ::prctl(PR_SET_NAME, "TracerPid:\t1");
        DebugBreakIfAttached();
        std::_Exit(IsDebuggerAttached() ? 1 : 0);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST(MessageBox, HandlerGetsCaptionTextStyleAndAnswers) {
  std::wstring caption, text;
  unsigned int style = 0;
  auto previous = SetMessageBoxHandler([&](const std::wstring& c, const std::wstring& t, unsigned int s) {
    caption = c, text = t, style = s;
    return static_cast<int>(MB_RESULT_CANCEL);
  });
  EXPECT_EQ(ShowMessageBox(L"TlsAlloc", L"TlsAlloc TLS_OUT_OF_INDEXES", MB_STYLE_ICON_ERROR), MB_RESULT_CANCEL);
  SetMessageBoxHandler(previous);
  EXPECT_EQ(caption, L"TlsAlloc");
  EXPECT_EQ(text, L"TlsAlloc TLS_OUT_OF_INDEXES");
  EXPECT_EQ(style, MB_STYLE_ICON_ERROR);
  EXPECT_EQ(ShowMessageBox(L"caption", L"default box", 0), MB_RESULT_OK);
}

}  // namespace
}  // namespace hux::platform
