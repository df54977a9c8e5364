// The two profilers on a small workload: the frame profiler times named
// scopes per frame and appends its report to a file; the call-tree profiler
// times sites across the run and prints its summary with memory snapshots.
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include <hux/hux.h>

namespace {

double Smooth(std::vector<double>& points) {
  static QProfile site("Smooth");
  QProfileStarter measure(&site);
  hux::CProfile scope(L"smooth");
  double energy = 0;
  for (size_t i = 1; i + 1 < points.size(); ++i) {
    points[i] = (points[i - 1] + 2 * points[i] + points[i + 1]) / 4;
    energy += points[i] * points[i];
  }
  return energy;
}

double Evaluate(const std::vector<double>& points) {
  static QProfile site("Evaluate");
  QProfileStarter measure(&site);
  hux::CProfile scope(L"evaluate");
  double sum = 0;
  for (double p : points) sum += std::sqrt(std::fabs(p));
  return sum;
}

}  // namespace

int main() {
  std::vector<double> points(200000);
  for (size_t i = 0; i < points.size(); ++i) points[i] = std::sin(static_cast<double>(i) * 0.01);
  QPAddMemoryStatus("start");

  double result = 0;
  for (int frame = 0; frame < 20; ++frame) {
    hux::CProfile frameScope(L"frame");
    for (int pass = 0; pass < 3; ++pass) result += Smooth(points);
    result += Evaluate(points);
  }
  std::vector<double> copy(points);  // something to show in the memory report
  QPAddMemoryStatus("after copy");

  hux::CProfiler* profiler = hux::CProfiler::GetInstance();
  std::string titles, values;
  for (wchar_t c : profiler->GetTitlesStr()) titles += static_cast<char>(c < 128 ? c : '?');
  for (wchar_t c : profiler->GetValueStr()) values += static_cast<char>(c < 128 ? c : '?');
  std::printf("frame profiler, last frame:%s\nvalues:%s\n", titles.c_str(), values.c_str());
  const bool written = profiler->LogProfileResult(L"profile_report.txt");
  std::printf("frame profiler report %s profile_report.txt\n", written ? "appended to" : "could not be written to");
  std::printf("memory growth between the snapshots: %.1f MiB (result %.3f, %zu points)\n",
              QPMemoryDiffent("after copy", "start"), result, copy.size());
  QProfile::PrintSummary();  // also written to QProfile.txt beside the executable
  return written ? 0 : 1;
}
