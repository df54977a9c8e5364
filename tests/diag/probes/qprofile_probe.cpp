// One scenario per process: the summary is printed once per process.
#include <hux/diag/qprofile.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <thread>

#include <hux/diag/profiler.h>
#include <hux/platform/clock.h>
#include <hux/platform/procstatus.h>

namespace {

unsigned long long g_ticks = 0;
unsigned long long FakeCounter() { return g_ticks; }
void Advance(unsigned long long ticks) { g_ticks += ticks; }
long long g_memoryBytes = 0;

void UseFakeClockAndMemory() {
  // Continue from the real counter: "Total time", started at load, stays positive.
  g_ticks = hux::platform::ReadTimeStampCounter();
  hux::platform::SetTimeStampCounterHook(&FakeCounter, 1000000);
  hux::platform::SetPrivateMemoryHook([] { return g_memoryBytes; });
}

void Parse() {
  static QProfile profile("Parse", false, __FILE__, __LINE__);
  QProfileStarter s(&profile);
  Advance(100);
}
void Shared(unsigned long long ticks) {
  static QProfile profile("Shared");
  QProfileStarter s(&profile);
  Advance(ticks);
}
void Load() {
  static QProfile profile("Load");
  QProfileStarter s(&profile);
  Advance(100);
  Parse();
  Shared(50);
  Advance(150);
}
void Draw() {
  static QProfile profile("Draw");
  QProfileStarter s(&profile);
  Advance(180);
  Shared(20);
}
void Rec(int depth) {
  static QProfile profile("Rec");
  QProfileStarter s(&profile);
  Advance(100);
  if (depth > 1) Rec(depth - 1);
}

int ScenarioReport() {
  UseFakeClockAndMemory();
  g_memoryBytes = 10LL << 20;
  std::fprintf(stderr, "add=%d\n", QPAddMemoryStatus("start"));
  Load();
  Draw();
  Rec(3);
  static QProfile manual("Manual");
  manual.Start();
  Advance(30);
  manual.Start();
  Advance(30);
  manual.Stop();
  Advance(30);
  manual.Stop();
  manual.Stop();  // without Start: nothing
  static QProfile longName("A profile name that is longer than fifty characters in all");
  QProfileStarter{&longName};
  g_memoryBytes = (31LL << 20) / 2;  // 15.5 MiB
  QPAddMemoryStatus("after");
  std::fprintf(stderr, "diff=%.2f missing=%.2f\n", QPMemoryDiffent("after", "start"), QPMemoryDiffent("after", "x"));
  auto* temporary = new QProfile("Temporary", true);  // a heap profile the summary destroys
  QProfileStarter s(temporary);
  Advance(10);
  return 0;  // the summary is printed at exit
}

int ScenarioExplicit() {
  UseFakeClockAndMemory();
  static QProfile once("Once");
  static QProfile inner("Inner");
  { QProfileStarter s(&once); Advance(1000); }
  {
    QProfileStarter s(&once);
    std::thread([] { QProfileStarter t(&inner); }).join();  // does not see this thread's chain
  }
  QProfile::PrintSummary();
  { QProfileStarter s(&once); Advance(1000); }
  std::fprintf(stderr, "hits=%lld total=%lld inner parent=%s\n", (long long)once.GetHits(), (long long)once.GetTotalTicks(),
               inner.GetParent() ? inner.GetParent()->GetName() : "none");
  QProfile::PrintSummary();
  return 0;
}

long long g_frameNs = 0;
int ScenarioExport() {
  UseFakeClockAndMemory();
  Load();
  Draw();
  Rec(3);
  static QProfile odd("q\"b\\t\tn\n;s \xFF\xC0\x80\xED\xA0\x80\xF4\x90\x80\x80 end", false, "f\x01\xFE.cpp", 7);
  static const std::string longName(100000, 'n');
  static QProfile longProfile(longName.c_str());
  {
    QProfileStarter s(&odd);
    Advance(5);
    QProfileStarter t(&longProfile);
    Advance(3);
  }
  hux::platform::SetPerformanceCounterHook([] { return g_frameNs; });
  hux::CProfiler frames;
  const std::wstring names[] = {L"Frame", L"q\"b\\c\x01n\n;s \xD800 \xDBFF\xDFFF \xDC00 \x110000 \x7FFFFFFF \xFFFF",
                                std::wstring(100000, L'w')};
  for (int frame = 0; frame < 2; ++frame) {
    for (const std::wstring& name : names) {
      frames.BeginProfile(name);
      g_frameNs += 2000000;
    }
    for (const std::wstring& name : names) frames.EndProfile(name);
  }
  std::ofstream treeJson("calltree.speedscope.json"), treeStacks("calltree.collapsed"),
      framesJson("frames.speedscope.json"), frameStacks("frames.collapsed");
  const bool written = QProfile::WriteSpeedscope(treeJson) && QProfile::WriteCollapsedStacks(treeStacks) &&
                       frames.WriteSpeedscope(framesJson) && frames.WriteCollapsedStacks(frameStacks);
  std::fprintf(stderr, "written=%d\n", written);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "report") return ScenarioReport();
  if (mode == "explicit") return ScenarioExplicit();
  if (mode == "export") return ScenarioExport();
  std::fprintf(stderr, "unknown scenario\n");
  return 2;
}
