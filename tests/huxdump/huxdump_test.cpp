// huxdump against good and damaged archives: the tree it prints, the
// offsets --check names, the values it decodes and how it escapes them.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include <hux/io/archive.h>
#include <hux/value/variant.h>

#include "scratch_dir.h"
#include "test_util.h"

namespace {

using Bytes = std::vector<unsigned char>;
using hux::test::Hex;

struct Result {
  int exitCode = -1;
  std::string out;  // standard output and error
  long peakKb = 0;
};

// Runs huxdump with `args` (split at spaces) on `file` saved as `name`.
Result RunHuxdump(const std::string& args, const Bytes& file, const std::string& name = "in.hux") {
  hux::test::ScratchDir dir;
  std::ofstream(name, std::ios::binary).write(reinterpret_cast<const char*>(file.data()), file.size());
  std::vector<std::string> words = {HUXDUMP_PATH};
  std::istringstream split(args);
  for (std::string word; split >> word;) words.push_back(word);
  words.push_back(name);
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "out.txt", O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  Result r;
  pid_t pid = 0;
  int status = 0;
  struct rusage usage = {};
  if (posix_spawn(&pid, HUXDUMP_PATH, &actions, nullptr, argv.data(), environ) == 0 &&
      ::wait4(pid, &status, 0, &usage) == pid)
    r = {WIFEXITED(status) ? WEXITSTATUS(status) : -1, "", usage.ru_maxrss};
  posix_spawn_file_actions_destroy(&actions);
  std::stringstream in;
  in << std::ifstream("out.txt", std::ios::binary).rdbuf();
  r.out = in.str();
  return r;
}

// Version 3, block 1 holding 7 and L"ab", block 2 a nested empty object.
const Bytes kGood = Hex("03 00 02 01 0C 00 00 00 07 00 00 00 02 00 00 00 61 00 62 00 02 03 00 00 00 01 00 00");

// The variants serialized one after the other.
Bytes Variants(std::vector<hux::CVariant> values) {
  hux::GMemStream mem(true, nullptr, 0);
  {
    hux::GDbArchiveImpl ar(&mem);
    for (hux::CVariant& v : values) v.Serialize(ar);
  }
  return hux::test::Bytes(mem);
}

TEST(Huxdump, PrintsTheTreeWithNesting) {
  const std::pair<const char*, const char*> cases[] = {
      {"",
       "in.hux: 28 bytes\n"
       "object @0  version 3  2 blocks\n"
       "  block 1 @3  size 12  [07 00 00 00 02 00 00 00 61 00 62 00]\n"
       "  block 2 @20  size 3  (1 nested object)\n"
       "    object @25  version 1  0 blocks\n"},
      {"--json",
       "{\"file\": \"in.hux\", \"size\": 28, \"objects\": [\n"
       "  {\"offset\": 0, \"version\": 3, \"blockCount\": 2, \"blocks\": [\n"
       "    {\"offset\": 3, \"id\": 1, \"size\": 12, \"dataOffset\": 8, \"preview\": \"07 00 00 00 02 00 00 00 61 00 62 00\"},\n"
       "    {\"offset\": 20, \"id\": 2, \"size\": 3, \"dataOffset\": 25, \"preview\": \"01 00 00\", \"objects\": [\n"
       "      {\"offset\": 25, \"version\": 1, \"blockCount\": 0, \"blocks\": [\n"
       "      ]}\n"
       "    ]}\n"
       "  ]}\n"
       "]}\n"},
  };
  for (const auto& [args, expected] : cases) {
    const Result r = RunHuxdump(args, kGood);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, expected);
  }
}

