// Fails an assertion at level EL_ERROR inside a function with a distinctive
// name, so that a test can look for that name in a debugger's backtrace of the
// dump. Prints what() of the exception it catches; exit status 0 only then.
#include <cstdio>
#include <exception>

#include <hux/diag/assert.h>

// Not inlined, so the backtrace has a frame of its own for it.
__attribute__((noinline)) void HuxDumpProbe_FailsItsAssertion(int value) {
  HUX_ASSERT(value > 0)(value).error("the probe failed on purpose");
  std::puts("the assertion did not fail");
}

int main(int argc, char**) {
  try {
    HuxDumpProbe_FailsItsAssertion(argc - 2);  // -1 when run without arguments
  } catch (const hux::ExceptionWithMinidump& e) {
    std::fputs(e.what(), stdout);
    return 0;
  } catch (const std::exception& e) {
    std::printf("wrong exception: %s\n", e.what());
  }
  return 1;
}
