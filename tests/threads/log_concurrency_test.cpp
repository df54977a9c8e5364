// Threads logging to one file at once, and logging on while the process exits.
#include <hux/diag/logmanager.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <hux/diag/error.h>
#include <hux/io/memstream.h>
#include <hux/object/factory.h>
#include <hux/platform/debug.h>

#include "diag/diag_test_util.h"
#include "scratch_dir.h"

namespace hux {
namespace {

constexpr int kThreads = 16;
constexpr int kLines = 5000;
constexpr size_t kMaxPayload = 8192;

// A line of 1 to 8192 payload bytes, short and long mixed, both extremes present.
std::string Line(int thread, int seq) {
  const size_t mixed = 1 + std::hash<int>()(thread * 7919 + seq * 104729) % (size_t{1} << (seq % 14));
  const size_t length = seq == 0 ? 1 : seq == 1 ? kMaxPayload : mixed;
  return "T" + std::to_string(thread) + " S" + std::to_string(seq) + " " +
         std::string(length, static_cast<char>('a' + (thread * 7 + seq) % 26));
}

TEST(LogConcurrency, EveryLineWholeAndEverySequenceComplete) {
  test::ScratchDir dir;
  const std::filesystem::path path = dir.Path() / "threads.log";
  size_t debugLines = 0, debugBad = 0;
  auto previous = platform::SetDebugOutputHandler([&](const std::string& line) {
    ++debugLines;
    if (line.empty() || line.back() != '\n' || line.find('\n') != line.size() - 1) ++debugBad;
  });
  {
    CLogManager log;
    ASSERT_TRUE(log.SetOutputFilePath(path.wstring()));
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&log, t] {
        for (int seq = 0; seq < kLines; ++seq) {
          const std::string line = Line(t, seq);
          log.Log(std::wstring(line.begin(), line.end()), CLogManager::LOG_NORMAL);
        }
      });
    }
    for (auto& th : threads) th.join();
  }
  platform::SetDebugOutputHandler(previous);
  EXPECT_EQ(debugLines, size_t{kThreads} * kLines);
  EXPECT_EQ(debugBad, 0u);

  const std::string text = test::ReadFile(path);
  std::vector<int> next(kThreads, 0);
  size_t lines = 0, bad = 0;
  ASSERT_EQ(text.compare(0, 38, "\n" + std::string(37, '-')), 0);
  size_t pos = text.find('\n', 1) + 1;
  while (pos < text.size()) {
    const size_t end = text.find('\n', pos);
    ASSERT_NE(end, std::string::npos) << "the last line is not whole";
    const std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    ++lines;
    int t = -1, seq = -1;
    if (std::sscanf(line.c_str(), "[NORMAL]: T%d S%d", &t, &seq) == 2 && t >= 0 && t < kThreads && seq == next[t] &&
        line == "[NORMAL]: " + Line(t, seq))
      ++next[t];
    else
      ++bad;
  }
  EXPECT_EQ(bad, 0u);
  EXPECT_EQ(lines, size_t{kThreads} * kLines);
  EXPECT_EQ(next, std::vector<int>(kThreads, kLines));
}

constexpr int kWorkers = 4;
std::atomic<long> g_logged[kWorkers];
std::atomic<bool> g_stopLogging{false};
std::string g_exitPath;

void RecordProgressAtExit() {
  g_stopLogging = true;
  if (FILE* f = std::fopen((g_exitPath + ".progress").c_str(), "w")) {
    for (auto& logged : g_logged) std::fprintf(f, "%ld\n", logged.load());
    std::fclose(f);
  }
}

TEST(LogConcurrency, ThreadsWorkOnWhileTheProcessExits) {
  test::ScratchDir scratch;
  ::setenv("HUX_TEST_EXIT_LOG", (scratch.Path() / "exit.log").c_str(), 0);
  g_exitPath = std::getenv("HUX_TEST_EXIT_LOG");
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        std::atexit(&RecordProgressAtExit);
        CLogManager& log = CSingleton<CLogManager>::GetInstance();
        log.SetDebuggerOutput(false);
        if (!log.SetOutputFilePath(std::filesystem::path(g_exitPath).wstring())) std::exit(2);
        for (int t = 0; t < kWorkers; ++t) {
          std::thread([t] {
            for (long i = 0;; ++i) {
              if (!g_stopLogging) {
                CSingleton<CLogManager>::GetInstance().Log(
                    "worker " + std::to_string(t) + " line " + std::to_string(i), CLogManager::LOG_NORMAL);
                g_logged[t] = i + 1;
              }
              ReleaseErrorParamStream();
              GetErrorParamStream().AppendInt(i);
              GetErrorMessage(err_bad_argument);
              if (CReferenced* made = GetBaseObjectFactory().CreateRefObject(DT_MEM_STREAM)) {
                made->Ref();
                made->Unref();
              }
            }
          }).detach();
        }
        while (g_logged[kWorkers - 1] < 500) std::this_thread::yield();
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "");

  const std::string text = test::ReadFile(g_exitPath);
  std::istringstream progress(test::ReadFile(g_exitPath + ".progress"));
  for (int t = 0; t < kWorkers; ++t) {
    long logged = 0;
    ASSERT_TRUE(progress >> logged);
    const std::string last = "[NORMAL]: worker " + std::to_string(t) + " line " + std::to_string(logged - 1) + "\n";
    EXPECT_TRUE(logged == 0 || text.find(last) != std::string::npos) << last;
  }
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(text.back(), '\n') << "the last line is cut";
  size_t bad = 0;
  for (size_t pos = text.find('\n', 1) + 1, end; pos < text.size(); pos = end + 1) {  // after the banner
    end = text.find('\n', pos);
    if (text.compare(pos, 17, "[NORMAL]: worker ") != 0) ++bad;
  }
  EXPECT_EQ(bad, 0u);
  std::remove((g_exitPath + ".progress").c_str());
}

}  // namespace
}  // namespace hux
