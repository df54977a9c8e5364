#include <hux/diag/assert.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <type_traits>
#include <vector>

#include <hux/platform/debug.h>

namespace hux {
namespace {

using Events = std::vector<std::string>;

// Records the platform calls in order; simulates a debugger when told to.
class AssertReport : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::SetDebugOutputHandler([this](const std::string& text) {
      events_.push_back("output");
      outputs_.push_back(text);
    });
    platform::SetMessageBoxHandler([this](const std::wstring& caption, const std::wstring& text, unsigned int style) {
      events_.push_back("box");
      boxCaption_ = caption, boxText_ = text, boxStyle_ = style;
      return static_cast<int>(platform::MB_RESULT_OK);
    });
    platform::SetDebugBreakHook([this] { events_.push_back("break"); });
    platform::SetDebuggerPresenceHook([this] { return debugger_; });
  }
  void TearDown() override {  // empty handlers restore the defaults
    platform::SetDebugOutputHandler({});
    platform::SetMessageBoxHandler({});
    platform::SetDebugBreakHook({});
    platform::SetDebuggerPresenceHook({});
  }

  bool debugger_ = false;
  Events events_, outputs_;
  std::wstring boxCaption_, boxText_;
  unsigned int boxStyle_ = 0;
};

TEST_F(AssertReport, WhatEachLevelDoesWithAndWithoutADebugger) {
  for (bool debugger : {false, true}) {
    debugger_ = debugger;
    events_.clear();
    Assert().print_current_val(1, "a").warn("w");
    Assert().level(static_cast<Assert::ErrorLevel>(-1), nullptr);
    Assert().level(static_cast<Assert::ErrorLevel>(1000), "big");
    Assert().print_context("p != 0", "view.cpp", 40).debug("no view");
    Events expected{"output", "output", "output", "output", "box"};
    if (debugger) expected.push_back("break");
    EXPECT_EQ(events_, expected);
  }
  EXPECT_EQ(boxCaption_, L"SMART_ASSERT triggered!");
  EXPECT_EQ(boxText_, L"Failed:p != 0\nFile:\nview.cpp(40)\nno view");
  EXPECT_EQ(boxStyle_, static_cast<unsigned int>(platform::MB_STYLE_OK | platform::MB_STYLE_ICON_ERROR));
  events_.clear();
  EXPECT_NO_THROW(Assert().print_current_val(5, "k").error("stop here"));
  EXPECT_EQ(events_, (Events{"output", "box", "break"}));
}

TEST_F(AssertReport, BoxShowsUtf8ReportAndMarksBrokenBytes) {
  Assert().print_current_val("\xE5\x90\x8D\xE5\x89\x8D", "name").debug(nullptr);
  EXPECT_EQ(boxText_, L"name=\u540D\u524D\n");
  Assert().print_current_val("a\xFF" "b\xE5\x90", "raw").debug("\xE5\x90\x8D");
  EXPECT_EQ(boxText_, L"raw=a\uFFFDb\uFFFD\uFFFD\n\u540D");
}

TEST_F(AssertReport, MacroEvaluatesOnceAndIsOneStatement) {
  int x = -1, conditions = 0, values = 0;
  HUX_ASSERT(++conditions > 0)(++values).warn("never");  // values only on failure
  EXPECT_EQ(conditions + values * 10, 1);
  bool otherBranch = false;
  if (values)
    HUX_ASSERT(false).warn("not taken");
  else
    otherBranch = true;
  EXPECT_TRUE(otherBranch);
  const int line = __LINE__ + 1;
  HUX_ASSERT(std::is_same_v<int, long>)(x * 2);  // reported without a level call too
  EXPECT_EQ(outputs_, Events{"Failed:std::is_same_v<int, long>\nFile:\n" + std::string(__FILE__) + "(" +
                             std::to_string(line) + ")\nx * 2=-2\n"});
}

TEST(AssertDeath, FatalAndAbortLevelEndTheProcess) {
  ::setenv("HUX_DEBUG_OUTPUT", "stderr", 1);
  EXPECT_DEATH(Assert().print_context("a < b", "calc.cpp", 9).fatal("fatal end"),
               "Failed:a < b\nFile:\ncalc.cpp\\(9\\)\nfatal end");
  EXPECT_DEATH(Assert().print_current_val(2, "lvl").level(Assert::EL_ABORT, "abort level"), "lvl=2\nabort level");
  EXPECT_DEATH(
      {
        platform::SetDebuggerPresenceHook([] { return true; });
        Assert().level(Assert::EL_ABORT, "still ends");
      },
      "still ends");
  ::unsetenv("HUX_DEBUG_OUTPUT");
}

}  // namespace
}  // namespace hux
