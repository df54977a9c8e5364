// The log against spdlog's basic_file_sink_mt: 1 000 000 formatted lines to a
// file from 1 and 2 threads, and a call filtered out by its level.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <memory>
#include <string>

#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/spdlog.h>

#include <hux/diag/logmanager.h>
#include <hux/util/stringtrans.h>

namespace {

constexpr int kLines = 1000000;

std::filesystem::path Scratch(const char* name) {
  const auto dir = std::filesystem::temp_directory_path() / "hux_log_bench";
  std::filesystem::create_directories(dir);
  const auto path = dir / name;
  std::filesystem::remove(path);
  return path;
}

// Each thread writes its share of the lines into one log.
void LogLines_hux(benchmark::State& state) {
  static hux::CLogManager* log = nullptr;
  if (state.thread_index() == 0) {
    const auto path = Scratch("hux.log");
    log = new hux::CLogManager();
    log->SetDebuggerOutput(false);
    const std::string p = path.string();
    log->SetOutputFilePath(std::wstring(p.begin(), p.end()));
  }
  const int share = kLines / state.threads();
  for (auto _ : state) {
    for (int i = 0; i < share; ++i)
      log->Log(hux::FFormatString("step %d of %d: value %.3f", i, share, i * 0.25), hux::CLogManager::LOG_NORMAL);
  }
  if (state.thread_index() == 0) {
    delete log;
    log = nullptr;
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * share));
}
BENCHMARK(LogLines_hux)->Name("LogLines/hux")->Threads(1)->Threads(2)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

void LogLines_spdlog(benchmark::State& state) {
  static std::shared_ptr<spdlog::logger> logger;
  if (state.thread_index() == 0) {
    auto sink = std::make_shared<spdlog::sinks::basic_file_sink_mt>(Scratch("spdlog.log").string(), true);
    logger = std::make_shared<spdlog::logger>("bench", sink);
    logger->set_pattern("[%l]: %v");
  }
  const int share = kLines / state.threads();
  for (auto _ : state) {
    for (int i = 0; i < share; ++i) logger->info("step {} of {}: value {:.3f}", i, share, i * 0.25);
  }
  if (state.thread_index() == 0) {
    logger->flush();
    logger.reset();
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * share));
}
BENCHMARK(LogLines_spdlog)->Name("LogLines/spdlog")->Threads(1)->Threads(2)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

// A line below the threshold: the cost of deciding not to write it.
void LogFiltered_hux(benchmark::State& state) {
  hux::CLogManager log;
  log.SetDebuggerOutput(false);
  log.SetLogLevel(hux::CLogManager::LOG_CRITICAL);
  for (auto _ : state) log.Log(L"filtered", hux::CLogManager::LOG_DEBUG);
}
BENCHMARK(LogFiltered_hux)->Name("LogFiltered/hux");

void LogFiltered_spdlog(benchmark::State& state) {
  auto sink = std::make_shared<spdlog::sinks::basic_file_sink_mt>(Scratch("filtered.log").string(), true);
  spdlog::logger logger("filtered", sink);
  logger.set_level(spdlog::level::critical);
  for (auto _ : state) logger.debug("filtered");
}
BENCHMARK(LogFiltered_spdlog)->Name("LogFiltered/spdlog");

}  // namespace

BENCHMARK_MAIN();
