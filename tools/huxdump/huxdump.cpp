// huxdump: prints the object and block tree of an archive file, checks its
// framing, and decodes its contents the way the library reads them.
//
//   huxdump [--json] [--check] [--as variant|properties|project] [FILE | -]
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "decode.h"
#include "escape.h"
#include "framing.h"

namespace huxdump {
namespace {

constexpr size_t kProgressThreshold = 4u << 20;  // files larger than this show progress
constexpr size_t kPreviewBytes = 16;

struct Options {
  bool json = false;
  bool check = false;
  std::string as;
  std::string path = "-";
};

int Usage(const std::string& message) {
  if (!message.empty()) std::fprintf(stderr, "huxdump: %s\n", TextString(message).c_str());
  std::fprintf(stderr,
               "usage: huxdump [--json] [--check] [--as variant|properties|project] [FILE | -]\n"
               "  prints the object and block tree of an archive (offset, version, block count,\n"
               "  block id, size, nesting, a preview of each block's first bytes)\n"
               "  --check   validate the framing as the file is read; exit 1 naming the offset\n"
               "            of the first fault\n"
               "  --json    print the tree as JSON\n"
               "  --as KIND decode the contents as the library reads them\n"
               "Names, values and paths are printed escaped. Text: \\\\ for a backslash,\n"
               "\\n \\r \\t, \\xHH for other control bytes, DEL and bytes that are not UTF-8,\n"
               "\\u{HHHH} for the C1 controls (U+0080-U+009F) and U+061C, U+200E, U+200F,\n"
               "U+2028-U+202E, U+2066-U+2069. JSON strings are valid UTF-8: the same controls\n"
               "as \\uXXXX, each byte that is not UTF-8 as \\ufffd (the replacement character).\n");
  return 2;
}

// The input, read front to back in chunks; reports progress on stderr for
// large files.
class Input : public ByteSource {
 public:
  explicit Input(const std::string& path) : path_(path), chunk_(kChunk) {}
  ~Input() override {
    if (file_ && file_ != stdin) std::fclose(file_);
  }

  // False, with a message, when the file cannot be opened.
  bool Open() {
    file_ = path_ == "-" ? stdin : std::fopen(path_.c_str(), "rb");
    if (!file_) {
      std::fprintf(stderr, "huxdump: cannot open %s: %s\n", TextString(path_).c_str(), std::strerror(errno));
      return false;
    }
    if (file_ != stdin && std::fseek(file_, 0, SEEK_END) == 0) {
      const long long total = std::ftell(file_);
      std::fseek(file_, 0, SEEK_SET);
      if (total > static_cast<long long>(kProgressThreshold)) total_ = total;
    }
    return true;
  }

  size_t Read(unsigned char* dst, size_t n) override {
    size_t done = 0;
    while (done < n) {
      if (at_ == have_ && !Fill()) break;
      const size_t take = std::min(n - done, have_ - at_);
      std::memcpy(dst + done, chunk_.data() + at_, take);
      at_ += take;
      done += take;
    }
    return done;
  }

  // Ends the progress line. False, with a message, after a read error.
  bool Finish() {
    if (total_ > 0) std::fprintf(stderr, "\n");
    if (std::ferror(file_) == 0) return true;
    std::fprintf(stderr, "huxdump: error reading %s\n", TextString(path_).c_str());
    return false;
  }

 private:
  static constexpr size_t kChunk = 1 << 16;

  bool Fill() {
    if (end_) return false;
    have_ = std::fread(chunk_.data(), 1, kChunk, file_);
    at_ = 0;
    end_ = have_ < kChunk;
    read_ += have_;
    if (total_ > 0) {
      const int percent = static_cast<int>(100.0 * static_cast<double>(read_) / static_cast<double>(total_));
      if (percent != lastPercent_) {
        std::fprintf(stderr, "\rhuxdump: reading %s: %3d%%", TextString(path_).c_str(), percent);
        lastPercent_ = percent;
      }
    }
    return have_ > 0;
  }

