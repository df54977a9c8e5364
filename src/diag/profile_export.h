// Internal: the two profilers' data as weighted call paths, written in the
// formats flame-graph viewers read.
//
// A profile here is a list of call paths (outermost frame first), each with
// the time spent in its innermost frame itself: what a sampling profiler
// would have counted there. Both writers produce valid UTF-8 whatever the
// names hold.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace hux::detail {

struct ExportFrame {
  std::string name;  // UTF-8
  std::string file;  // UTF-8; empty when unknown
  int line = 0;      // with `file`
};

struct ExportProfile {
  std::string name;  // UTF-8
  // The unit of the weights, as the speedscope format names it
  // ("milliseconds", "nanoseconds", "none").
  const char* unit = "none";
  std::vector<ExportFrame> frames;
  struct Stack {
    std::vector<size_t> frames;  // indices into `frames`, outermost first
    long long weight = 0;
  };
  std::vector<Stack> stacks;
};

// `bytes` as UTF-8: valid sequences are kept, every other byte becomes
// U+FFFD.
std::string ValidUtf8(const std::string& bytes);

// A speedscope file holding `profile` as one sampled profile.
bool WriteSpeedscope(std::ostream& out, const ExportProfile& profile);
// One line per call path: the frame names joined by ';', a blank and the
// weight. In names, ';' becomes ':' and control characters become '?', so
// that a name can neither split a path nor end a line.
bool WriteCollapsedStacks(std::ostream& out, const ExportProfile& profile);

}  // namespace hux::detail
