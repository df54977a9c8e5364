// Mapped-file memory: random 32-256-byte blocks with 1 000 000 live, freed
// and allocated again, against glibc malloc/free and against Boost's segment
// manager used directly (the same allocator without hux's lock and growth).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <vector>

#include <unistd.h>

#include <boost/interprocess/managed_external_buffer.hpp>
#include <boost/interprocess/mem_algo/rbtree_best_fit.hpp>

#include <hux/object/mapped_memory.h>

namespace {

constexpr size_t kLive = 1000000;
constexpr size_t kChurn = 200000;  // blocks freed and allocated again per iteration

std::vector<size_t> Sizes() {
  std::mt19937 rng(7);
  std::uniform_int_distribution<size_t> size(32, 256);
  std::vector<size_t> out(kLive + kChurn);
  for (size_t& s : out) s = size(rng);
  return out;
}

std::vector<size_t> Victims() {
  std::mt19937 rng(11);
  std::uniform_int_distribution<size_t> pick(0, kLive - 1);
  std::vector<size_t> out(kChurn);
  for (size_t& v : out) v = pick(rng);
  return out;
}

// Fills kLive blocks once, then each iteration frees kChurn random blocks and
// allocates replacements: the steady state of a long-lived heap.
template <class Alloc, class Free>
void Churn(benchmark::State& state, Alloc alloc, Free release) {
  const auto sizes = Sizes();
  const auto victims = Victims();
  std::vector<void*> live(kLive);
  for (size_t i = 0; i < kLive; ++i) live[i] = alloc(sizes[i]);
  for (auto _ : state) {
    for (size_t k = 0; k < kChurn; ++k) {
      void*& slot = live[victims[k]];
      release(slot);
      slot = alloc(sizes[kLive + k]);
    }
    benchmark::DoNotOptimize(live.data());
  }
  for (void* p : live) release(p);
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kChurn));
}

// The mapped file lands in a scratch folder, not in the caller's directory.
struct ScratchDir {
  ScratchDir() : old(std::filesystem::current_path()) {
    dir = std::filesystem::temp_directory_path() / ("hux_mapped_bench_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    std::filesystem::current_path(dir);
  }
  ~ScratchDir() {
    std::filesystem::current_path(old);
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
  std::filesystem::path old, dir;
};

void MappedChurn_hux(benchmark::State& state) {
  static ScratchDir scratch;
  Churn(state, [](size_t n) { return hux::mapped_malloc(n); }, [](void* p) { hux::mapped_free(p); });
}
BENCHMARK(MappedChurn_hux)->Name("MappedChurn/hux")->Unit(benchmark::kMillisecond)->Iterations(5);

void MappedChurn_glibc(benchmark::State& state) {
  Churn(state, [](size_t n) { return std::malloc(n); }, [](void* p) { std::free(p); });
}
BENCHMARK(MappedChurn_glibc)->Name("MappedChurn/glibc")->Unit(benchmark::kMillisecond)->Iterations(5);

void MappedChurn_segment(benchmark::State& state) {
  namespace bip = boost::interprocess;
  using Manager = bip::basic_managed_external_buffer<char, bip::rbtree_best_fit<bip::null_mutex_family>,
                                                     bip::iset_index>;
  std::vector<char> arena(size_t{512} << 20);
  Manager manager(bip::create_only, arena.data(), arena.size());
  Churn(state, [&](size_t n) { return manager.allocate(n); }, [&](void* p) { manager.deallocate(p); });
}
BENCHMARK(MappedChurn_segment)->Name("MappedChurn/segment_manager")->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

BENCHMARK_MAIN();
