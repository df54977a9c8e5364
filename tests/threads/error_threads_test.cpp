// Error codes, message buffers and parameter streams belong to their thread.
#include <hux/diag/error.h>

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace hux {
namespace {

TEST(ErrorThreads, CodesBuffersAndStreamsArePerThreadAndFormatsMayChange) {
  SetErrorMessage(500, "thread %d says %s");
  SetError(77);
  constexpr int kThreads = 8;
  std::vector<const char*> buffers(kThreads);
  std::atomic<int> failures{0};
  std::atomic<int> ready{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      if (GetError() != 0) ++failures;  // a new thread starts at 0
      SetError(100 + t);
      const std::string word = "word" + std::to_string(t);
      const std::string expected = "thread " + std::to_string(t) + " says " + word;
      ++ready;
      while (ready < kThreads) std::this_thread::yield();  // overlap the threads
      for (int i = 0; i < 500; ++i) {
        ReleaseErrorParamStream();
        GetErrorParamStream().AppendInt(t).AppendString(word.c_str());
        if (GetErrorMessage(500) != expected || GetError() != 100 + t) ++failures;
      }
      buffers[t] = GetErrorMessage(500);  // the stream is left for the thread's end to free
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(failures, 0);
  EXPECT_EQ(GetError(), 77);
  EXPECT_EQ(std::set<const char*>(buffers.begin(), buffers.end()).size(), size_t{kThreads});
  SetError(0);
  // Formats may change while other threads format.
  SetErrorMessage(501, "first %d");
  std::atomic<bool> stop{false};
  failures = 0;
  std::vector<std::thread> readers;
  for (int t = 0; t < 3; ++t) {
    readers.emplace_back([&] {
      while (!stop) {
        ReleaseErrorParamStream();
        GetErrorParamStream().AppendInt(5);
        const std::string text = GetErrorMessage(501);
        if (text != "first 5" && text != "second 5") ++failures;
      }
      ReleaseErrorParamStream();
    });
  }
  for (int i = 0; i < 2000; ++i) SetErrorMessage(501, i % 2 ? "first %d" : "second %d");
  stop = true;
  for (auto& th : readers) th.join();
  EXPECT_EQ(failures, 0);
}

}  // namespace
}  // namespace hux
