#include <hux/diag/logmanager.h>

#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "diag/diag_test_util.h"

namespace hux {
namespace {

using Level = CLogManager::EnLogLevel;
using LogTest = test::CapturedDebugOutput;

TEST_F(LogTest, ThresholdTable) {
  const struct {
    int threshold;  // -1000: the default
    int level;
    const char* line;  // null: nothing written
  } cases[] = {
      {-1000, 1, "[NORMAL]: m\n"}, {-1000, 2, nullptr}, {3, 0, "[CRITICAL]: m\n"}, {3, 2, "[TRIVIAL]: m\n"},
      {3, 3, "[DEBUG]: m\n"},      {3, 4, nullptr},     {0, -1, "[]: m\n"},        {-5, 0, nullptr},
      {7, 7, "[]: m\n"},           {6, 7, nullptr},
  };
  for (const auto& c : cases) {
    CLogManager log;
    if (c.threshold != -1000) log.SetLogLevel(static_cast<Level>(c.threshold));
    const auto level = static_cast<Level>(c.level);
    EXPECT_EQ(log.IsLogged(level), c.line != nullptr);
    m_output.clear();
    log.Log(std::wstring(L"m"), level);
    log.Log(L"m", level);
    log.Log("m", level);
    EXPECT_EQ(m_output, c.line ? std::string(c.line) + c.line + c.line : "")
        << "threshold " << c.threshold << ", level " << c.level;
  }
}

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
  test::ScratchPath path("hux-log");
  {
    CLogManager log;
    log.SetDebuggerOutput(false);
    ASSERT_TRUE(log.SetOutputFilePath(path.Wide()));
    log.Log(std::wstring(L"plain"), CLogManager::LOG_NORMAL);
    log.Log(std::wstring(L"\u4e2d\u00e9\U0001F600") + wchar_t(0xD83D) + wchar_t(0xDE00) + wchar_t(0xDC00),
            CLogManager::LOG_NORMAL);
    log.Log(std::wstring(L"after"), CLogManager::LOG_CRITICAL);
  }
  EXPECT_EQ(m_output, "");  // debugger output was off
  const std::string text = test::ReadFile(path.Path());
  const std::regex layout(
      "\n-{37}\\d{4}-[A-Z][a-z]{2}-\\d\\d \\d\\d:\\d\\d:\\d\\d-{37}\n"
      "\\[NORMAL\\]: plain\n"
      "\\[NORMAL\\]: \xE4\xB8\xAD\xC3\xA9\xF0\x9F\x98\x80\xF0\x9F\x98\x80\xEF\xBF\xBD\n"
      "\\[CRITICAL\\]: after\n");
  EXPECT_TRUE(std::regex_match(text, layout)) << text;
}

}  // namespace
}  // namespace hux
