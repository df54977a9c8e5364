// The two profilers over 10 000 000 nested scopes with 8 and 64 siblings,
// against an empty loop, against two time-stamp reads a scope, and (CProfile)
// against the reads of the monotonic clock a scope needs.
//
// The clock reads a CProfile scope must make: its begin and end ticks (two
// reads of the stopwatch clock, the monotonic clock), and the profiler's own
// cost, measured from the start to the end of BeginProfile and of EndProfile
// in nanoseconds of the same monotonic clock (four reads). The begin tick can
// be the reading that ends BeginProfile's measurement, and the end tick the
// one that starts EndProfile's, but the other two cannot be shared: the
// caller's code runs between the calls. So four monotonic clock reads a
// scope, the anchor "four_clock_reads"; "two_rdtsc" is the bare minimum of any
// timed scope, on the cheapest clock.
#include <benchmark/benchmark.h>

#include <x86intrin.h>

#include <chrono>
#include <string>
#include <vector>

#include <hux/diag/profiler.h>
#include <hux/diag/qprofile.h>

namespace {

constexpr long kScopes = 10000000;

std::vector<std::wstring> WideNames(int siblings) {
  std::vector<std::wstring> names;
  for (int i = 0; i < siblings; ++i) names.push_back(L"scope " + std::to_wstring(i));
  return names;
}

std::vector<QProfile*> QNames(int siblings) {
  static std::vector<std::string> storage;  // QProfile keeps the name pointer
  std::vector<QProfile*> profiles;
  for (int i = 0; i < siblings; ++i) {
    storage.push_back("bench scope " + std::to_string(siblings) + "/" + std::to_string(i));
    profiles.push_back(new QProfile(storage.back().c_str()));
  }
  return profiles;
}

// An outer scope per frame, and below it the siblings in turn, each holding
// one nested scope: kScopes scopes in all.
void Scopes_CProfile(benchmark::State& state) {
  const int siblings = static_cast<int>(state.range(0));
  const auto names = WideNames(siblings);
  const std::wstring outer = L"frame", inner = L"inner";
  hux::CProfiler::GetInstance().ResetProfile();
  for (auto _ : state) {
    long done = 0;
    while (done < kScopes) {
      hux::CProfile frame(outer);
      ++done;
      for (int s = 0; s < siblings && done < kScopes; ++s, done += 2) {
        hux::CProfile scope(names[static_cast<size_t>(s)]);
        hux::CProfile nested(inner);
      }
    }
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kScopes));
}
BENCHMARK(Scopes_CProfile)->Name("ScopesCProfile/hux")->Arg(8)->Arg(64)->Iterations(1)->Unit(benchmark::kMillisecond);

void Scopes_QProfile(benchmark::State& state) {
  const int siblings = static_cast<int>(state.range(0));
  const auto profiles = QNames(siblings);
  QProfile* frameProfile = new QProfile("bench frame");
  QProfile* innerProfile = new QProfile("bench inner");
  for (auto _ : state) {
    long done = 0;
    while (done < kScopes) {
      QProfileStarter frame(frameProfile);
      ++done;
      for (int s = 0; s < siblings && done < kScopes; ++s, done += 2) {
        QProfileStarter scope(profiles[static_cast<size_t>(s)]);
        QProfileStarter nested(innerProfile);
      }
    }
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kScopes));
}
BENCHMARK(Scopes_QProfile)->Name("ScopesQProfile/hux")->Arg(8)->Arg(64)->Iterations(1)->Unit(benchmark::kMillisecond);

// The monotonic clock (clock_gettime(CLOCK_MONOTONIC) in libstdc++).
long long MonotonicNs() { return std::chrono::steady_clock::now().time_since_epoch().count(); }

// The same loop with the four monotonic clock reads of each scope.
void Scopes_ClockReads(benchmark::State& state) {
  const int siblings = static_cast<int>(state.range(0));
  long long sum = 0;
  for (auto _ : state) {
    long done = 0;
    while (done < kScopes) {
      ++done;
      for (int s = 0; s < siblings && done < kScopes; ++s, done += 2) {
        for (int scope = 0; scope < 2; ++scope) {
          const long long a = MonotonicNs(), b = MonotonicNs();
          const long long c = MonotonicNs(), d = MonotonicNs();
          sum += (b - a) + (d - c);
        }
      }
    }
  }
  benchmark::DoNotOptimize(sum);
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kScopes));
}
BENCHMARK(Scopes_ClockReads)->Name("ScopesCProfile/four_clock_reads")->Arg(8)->Arg(64)->Iterations(1)->Unit(benchmark::kMillisecond);

// The anchors: the same loop with nothing in the scopes, and with the two
// rdtsc reads (start and stop) each scope makes.
template <bool kClock>
void Scopes_Anchor(benchmark::State& state) {
  const int siblings = static_cast<int>(state.range(0));
  unsigned long long sum = 0;
  for (auto _ : state) {
    long done = 0;
    while (done < kScopes) {
      ++done;
      for (int s = 0; s < siblings && done < kScopes; ++s, done += 2) {
        if constexpr (kClock) {
          const unsigned long long a = __rdtsc(), b = __rdtsc();
          const unsigned long long c = __rdtsc(), d = __rdtsc();
          sum += (b - a) + (d - c);
        } else {
          benchmark::ClobberMemory();
        }
      }
    }
  }
  benchmark::DoNotOptimize(sum);
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kScopes));
}
BENCHMARK(Scopes_Anchor<false>)->Name("ScopesCProfile/empty_loop")->Arg(8)->Arg(64)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(Scopes_Anchor<true>)->Name("ScopesCProfile/two_rdtsc")->Arg(8)->Arg(64)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(Scopes_Anchor<false>)->Name("ScopesQProfile/empty_loop")->Arg(8)->Arg(64)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(Scopes_Anchor<true>)->Name("ScopesQProfile/two_rdtsc")->Arg(8)->Arg(64)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
