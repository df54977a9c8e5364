// huxdump: prints the object and block tree of an archive file, checks its
// framing, and decodes its contents the way the library reads them.
//
//   huxdump [--json] [--check] [--as variant|properties|project] [FILE | -]
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "decode.h"
#include "framing.h"
#include "json.h"

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

int Usage(const char* message) {
  if (message) std::fprintf(stderr, "huxdump: %s\n", message);
  std::fprintf(stderr,
               "usage: huxdump [--json] [--check] [--as variant|properties|project] [FILE | -]\n"
               "  prints the object and block tree of an archive (offset, version, block count,\n"
               "  block id, size, nesting, a preview of each block's first bytes)\n"
               "  --check   validate the framing; exit 1 naming the offset of the first fault\n"
               "  --json    print the tree as JSON\n"
               "  --as KIND decode the contents as the library reads them\n");
  return 2;
}

// Reads the whole input; reports progress on stderr for large files.
bool ReadInput(const std::string& path, std::vector<unsigned char>& out) {
  FILE* f = path == "-" ? stdin : std::fopen(path.c_str(), "rb");
  if (!f) {
    std::fprintf(stderr, "huxdump: cannot open %s: %s\n", path.c_str(), std::strerror(errno));
    return false;
  }
  long long total = -1;
  if (f != stdin && std::fseek(f, 0, SEEK_END) == 0) {
    total = std::ftell(f);
    std::fseek(f, 0, SEEK_SET);
  }
  const bool progress = total > static_cast<long long>(kProgressThreshold);
  unsigned char chunk[1 << 16];
  int lastPercent = -1;
  for (;;) {
    const size_t n = std::fread(chunk, 1, sizeof chunk, f);
    out.insert(out.end(), chunk, chunk + n);
    if (progress) {
      const int percent = static_cast<int>(100.0 * static_cast<double>(out.size()) / static_cast<double>(total));
      if (percent != lastPercent) {
        std::fprintf(stderr, "\rhuxdump: reading %s: %3d%%", path.c_str(), percent);
        lastPercent = percent;
      }
    }
    if (n < sizeof chunk) break;
  }
  if (progress) std::fprintf(stderr, "\n");
  const bool failed = std::ferror(f) != 0;
  if (f != stdin) std::fclose(f);
  if (failed) std::fprintf(stderr, "huxdump: error reading %s\n", path.c_str());
  return !failed;
}

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

void PrintObjectText(const std::vector<unsigned char>& data, const Object& o, int depth) {
  const std::string indent(static_cast<size_t>(depth) * 4, ' ');
  std::printf("%sobject @%llu  version %u  %u block%s\n", indent.c_str(), static_cast<unsigned long long>(o.offset),
              o.version, o.blockCount, o.blockCount == 1 ? "" : "s");
  for (const Block& b : o.blocks) {
    std::printf("%s  block %u @%llu  size %u", indent.c_str(), b.id, static_cast<unsigned long long>(b.offset), b.size);
    if (!b.objects.empty()) {
      std::printf("  (%zu nested object%s)\n", b.objects.size(), b.objects.size() == 1 ? "" : "s");
      for (const Object& child : b.objects) PrintObjectText(data, child, depth + 1);
    } else {
      std::printf("  [%s]\n", Preview(data, b.dataOffset, b.size).c_str());
    }
  }
}

void PrintObjectJson(const std::vector<unsigned char>& data, const Object& o, int depth);