TEST(Huxdump, CheckNamesTheOffsetOfTheFirstFault) {
  const Bytes good = kGood;
  const std::pair<Bytes, std::string> cases[] = {
      {{}, "offset 0: the file is empty"},
      {{0x01, 0x00}, "offset 0: object header needs 3 bytes, 2 left in the file"},
      {Bytes(good.begin(), good.begin() + 10), "offset 3: block 1 of size 12 runs past the end of the file (2 bytes left)"},
      {Hex("01 00 01 05 FF FF FF FF 00"),
       "offset 3: block 5 of size 4294967295 runs past the end of the file (1 bytes left)"},
      {Hex("01 00 FF 01 01 00 00 00 AA"),
       "offset 9: object at offset 0 claims 255 blocks, only 1 present before the end of the file"},
      {Hex("01 00 00 7F"), "offset 3: object header needs 3 bytes, 1 left in the file (after 1 whole object)"},
  };
  for (const auto& [bytes, expected] : cases) {
    const Result r = RunHuxdump("--check", bytes);
    EXPECT_EQ(r.exitCode, 1) << r.out;
    EXPECT_NE(r.out.find(expected + "\n"), std::string::npos) << r.out;
  }
  EXPECT_EQ(RunHuxdump("--check", good).exitCode, 0);
  // every truncation, and 1000 objects nested deeper than the tree follows, print
  for (size_t len = 0; len < good.size(); ++len)
    EXPECT_EQ(RunHuxdump("", Bytes(good.begin(), good.begin() + static_cast<long>(len))).exitCode, 0) << len;
  Bytes deep = {0x01, 0x00, 0x00};
  for (int i = 0; i < 1000; ++i) {
    const auto size = static_cast<unsigned char>(deep.size()), high = static_cast<unsigned char>(deep.size() >> 8);
    deep.insert(deep.begin(), {0x01, 0x00, 0x01, 0x01, size, high, 0x00, 0x00});
  }
  EXPECT_EQ(RunHuxdump("--check", deep).exitCode, 0);
  EXPECT_EQ(RunHuxdump("", deep).exitCode, 0);
}

TEST(Huxdump, CheckMemoryDoesNotGrowWithTheFile) {
  const Bytes object = Hex("01 00 01 07 02 00 00 00 61 62");
  Bytes big;
  for (int i = 0; i < 1600000; ++i) big.insert(big.end(), object.begin(), object.end());
  const Result r = RunHuxdump("--check", big);
  EXPECT_NE(r.out.find("ok, 1600000 objects in 16000000 bytes"), std::string::npos) << r.out;
  EXPECT_LT(r.peakKb - RunHuxdump("--check", object).peakKb, 4096);  // holding 16 MB of objects takes far more
}

TEST(Huxdump, DecodesValuesAsTheLibraryReadsThem) {
  const Bytes values = Variants({hux::CVariant(true), hux::CVariant(std::string("ab")), hux::CVariant(2.5),
                                 hux::CVariant(std::wstring(L"\u4e2d"))});
  // two collections of class 0x7101, the first with the product table and scheme (name "W\n", id 1025)
  const Bytes collections = Hex(
      "01 01  01 00 00 00  03 00 00 00 48 00 55 00 58 00  01  01 71 00 00"
      "01 00 00 00  03 00 00 00 48 00 55 00 58 00  01 00 00 00  01 04  02 00 00 00 57 00 0A 00"
      "01 00 00 00  01 04  01 00 00 00 07 00 00 00"
      "00  01 00 00 00  01 04  01 00 00 00 09 00 00 00");
  const std::string counter = "01 00 01 01 08 00 00 00 2A 00 00 00 00 00 00 00";
  const struct {
    const char* args;
    Bytes bytes;
    int exitCode;
    std::string expected;  // a part of the output
  } cases[] = {
      {"--as variant", values, 0,
       "variant 0 @0  DT_BOOL (15)  1\nvariant 1 @5  DT_STRING (1001)  ab\nvariant 2 @18  DT_DOUBLE (2)  2.5\n"
       "variant 3 @30  DT_WSTRING (1002)  \xE4\xB8\xAD\n"},
      {"--as variant --json", Hex("61 1E 00 00 01 00 00 01 00 00"), 0,
       "\"code\": 7777, \"type\": \"custom 7777\", \"value\": \"(kept content"},
      {"--as variant", Hex("E9 03 00 00 01 00 01 02"), 1, ""},  // cut short
      {"--as project", Hex(counter), 0, "project @0  counter 42  (16 bytes)\n"},
      {"--as project --json", Hex(counter + " FF"), 0, "\"reports\": [], \"trailing\": 1, \"kept\": 0}\n"},
      // a newer version of the object, and an unknown block: kept
      {"--as project --json", Hex("02 00 01 05 02 00 00 00 AB CD"), 0, "\"kept\": 10}"},
      {"--as project", Hex("01 00 01 05 02 00 00 00 AB CD"), 0, "  kept: 7 bytes of newer content"},
      {"--as project --json", Hex("01 00 01 01 04 00 00 00 09 00 00 00"), 0,
       "\"counter\": 1, \"bytes\": 12, \"reports\": [\"load data: read block error"},
      {"--as properties", collections, 0,
       "collection 0 @0  class 28929\n  HUX:W\\n (id 1025)  1  7\n"
       "collection 1 @63  class 28929\n  HUX:W\\n (id 1025)  1  9\n"
       "product table: HUX=1\nscheme of class 28929, product HUX: 1025=W\\n\n"},
      // a product table claiming 2^31 entries over nothing
      {"--as properties", Hex("01 01 FF FF FF 7F"), 0, "collection 0 @0"},
  };
  for (const auto& c : cases) {
    const Result r = RunHuxdump(c.args, c.bytes);
    EXPECT_EQ(r.exitCode, c.exitCode) << c.args << ": " << r.out;
    EXPECT_NE(r.out.find(c.expected), std::string::npos) << c.args << ": " << r.out;
    if (c.args == std::string("--as project --json")) {
      EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1);
    }
  }
}

