// Sixteen threads log 20 000 lines each to one file at once: every line must
// arrive whole, and every thread's lines complete and in order.
#include <hux/diag/logmanager.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include <hux/platform/debug.h>

#include "diag/diag_test_util.h"

namespace hux {
namespace {

constexpr int kThreads = 16;
constexpr int kLines = 20000;
constexpr size_t kMaxPayload = 8192;

unsigned int Checksum(const std::string& text) {
  unsigned int h = 2166136261u;  // FNV-1a
  for (unsigned char c : text) h = (h ^ c) * 16777619u;
  return h;
}

// The payload of one line: 1 to 8192 bytes, spread over the powers of two so
// that short and long lines mix, with both extremes present.
std::string Payload(int thread, int seq) {
  size_t length;
  if (seq == 0) {
    length = 1;
  } else if (seq == 1) {
    length = kMaxPayload;
  } else {
    const unsigned int mix = Checksum(std::to_string(thread * kLines + seq));
    const size_t span = size_t{1} << (seq % 14);
    length = 1 + mix % span;
  }
  std::string text(length, 'a');
  for (size_t i = 0; i < length; ++i) text[i] = static_cast<char>('a' + (thread * 7 + seq + i) % 26);
  return text;
}

TEST(LogConcurrency, EveryLineWholeAndEverySequenceComplete) {
  test::ScratchPath path("hux-log-threads");
  size_t debugLines = 0, debugBad = 0;
  // The manager calls this under its lock, so plain counters suffice.
  auto previous = platform::SetDebugOutputHandler([&](const std::string& line) {
    ++debugLines;
    if (line.empty() || line.back() != '\n' || line.find('\n') != line.size() - 1) ++debugBad;
  });
  {
    CLogManager log;
    ASSERT_TRUE(log.SetOutputFilePath(path.Wide()));
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&log, t] {
        for (int seq = 0; seq < kLines; ++seq) {
          const std::string payload = Payload(t, seq);
          char head[64];
          std::snprintf(head, sizeof head, "T%d S%d L%zu C%08x ", t, seq, payload.size(), Checksum(payload));
          std::wstring line(head, head + std::char_traits<char>::length(head));
          line.append(payload.begin(), payload.end());
          log.Log(line, CLogManager::LOG_NORMAL);
        }
      });
    }
    for (auto& th : threads) th.join();
  }
  platform::SetDebugOutputHandler(previous);
  EXPECT_EQ(debugLines, size_t{kThreads} * kLines);
  EXPECT_EQ(debugBad, 0u);

  const std::string text = test::ReadFile(path.Path());
  std::vector<int> next(kThreads, 0);
  size_t pos = 0, lines = 0, bad = 0;
  // The banner: an empty line and the dashed date line.
  ASSERT_EQ(text.compare(0, 38, "\n" + std::string(37, '-')), 0);
  pos = text.find('\n', 1) + 1;
  while (pos < text.size()) {
    const size_t end = text.find('\n', pos);
    ASSERT_NE(end, std::string::npos) << "the last line is not whole";
    const std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    ++lines;
    int t = -1, seq = -1, consumed = 0;
    size_t length = 0;
    unsigned int sum = 0;
    if (std::sscanf(line.c_str(), "[NORMAL]: T%d S%d L%zu C%08x %n", &t, &seq, &length, &sum, &consumed) != 4 ||
        t < 0 || t >= kThreads || consumed == 0) {
      ++bad;
      continue;
    }
    const std::string payload = line.substr(static_cast<size_t>(consumed));
    if (payload.size() != length || Checksum(payload) != sum || seq != next[t]) {
      ++bad;
      continue;
    }
    ++next[t];
  }
  EXPECT_EQ(bad, 0u);
  EXPECT_EQ(lines, size_t{kThreads} * kLines);
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(next[t], kLines) << "thread " << t;
}

}  // namespace
}  // namespace hux
