#include <hux/platform/debug.h>

#include <gtest/gtest.h>

#include <grp.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <hux/platform/clock.h>
#include <hux/platform/mapped_file.h>
#include <hux/platform/process.h>
#include <hux/platform/procstatus.h>
#include <hux/platform/timers.h>

#include "scratch_dir.h"

namespace hux::platform {
namespace {

std::string OnStderr(const std::string& text) {
  ::testing::internal::CaptureStderr();
  WriteDebugOutput(text);
  return ::testing::internal::GetCapturedStderr();
}

TEST(DebugOutput, DefaultWritesOnlyWhenADebuggerOrTheEnvironmentAsks) {
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

TEST(ExecutablePathProbe, RemoveSelfAndPrint) {
  if (!std::getenv("HUX_EXE_PROBE")) GTEST_SKIP() << "run by ExecutablePath.RemovedExecutableKeepsItsName";
  const std::string before = ExecutablePath();
  ASSERT_EQ(::unlink(before.c_str()), 0);
  std::printf("PATH[%s]\n", ExecutablePath().c_str());
}

TEST(ExecutablePath, RemovedExecutableKeepsItsName) {
  test::ScratchDir dir;
  const std::filesystem::path copy = dir.Path() / "probe";
  std::filesystem::copy_file(ExecutablePath(), copy);
  const std::string command =
      "HUX_EXE_PROBE=1 '" + copy.string() + "' --gtest_filter=ExecutablePathProbe.RemoveSelfAndPrint";
  FILE* out = ::popen(command.c_str(), "r");
  ASSERT_NE(out, nullptr);
  std::string text;
  char buffer[256];
  while (std::fgets(buffer, sizeof buffer, out)) text += buffer;
  EXPECT_EQ(::pclose(out), 0) << text;
  EXPECT_NE(text.find("PATH[" + copy.string() + "]"), std::string::npos) << text;
  EXPECT_FALSE(std::filesystem::exists(copy));
}

TEST(ProcessStatus, FieldsAreReadOnlyFromTheStartOfTheirLine) {
  const struct {
    std::string status;
    const char* field;
    long long value;
  } cases[] = {
      {"Name:\tTracerPid:\t1\nUmask:\t0022\nTracerPid:\t0\n", "TracerPid", 0},
      {"RssAnon:\t7 kB", "RssAnon", 7},  // first line, no line end
      {"RssAnonX:\t5 kB\nXRssAnon:\t6 kB\nRssAnon 8\n", "RssAnon", -1},
      {"RssAnon:\t kB\nRssAnon:\t3 kB\n", "RssAnon", -1},  // the first line with the field counts
      {"RssAnon:\n12 kB\n", "RssAnon", -1},                 // no value on its own line
      {"RssAnon:\t-5 kB\n", "RssAnon", -1},
      {"RssAnon:\t9223372036854775807 kB\n", "RssAnon", 9223372036854775807LL},
      {"RssAnon:\t9223372036854775808 kB\n", "RssAnon", -1},  // does not fit
  };
  for (const auto& c : cases) EXPECT_EQ(ProcStatusField(c.status, c.field), c.value) << c.status.substr(0, 60);
  EXPECT_EQ(ProcStatusField(std::string_view("RssAnon:\t789", 10), "RssAnon"), 7);  // not a byte past the text
}

TEST(ProcessStatus, LongStatusFileIsReadWhole) {
  if (::geteuid() != 0) GTEST_SKIP() << "joining 2,500 groups needs root";
  EXPECT_EXIT(
      {
        std::vector<gid_t> groups;
        for (gid_t g = 100000; g < 102500; ++g) groups.push_back(g);
        if (::setgroups(groups.size(), groups.data()) != 0) std::_Exit(2);
        std::_Exit(PrivateMemoryBytes() > 0 ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST(FileMapping, GrowsByExactlyWhatIsAskedAndARefusalChangesNothing) {
  test::ScratchDir dir;
  GrowableFileMapping m;
  ASSERT_EQ(CreateGrowableFileMapping("grow", 100, 1 << 20, m), 0);
  const size_t capacity = m.capacity;

  EXPECT_EQ(GrowFileMapping(m, 0), 0);
  EXPECT_EQ(m.size, 100u);
  EXPECT_EQ(GrowFileMapping(m, 1), 0);
  EXPECT_EQ(m.size, 101u);
  EXPECT_EQ(std::filesystem::file_size("grow"), 101u);

  // Refused inside the file's last page: nothing may be taken from the reservation.
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  rlimit low = old;
  low.rlim_cur = 200;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &low), 0);
  const int refused = GrowFileMapping(m, 1000);
  setrlimit(RLIMIT_FSIZE, &old);
  EXPECT_EQ(refused, EFBIG);
  EXPECT_EQ(m.size, 101u);
  EXPECT_EQ(m.capacity, capacity);
  EXPECT_EQ(std::filesystem::file_size("grow"), 101u);

  ASSERT_EQ(GrowFileMapping(m, 9000), 0);
  m.base[9100] = 'x';
  EXPECT_EQ(m.size, 9101u);
  CloseFileMapping(m);
}

TEST(TimeStampCounter, FrequencyMatchesTheCounterOverAnInterval) {
  const long long hz = TimeStampCounterFrequency();
  ASSERT_GT(hz, 0) << "this machine has an x86 time-stamp counter";
  EXPECT_EQ(TimeStampCounterFrequency(), hz);  // measured once
  const unsigned long long t0 = ReadTimeStampCounter();
  const auto n0 = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  const double ticks = static_cast<double>(ReadTimeStampCounter() - t0);
  const double ns = std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - n0).count();
  EXPECT_NEAR(ticks * 1e9 / ns / static_cast<double>(hz), 1.0, 0.05);
}

using std::chrono::milliseconds;

thread_local std::map<std::uintptr_t, int> t_fired;
thread_local unsigned long t_lastTime = 0;

void Count(std::uintptr_t id, unsigned long time) {
  ++t_fired[id];
  t_lastTime = time;
}

TEST(ThreadTimer, FiresOnlyWhenItsThreadPumps) {
  t_fired.clear();
  const std::uintptr_t id = SetThreadTimer(10, &Count);
  ASSERT_NE(id, 0u);
  std::this_thread::sleep_for(milliseconds(35));
  EXPECT_EQ(t_fired[id], 0);  // due three times, but nobody pumped
  std::thread([] { EXPECT_EQ(PumpMessages(30), 0); }).join();
  EXPECT_EQ(t_fired[id], 0);
  EXPECT_EQ(PumpMessages(0), 1);
  EXPECT_EQ(t_fired[id], 1);
  EXPECT_NEAR(static_cast<double>(t_lastTime), static_cast<double>(MillisecondsSinceBoot()), 50.0);
  EXPECT_EQ(PumpMessages(0), 0);
  const int next = MillisecondsUntilNextTimer();
  EXPECT_TRUE(next >= 1 && next <= 10) << next;
  EXPECT_EQ(PumpMessages(1000), 1);
  EXPECT_EQ(t_fired[id], 2);
  EXPECT_TRUE(KillThreadTimer(id));
  EXPECT_FALSE(KillThreadTimer(id));
  EXPECT_EQ(MillisecondsUntilNextTimer(), -1);
  std::uintptr_t ended = 0;
  std::thread([&] { ended = SetThreadTimer(10, &Count); }).join();
  EXPECT_FALSE(KillThreadTimer(ended));
  EXPECT_EQ(SetThreadTimer(10, nullptr), 0u);
}

TEST(MessageLoop, WaitsForTheTimeOutAndStopsWhenDone) {
  EXPECT_EQ(PumpMessages(-1), 0);
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(PumpMessages(25), 0);
  EXPECT_GE(std::chrono::steady_clock::now() - t0, milliseconds(25));

  t_fired.clear();
  const std::uintptr_t id = SetThreadTimer(10, &Count);
  EXPECT_TRUE(PumpMessagesUntil([&] { return t_fired[id] >= 3; }, 5000));
  EXPECT_EQ(t_fired[id], 3);
  KillThreadTimer(id);

  t0 = std::chrono::steady_clock::now();
  EXPECT_FALSE(PumpMessagesUntil([] { return false; }, 30));
  EXPECT_GE(std::chrono::steady_clock::now() - t0, milliseconds(30));
}

}  // namespace
}  // namespace hux::platform