TEST(Huxdump, EscapesWhatWouldActOnTheTerminal) {
  struct Case {
    std::wstring value;
    std::string text;  // as the text form prints it
    std::string json;  // inside the JSON string
  };
  const Case cases[] = {
      {L"a\nb", "a\\nb", "a\\u000ab"},
      {L"\t\r\\\"", "\\t\\r\\\\\"", "\\u0009\\u000d\\\\\\\""},
      {L"\x1b[2J\x7f\x01", "\\x1B[2J\\x7F\\x01", "\\u001b[2J\\u007f\\u0001"},
      {L"\x9b\x85\x9f\xa0", "\\u{009B}\\u{0085}\\u{009F}\xC2\xA0", "\\u009b\\u0085\\u009f\xC2\xA0"},
      {L"\u202e\u2028\u2066\u200f\u061c\u2070", "\\u{202E}\\u{2028}\\u{2066}\\u{200F}\\u{061C}\xE2\x81\xB0",
       "\\u202e\\u2028\\u2066\\u200f\\u061c\xE2\x81\xB0"},
      {L"\u4e2d\U0001F600", "\xE4\xB8\xAD\xF0\x9F\x98\x80", "\xE4\xB8\xAD\xF0\x9F\x98\x80"},
  };
  std::vector<hux::CVariant> values;
  for (const Case& c : cases) values.emplace_back(c.value);
  const Result text = RunHuxdump("--as variant", Variants(values));
  const Result json = RunHuxdump("--as variant --json", Variants(values));
  for (const Case& c : cases) {
    EXPECT_NE(text.out.find("(1002)  " + c.text + "\n"), std::string::npos) << c.text << "\n" << text.out;
    EXPECT_NE(json.out.find("\"value\": \"" + c.json + "\"}"), std::string::npos) << c.json << "\n" << json.out;
  }
  EXPECT_EQ(std::count(text.out.begin(), text.out.end(), '\n'), std::size(cases)) << text.out;
  // a path that is not UTF-8 and holds controls
  const std::string path = "in\xFF\xC0\xAF\x1B\n.hux";
  EXPECT_NE(RunHuxdump("--check", kGood, path).out.find("in\\xFF\\xC0\\xAF\\x1B\\n.hux: ok"), std::string::npos);
  EXPECT_NE(RunHuxdump("--json", kGood, path).out.find("{\"file\": \"in\\ufffd\\ufffd\\ufffd\\u001b\\u000a.hux\""),
            std::string::npos);
}

}  // namespace
