#include <hux/diag/profiler.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "diag/diag_test_util.h"
#include "fake_clock.h"

namespace hux {
namespace {

class FrameProfiler : public test::FakeClockTest {
 protected:
  void Scope(const wchar_t* name, double begin, double end, const std::function<void()>& inner = [] {}) {
    At(begin);
    m_profiler.BeginProfile(name);
    inner();
    At(end);
    m_profiler.EndProfile(name);
  }
  const CProfileInstance* Top() { return m_profiler.GetRootInstance()->GetChildren().at(0); }

  CProfiler m_profiler;
};

TEST_F(FrameProfiler, CopiedTreesOwnTheirNodes) {
  Scope(L"Frame", 0, 10, [&] {
    Scope(L"A", 0, 1, [&] { Scope(L"Shared", 0, 1); });
    Scope(L"B", 1, 3, [&] { Scope(L"Shared", 1, 3); });
    Scope(L"A", 3, 4, [&] { Scope(L"Shared", 3, 4); });
    Scope(L"Shared", 4, 8);
  });
  CProfileInstance copy(*m_profiler.GetRootInstance());
  const CProfileInstance* frame = copy.GetChildren().at(0);
  EXPECT_NE(frame, Top());
  EXPECT_EQ(frame->GetParent(), &copy);
  EXPECT_EQ(frame->GetChildren().at(1)->GetParent(), frame);
  copy = *copy.GetChildren()[0];
  EXPECT_EQ(copy.GetName(), L"Frame");
  ASSERT_EQ(copy.GetChildren().size(), 3u);
  EXPECT_EQ(copy.GetChildren()[0]->GetParent(), &copy);
  m_profiler.ResetProfile();  // the copy is unaffected
  EXPECT_EQ(copy.GetChildren()[2]->GetName(), L"Shared");
}

TEST_F(FrameProfiler, ReportLayout) {
  Scope(L"Frame", 0, 10, [&] {
    Scope(L"Draw", 1, 4);
    Scope(L"Draw", 5, 6);
  });
  Scope(L"Frame", 100, 120, [&] { Scope(L"Draw", 101, 106); });
  Scope(L"Name longer than forty characters is cut off at forty", 200, 1234767);
  test::ScratchDir dir;
  ASSERT_TRUE(m_profiler.LogProfileResult(L"report"));
  ASSERT_TRUE(m_profiler.LogProfileResult(L"report"));  // appends
  const std::string sp35(35, ' ');
  const std::string table =
      "                  NAME                  |   AVG   |   MAX   |   MIN   |  CsPF   | PARENT% | TOTAL%  |  HIER   \n" +
      std::string(100, '-') + "\n" +
      sp35 + "Frame|    15.00|    20.00|  1000.00|        1|   100.00|   100.00|----*\n" +
      sp35 + " Draw|     4.50|     5.00|  1000.00|        1|    30.00|    30.00|--------*\n" +
      "Name longer than forty characters is cut|1234567.00|1234567.00|  1000.00|        1|   100.00|   100.00|----*\n";
  const std::string report =
      "\n-{31}Profile Result \\(\\d{4}-[A-Z][a-z]{2}-\\d\\d \\d\\d:\\d\\d:\\d\\d\\)-{32}\n" +
      std::regex_replace(table, std::regex(R"([|()*%])"), R"(\$&)") + "-{39}Profile Cost-{39}\n" +
      "Profile Invoked Per Frame: 6\n"  // 6 begin calls, 1 frame of the last top-level node
      "Profile Begin Per Frame\\(ms\\): [0-9.e+-]+\n"
      "Profile Begin Per Call\\(ns\\): [0-9.e+-]+\n"
      "Profile End Per Frame\\(ms\\): [0-9.e+-]+\n"
      "Profile End Per Call\\(ns\\): [0-9.e+-]+\n";
  const std::string text = test::ReadFile("report");
  EXPECT_TRUE(std::regex_match(text, std::regex("(" + report + "){2}"))) << text;
}

TEST_F(FrameProfiler, ReportWithoutFramesAndPathsThatNameAnotherFile) {
  test::ScratchDir dir;
  const std::wstring base = dir.Path().wstring() + L"/r";
  m_profiler.BeginProfile(L"Open");
  ASSERT_TRUE(m_profiler.LogProfileResult(base + L"\xDCFF"));  // a byte that is not UTF-8 is kept
  m_profiler.EndProfile(L"Open");
  const std::string text = test::ReadFile(dir.Path() / "r\xFF");
  EXPECT_NE(text.find("     Open|     0.00|     0.00|  1000.00|        0|   100.00|     0.00|----*\n"), std::string::npos)
      << text;
  EXPECT_NE(text.find("Profile Invoked Per Frame: 0\nProfile Begin Per Frame(ms): 0\n"), std::string::npos);
  for (const std::wstring& refused : {base + std::wstring(L"\0.txt", 5), base + L"\xD800", base + L"\xDBFF",
                                      base + L"\x110000", dir.Path().wstring() + L"/missing/r.txt"})
    EXPECT_FALSE(m_profiler.LogProfileResult(refused));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);
}

TEST_F(FrameProfiler, ExportsAddUpToTheReportedTimes) {
  Scope(L"Frame", 0, 20, [&] {
    Scope(L"Draw", 1, 4);
    Scope(L"Draw", 5, 7);
    Scope(L"Load", 8, 18, [&] { Scope(L"Read", 9, 15); });
  });
  Scope(L"Frame", 100, 130, [&] {
    Scope(L"Draw", 101, 111);
    Scope(L"Load", 111, 125, [&] {
      Scope(L"Read", 112, 113);
      Scope(L"Draw", 113, 114);
    });
  });
  Scope(L"Idle", 200, 205);
  test::ScratchDir dir;
  ASSERT_TRUE(m_profiler.LogProfileResult(L"report"));
  std::ostringstream collapsed;
  ASSERT_TRUE(m_profiler.WriteCollapsedStacks(collapsed));
  std::map<std::string, long long> stacks;  // path -> weight
  std::istringstream lines(collapsed.str());
  for (std::string line; std::getline(lines, line);)
    stacks[line.substr(0, line.rfind(' '))] += std::stoll(line.substr(line.rfind(' ') + 1));
  const std::map<std::string, int> frames = {{"Frame", 2}, {"Idle", 1}};
  const std::regex row(R"( *([^|]+)\|\s*([0-9.]+)\|.*\|(-+)\*)");
  std::istringstream report(test::ReadFile("report"));
  std::vector<std::string> at;  // the path of the row, by level
  int rows = 0;
  for (std::string line; std::getline(report, line);) {
    std::smatch m;
    if (!std::regex_match(line, m, row)) continue;
    at.resize(m[3].length() / 4 - 1);
    at.push_back(at.empty() ? m[1].str() : at.back() + ";" + m[1].str());
    long long below = 0;
    for (const auto& [stack, weight] : stacks)
      if (stack == at.back() || stack.rfind(at.back() + ";", 0) == 0) below += weight;
    EXPECT_DOUBLE_EQ(std::stod(m[2]) * frames.at(at.front()), below) << at.back();
    ++rows;
  }
  EXPECT_EQ(rows, 6);
}

}  // namespace
}  // namespace hux