  std::string path_;
  FILE* file_ = nullptr;
  long long total_ = -1;  // the size, when progress is shown
  std::vector<unsigned char> chunk_;
  size_t at_ = 0, have_ = 0;
  bool end_ = false;
  uint64_t read_ = 0;
  int lastPercent_ = -1;
};

std::string Hex(const unsigned char* p, size_t n) {
  std::string s;
  char buf[4];
  for (size_t i = 0; i < n; ++i) {
    std::snprintf(buf, sizeof buf, i ? " %02X" : "%02X", p[i]);
    s += buf;
  }
  return s;
}

std::string Preview(const std::vector<unsigned char>& data, uint64_t offset, uint64_t size) {
  const size_t n = static_cast<size_t>(size < kPreviewBytes ? size : kPreviewBytes);
  return Hex(data.data() + offset, n) + (size > kPreviewBytes ? " ..." : "");
}

// The tree printers walk the checked framing in place, nested blocks
// recursively (to the framing's depth bound). Each returns the end of the
// object it printed.
uint64_t PrintObjectText(const std::vector<unsigned char>& data, const Framing& f, uint64_t pos, int depth) {
  const ObjectHeader o = f.ObjectAt(pos);
  const std::string indent(static_cast<size_t>(depth) * 4, ' ');
  std::printf("%sobject @%llu  version %u  %u block%s\n", indent.c_str(), static_cast<unsigned long long>(o.offset),
              o.version, o.blockCount, o.blockCount == 1 ? "" : "s");
  uint64_t at = o.firstBlock;
  for (unsigned i = 0; i < o.blockCount; ++i) {
    const BlockHeader b = f.BlockAt(at);
    at = b.End();
    std::printf("%s  block %u @%llu  size %u", indent.c_str(), b.id, static_cast<unsigned long long>(b.offset), b.size);
    const size_t nested = f.NestedObjects(b.dataOffset, b.End(), depth + 1);
    if (nested > 0) {
      std::printf("  (%zu nested object%s)\n", nested, nested == 1 ? "" : "s");
      for (uint64_t child = b.dataOffset; child < b.End();) child = PrintObjectText(data, f, child, depth + 1);
    } else {
      std::printf("  [%s]\n", Preview(data, b.dataOffset, b.size).c_str());
    }
  }
  return at;
}

// Objects at nesting `depth` are indented by two JSON levels per nesting
// level (the object, then its block list), their blocks by one more.
uint64_t PrintObjectJson(const std::vector<unsigned char>& data, const Framing& f, uint64_t pos, int depth) {
  const ObjectHeader o = f.ObjectAt(pos);
  const std::string in(static_cast<size_t>(2 * depth + 1) * 2, ' ');
  const std::string blockIn(in.size() + 2, ' ');
  std::printf("%s{\"offset\": %llu, \"version\": %u, \"blockCount\": %u, \"blocks\": [\n", in.c_str(),
              static_cast<unsigned long long>(o.offset), o.version, o.blockCount);
  uint64_t at = o.firstBlock;
  for (unsigned i = 0; i < o.blockCount; ++i) {
    const BlockHeader b = f.BlockAt(at);
    at = b.End();
    std::printf("%s{\"offset\": %llu, \"id\": %u, \"size\": %u, \"dataOffset\": %llu, \"preview\": \"%s\"",
                blockIn.c_str(), static_cast<unsigned long long>(b.offset), b.id, b.size,
                static_cast<unsigned long long>(b.dataOffset),
                Hex(data.data() + b.dataOffset, b.size < kPreviewBytes ? b.size : kPreviewBytes).c_str());
    if (f.NestedObjects(b.dataOffset, b.End(), depth + 1) > 0) {
      std::printf(", \"objects\": [\n");
      for (uint64_t child = b.dataOffset; child < b.End();) {
        child = PrintObjectJson(data, f, child, depth + 1);
        std::printf(child < b.End() ? ",\n" : "\n");
      }
      std::printf("%s]", blockIn.c_str());
    }
    std::printf(i + 1 < o.blockCount ? "},\n" : "}\n");
  }
  std::printf("%s]}", in.c_str());
  return at;
}

int Run(const Options& opt) {
  Input input(opt.path);
  if (!input.Open()) return 2;
  const std::string path = TextString(opt.path);

  if (opt.check) {
    const CheckResult r = CheckStream(input);
    if (!input.Finish()) return 2;
    if (r.fault.found) {
      std::fprintf(stderr, "huxdump: %s: offset %llu: %s\n", path.c_str(),
                   static_cast<unsigned long long>(r.fault.offset), r.fault.message.c_str());
      return 1;
    }
    if (r.bytes == 0) {
      std::fprintf(stderr, "huxdump: %s: offset 0: the file is empty\n", path.c_str());
      return 1;
    }
    std::printf("%s: ok, %llu object%s in %llu bytes\n", path.c_str(), static_cast<unsigned long long>(r.objects),
                r.objects == 1 ? "" : "s", static_cast<unsigned long long>(r.bytes));
    return 0;
  }

  std::vector<unsigned char> data;
  unsigned char chunk[1 << 16];
  for (size_t n; (n = input.Read(chunk, sizeof chunk)) > 0;) data.insert(data.end(), chunk, chunk + n);
  if (!input.Finish()) return 2;

  if (!opt.as.empty()) {
    std::string error;
    const bool ok = Decode(opt.as, data, opt.json, error);
    if (!ok) std::fprintf(stderr, "huxdump: %s: %s\n", path.c_str(), error.c_str());
    return ok ? 0 : 1;
  }

  const Framing framing(data.data(), data.size());
  uint64_t pos = 0, count = 0;
  Fault fault;
  if (opt.json) {
    std::printf("{\"file\": %s, \"size\": %zu, \"objects\": [\n", JsonString(opt.path).c_str(), data.size());
    for (uint64_t start = pos; pos < data.size() && framing.NextObject(pos, count, fault); start = pos, ++count) {
      if (count > 0) std::printf(",\n");
      PrintObjectJson(data, framing, start, 0);
    }
    std::printf(count > 0 ? "\n]" : "]");
    if (fault.found)
      std::printf(", \"fault\": {\"offset\": %llu, \"message\": %s}", static_cast<unsigned long long>(fault.offset),
                  JsonString(fault.message).c_str());
    std::printf("}\n");
    return 0;
  }

  std::printf("%s: %zu bytes\n", path.c_str(), data.size());
  for (uint64_t start = pos; pos < data.size() && framing.NextObject(pos, count, fault); start = pos, ++count)
    PrintObjectText(data, framing, start, 0);
  if (fault.found) {
    const uint64_t rest = data.size() - pos;
    std::printf("not framed from offset %llu: %s\n  %llu byte%s: [%s]\n", static_cast<unsigned long long>(pos),
                fault.message.c_str(), static_cast<unsigned long long>(rest), rest == 1 ? "" : "s",
                Preview(data, pos, rest).c_str());
  }
  return 0;
}

}  // namespace
}  // namespace huxdump

int main(int argc, char** argv) {
  huxdump::Options opt;
  bool havePath = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--json") {
      opt.json = true;
    } else if (arg == "--check") {
      opt.check = true;
    } else if (arg == "--as") {
      if (++i >= argc) return huxdump::Usage("--as needs a kind");
      opt.as = argv[i];
      if (!huxdump::IsDecoderKind(opt.as)) return huxdump::Usage("--as takes variant, properties or project");
    } else if (arg == "-h" || arg == "--help") {
      huxdump::Usage("");
      return 0;
    } else if (!arg.empty() && arg[0] == '-' && arg != "-") {
      return huxdump::Usage("unknown option " + arg);
    } else if (havePath) {
      return huxdump::Usage("one file at a time");
    } else {
      opt.path = arg;
      havePath = true;
    }
  }
  return huxdump::Run(opt);
}
