// A tour of the diagnostics: the log with a file, an error code with a
// formatted message, the self-logging exception, a message-loop timer, the
// frame profiler's texts and report, and call-tree profiles whose summary is
// printed when the program ends.
#include <cstdio>
#include <string>

#include <hux/hux.h>

namespace {

// Ticks of the message-loop timer, counted on the main thread.
void OnTick(void* data, unsigned long /*time*/) { ++*static_cast<int*>(data); }

int Work(int n) {
  static QProfile profile("Work", false, __FILE__, __LINE__);
  QProfileStarter measure(&profile);
  int sum = 0;
  for (int i = 0; i < n; ++i) sum += i % 7;
  return sum;
}

}  // namespace

int main() {
  // The log: lines go to the debugger output (seen under a debugger, or on
  // the standard error with HUX_DEBUG_OUTPUT=stderr) and to a file in the
  // current folder.
  hux::CLogManager& log = hux::CSingleton<hux::CLogManager>::GetInstance();
  log.SetTimeStamp(true);
  if (!log.SetOutputFilePath(L"diagnostics_tour.log")) std::printf("could not open the log file\n");
  log.Log(std::wstring(L"tour started"), hux::CLogManager::LOG_NORMAL);

  // An error code whose message takes an argument from the thread's stream.
  hux::GetErrorParamStream().AppendInt(2);
  hux::SetError(hux::err_bad_argument);
  std::printf("error %d: %s\n", hux::GetError(), hux_err());
  hux::ReleaseErrorParamStream();
  hux::SetError(hux::err_ok);

  // The exception writes itself to the log at CRITICAL when it is made.
  try {
    throw hux::CErrorException(L"part not found", __FILE__, __LINE__);
  } catch (const hux::CErrorException& e) {
    std::printf("caught exception at line %ld\n", e.GetLine());
  }

  // A timer fires from this thread's message loop only.
  int ticks = 0;
  hux::CTimer timer(10, &OnTick, &ticks);
  timer.Start();
  hux::platform::PumpMessagesUntil([&] { return ticks >= 3; }, 2000);
  timer.Stop();
  std::printf("timer ticked %d times\n", ticks);

  // The frame profiler over five frames of a loop.
  hux::CProfiler& profiler = hux::CSingleton<hux::CProfiler>::GetInstance();
  int total = 0;
  for (int frame = 0; frame < 5; ++frame) {
    hux::CProfile scope(L"Frame");
    {
      hux::CProfile update(L"Update");
      total += Work(200000);
    }
    {
      hux::CProfile draw(L"Draw");
      total += Work(100000);
    }
  }
  const std::wstring titles = profiler.GetTitlesStr(), values = profiler.GetValueStr();
  std::printf("frame profiler: %zu title characters, %zu value characters (sum %d)\n", titles.size(),
              values.size(), total);
  profiler.LogProfileResult(L"diagnostics_tour_profile.txt");

  QPAddMemoryStatus("end of tour");
  log.Log(std::wstring(L"tour finished"), hux::CLogManager::LOG_NORMAL);
  // At exit the call-tree summary ("Total time" and "Work") is printed and
  // written to QProfile.txt beside this program.
  return 0;
}
