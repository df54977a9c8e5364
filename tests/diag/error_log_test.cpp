#include <hux/diag/error.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <regex>
#include <string>
#include <thread>

#include <hux/diag/logmanager.h>

#include "diag/diag_test_util.h"

namespace hux {
namespace {

std::string Format(const char* format, const std::function<void(ValistStream&)>& fill) {
  SetErrorMessage(1000, format);
  ReleaseErrorParamStream();
  fill(GetErrorParamStream());
  std::string text = GetErrorMessage(1000);
  ReleaseErrorParamStream();
  return text;
}

template <class... Args>
std::string Reference(const char* format, Args... args) {
  char buf[512];
  std::snprintf(buf, sizeof buf, format, args...);
  return buf;
}

TEST(ErrorCode, FreshThreadHasCodeZeroAndDefaultMessages) {
  std::thread([] {
    EXPECT_EQ(GetError(), 0);
    EXPECT_STREQ(hux_err(), "err_ok");
  }).join();
  ReleaseErrorParamStream();
  GetErrorParamStream().AppendInt(3);
  SetError(err_bad_argument);
  EXPECT_EQ(GetError(), err_bad_argument);
  EXPECT_STREQ(hux_err(), "err_bad_argument: parameter 3");
  ReleaseErrorParamStream();
  SetError(0);
  EXPECT_STREQ(GetErrorMessage(99), "Can't understand error code");
}

TEST(ValistFormat, MatchesTheCLibraryAndSurvivesMismatchedArguments) {
  const struct {
    const char* format;
    std::function<void(ValistStream&)> fill;
    std::string expected;
  } cases[] = {
      {"%d|%5d|%-5d|%05d|%+d", [](ValistStream& s) { s.AppendInt(-42).AppendInt(7).AppendInt(7).AppendInt(-7).AppendInt(9); },
       Reference("%d|%5d|%-5d|%05d|%+d", -42, 7, 7, -7, 9)},
      // Without a length an int is read from the slot's low 32 bits.
      {"%d %u", [](ValistStream& s) { s.AppendInt(0x100000005LL).AppendInt(-1); }, "5 4294967295"},
      {"%lld %I64d %ld %llu %I32d",
       [](ValistStream& s) { s.AppendInt(-9000000000LL).AppendInt(1LL << 62).AppendInt(-5).AppendInt(-1).AppendInt(0x100000007LL); },
       Reference("%lld %lld %ld %llu %d", -9000000000LL, 1LL << 62, -5L, ~0ULL, 7)},
      {"%hd %hhd %hu %x %X %#o %#x",
       [](ValistStream& s) { s.AppendInt(70000).AppendInt(300).AppendInt(-1).AppendInt(255).AppendInt(255).AppendInt(8).AppendInt(0); },
       Reference("%hd %hhd %hu %x %X %#o %#x", 70000, 300, -1, 255, 255, 8, 0)},
      {"%c%c %3c", [](ValistStream& s) { s.AppendInt('o').AppendInt('k').AppendInt('!'); }, "ok   !"},
      {"%f %.3f %e %g %10.4f|%-8.2f|%G",
       [](ValistStream& s) {
         s.AppendDouble(3.14159).AppendDouble(2.0 / 3).AppendDouble(12345.678).AppendDouble(1e-7);
         s.AppendDouble(-1.5).AppendDouble(0.125).AppendDouble(1e300);
       },
       Reference("%f %.3f %e %g %10.4f|%-8.2f|%G", 3.14159, 2.0 / 3, 12345.678, 1e-7, -1.5, 0.125, 1e300)},
      {"[%s] [%8s] [%-8s] [%.2s]", [](ValistStream& s) { s.AppendString("abc").AppendString("abc").AppendString("abc").AppendString("abc"); },
       "[abc] [     abc] [abc     ] [ab]"},
      {"%*d|%-*d|%.*f|%*.*s|",
       [](ValistStream& s) {
         s.AppendInt(5).AppendInt(42).AppendInt(4).AppendInt(1).AppendInt(2).AppendDouble(3.14159);
         s.AppendInt(-6).AppendInt(2).AppendString("xyz");
       },
       Reference("%*d|%-*d|%.*f|%*.*s|", 5, 42, 4, 1, 2, 3.14159, -6, 2, "xyz")},
      {"100%% of %s", [](ValistStream& s) { s.AppendString("it"); }, "100% of it"},
      {"%p", [](ValistStream& s) { s.AppendInt(0x1234); }, Reference("%p", (void*)0x1234)},
      {"%d %s %f", [](ValistStream&) {}, "0 (null) 0.000000"},
      {"%s", [](ValistStream& s) { s.AppendInt(0x41414141); }, "(null)"},
      {"%s", [](ValistStream& s) { s.AppendString(nullptr); }, "(null)"},
      {"a%nb%d", [](ValistStream& s) { s.AppendInt(0).AppendInt(5); }, "ab5"},
      {"%y %", [](ValistStream&) {}, "%y %"},
      {"%5", [](ValistStream&) {}, "%5"},
  };
  for (const auto& c : cases) EXPECT_EQ(Format(c.format, c.fill), c.expected) << c.format;
}

TEST(ValistFormat, LongMessagesAreCutAt2047Characters) {
  const std::string big(5000, 'x');
  const std::string literal(3000, 'L');
  const struct {
    const char* format;
    std::function<void(ValistStream&)> fill;
    std::string head;
  } cases[] = {
      {"%s", [&](ValistStream& s) { s.AppendString(big.c_str()); }, "xx"},
      {"%3000d", [](ValistStream& s) { s.AppendInt(1); }, "  "},
      {"%999999999d", [](ValistStream& s) { s.AppendInt(1); }, "  "},
      {"%.99999f", [](ValistStream& s) { s.AppendDouble(1.0); }, "1.00"},
      {literal.c_str(), [](ValistStream&) {}, "LL"},
  };
  for (const auto& c : cases) {
    const std::string text = Format(c.format, c.fill);
    EXPECT_EQ(text.size(), 2047u) << c.format;
    EXPECT_EQ(text.substr(0, c.head.size()), c.head) << c.format;
  }
}

TEST(ValistStream, LayoutBeforeAndAfterResolution) {
  ReleaseErrorParamStream();
  ValistStream& s = GetErrorParamStream();
  EXPECT_FALSE(s.IsResolved());
  s.AppendInt(-2).AppendString("ab").AppendDouble(1.5).AppendString("c");
  ASSERT_EQ(s.GetArgumentBlock().size(), 32u);
  EXPECT_EQ(s.GetTextPool(), std::string("ab\0c\0", 5));
  EXPECT_EQ(s.GetStringSlots(), (std::vector<int>{8, 24}));
  auto slot = [&](int i) {
    unsigned long long v;
    std::memcpy(&v, s.GetArgumentBlock().data() + 8 * i, 8);
    return v;
  };
  EXPECT_EQ(std::vector<unsigned long long>({slot(0), slot(1), slot(2), slot(3)}),
            (std::vector<unsigned long long>{0xFFFFFFFFFFFFFFFEull, 0, 0x3FF8000000000000ull, 3}));

  SetErrorMessage(1001, "%d %s %.1f %s");
  EXPECT_STREQ(GetErrorMessage(1001), "-2 ab 1.5 c");
  EXPECT_EQ(slot(3), reinterpret_cast<uintptr_t>(s.GetTextPool().data() + 3));
  EXPECT_STREQ(GetErrorMessage(1001), "-2 ab 1.5 c");  // not resolved twice

  const std::string longText(200, 'z');
  s.AppendString(longText.c_str());
  SetErrorMessage(1002, "%.0s%.0s%.0s%s|%s");
  EXPECT_EQ(std::string(GetErrorMessage(1002)), "c|" + longText);
  ReleaseErrorParamStream();
}

using LogTest = test::CapturedDebugOutput;

TEST_F(LogTest, TimeStampsNarrowAndNullTexts) {
  CLogManager log;
  log.Log(std::string("caf\xE9"), CLogManager::LOG_NORMAL);  // widened byte for byte
  log.Log(std::string("cut\0here", 8), CLogManager::LOG_NORMAL);
  log.Log(static_cast<const wchar_t*>(nullptr), CLogManager::LOG_NORMAL);
  log.Log(static_cast<const char*>(nullptr), CLogManager::LOG_NORMAL);
  EXPECT_EQ(m_output, "[NORMAL]: caf\xC3\xA9\n[NORMAL]: cut\n[NORMAL]: \n[NORMAL]: \n");
  m_output.clear();
  log.SetTimeStamp(true);
  log.Log(std::wstring(L"x"), CLogManager::LOG_CRITICAL);
  EXPECT_TRUE(std::regex_match(m_output, std::regex(R"(\[\d\d:\d\d:\d\d\] - \[CRITICAL\]: x\n)"))) << m_output;
}

TEST_F(LogTest, FileGetsBannerAndLinesAsUtf8) {
  test::ScratchDir dir;
  {
    CLogManager log;
    log.SetDebuggerOutput(false);
    ASSERT_TRUE(log.SetOutputFilePath(L"log"));
    log.Log(std::wstring(L"plain"), CLogManager::LOG_NORMAL);
    log.Log(std::wstring(L"\u4e2d\u00e9\U0001F600") + wchar_t(0xD83D) + wchar_t(0xDE00) + wchar_t(0xDC00),
            CLogManager::LOG_NORMAL);
    log.Log(std::wstring(L"after"), CLogManager::LOG_CRITICAL);
  }
  EXPECT_EQ(m_output, "");  // debugger output was off
  const std::string text = test::ReadFile("log");
  const std::regex layout(
      "\n-{37}\\d{4}-[A-Z][a-z]{2}-\\d\\d \\d\\d:\\d\\d:\\d\\d-{37}\n"
      "\\[NORMAL\\]: plain\n"
      "\\[NORMAL\\]: \xE4\xB8\xAD\xC3\xA9\xF0\x9F\x98\x80\xF0\x9F\x98\x80\xEF\xBF\xBD\n"
      "\\[CRITICAL\\]: after\n");
  EXPECT_TRUE(std::regex_match(text, layout)) << text;
}

}  // namespace
}  // namespace hux
