// Fails an EL_ERROR assertion (on N threads at once with argument N), prints
// each exception's text; exits 0 only when every one was ExceptionWithMinidump.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <thread>
#include <vector>

#include <hux/diag/assert.h>

__attribute__((noinline)) void HuxDumpProbe_FailsItsAssertion(int value) {
  HUX_ASSERT(value > 0)(value).error("the probe failed on purpose");
  std::puts("the assertion did not fail");
}

int main(int argc, char** argv) {
  const int threads = argc > 1 ? std::atoi(argv[1]) : 1;
  std::atomic<int> waiting{threads}, caught{0};
  auto fail = [&]() __attribute__((noinline)) {
    for (--waiting; waiting > 0;) std::this_thread::yield();
    try {
      HuxDumpProbe_FailsItsAssertion(-threads);
    } catch (const hux::ExceptionWithMinidump& e) {
      std::fputs(e.what(), stdout);
      ++caught;
    } catch (const std::exception& e) {
      std::printf("wrong exception: %s\n", e.what());
    }
  };
  if (threads <= 1) {
    fail();
  } else {
    std::vector<std::thread> pool;
    for (int i = 0; i < threads; ++i) pool.emplace_back(fail);
    for (std::thread& t : pool) t.join();
  }
  return caught == std::max(threads, 1) ? 0 : 1;
}