void PrintBlocksJson(const std::vector<unsigned char>& data, const Object& o, int depth) {
  const std::string in(static_cast<size_t>(depth) * 2, ' ');
  for (size_t i = 0; i < o.blocks.size(); ++i) {
    const Block& b = o.blocks[i];
    std::printf("%s{\"offset\": %llu, \"id\": %u, \"size\": %u, \"dataOffset\": %llu, \"preview\": \"%s\"", in.c_str(),
                static_cast<unsigned long long>(b.offset), b.id, b.size, static_cast<unsigned long long>(b.dataOffset),
                Hex(data.data() + b.dataOffset, b.size < kPreviewBytes ? b.size : kPreviewBytes).c_str());
    if (!b.objects.empty()) {
      std::printf(", \"objects\": [\n");
      for (size_t k = 0; k < b.objects.size(); ++k) {
        PrintObjectJson(data, b.objects[k], depth + 1);
        std::printf(k + 1 < b.objects.size() ? ",\n" : "\n");
      }
      std::printf("%s]", in.c_str());
    }
    std::printf(i + 1 < o.blocks.size() ? "},\n" : "}\n");
  }
}

void PrintObjectJson(const std::vector<unsigned char>& data, const Object& o, int depth) {
  const std::string in(static_cast<size_t>(depth) * 2, ' ');
  std::printf("%s{\"offset\": %llu, \"version\": %u, \"blockCount\": %u, \"blocks\": [\n", in.c_str(),
              static_cast<unsigned long long>(o.offset), o.version, o.blockCount);
  PrintBlocksJson(data, o, depth + 1);
  std::printf("%s]}", in.c_str());
}

int Run(const Options& opt) {
  std::vector<unsigned char> data;
  if (!ReadInput(opt.path, data)) return 2;
  const Tree tree = ParseTree(data.data(), data.size());

  if (opt.check) {
    if (tree.fault.found) {
      std::fprintf(stderr, "huxdump: %s: offset %llu: %s\n", opt.path.c_str(),
                   static_cast<unsigned long long>(tree.fault.offset), tree.fault.message.c_str());
      return 1;
    }
    if (data.empty()) {
      std::fprintf(stderr, "huxdump: %s: offset 0: the file is empty\n", opt.path.c_str());
      return 1;
    }
    std::printf("%s: ok, %zu object%s in %zu bytes\n", opt.path.c_str(), tree.objects.size(),
                tree.objects.size() == 1 ? "" : "s", data.size());
    return 0;
  }

  if (!opt.as.empty()) {
    std::string error;
    const bool ok = Decode(opt.as, data, opt.json, error);
    if (!ok) std::fprintf(stderr, "huxdump: %s: %s\n", opt.path.c_str(), error.c_str());
    return ok ? 0 : 1;
  }

  if (opt.json) {
    std::printf("{\"file\": %s, \"size\": %zu, \"objects\": [\n", JsonString(opt.path).c_str(), data.size());
    for (size_t i = 0; i < tree.objects.size(); ++i) {
      PrintObjectJson(data, tree.objects[i], 1);
      std::printf(i + 1 < tree.objects.size() ? ",\n" : "\n");
    }
    std::printf("]");
    if (tree.fault.found)
      std::printf(", \"fault\": {\"offset\": %llu, \"message\": %s}", static_cast<unsigned long long>(tree.fault.offset),
                  JsonString(tree.fault.message).c_str());
    std::printf("}\n");
    return 0;
  }

  std::printf("%s: %zu bytes\n", opt.path.c_str(), data.size());
  for (const Object& o : tree.objects) PrintObjectText(data, o, 0);
  if (tree.fault.found) {
    const uint64_t rest = data.size() - tree.parsedEnd;
    std::printf("not framed from offset %llu: %s\n  %llu byte%s: [%s]\n", static_cast<unsigned long long>(tree.parsedEnd),
                tree.fault.message.c_str(), static_cast<unsigned long long>(rest), rest == 1 ? "" : "s",
                Preview(data, tree.parsedEnd, rest).c_str());
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
      huxdump::Usage(nullptr);
      return 0;
    } else if (!arg.empty() && arg[0] == '-' && arg != "-") {
      return huxdump::Usage(("unknown option " + arg).c_str());
    } else if (havePath) {
      return huxdump::Usage("one file at a time");
    } else {
      opt.path = arg;
      havePath = true;
    }
  }
  return huxdump::Run(opt);
}
