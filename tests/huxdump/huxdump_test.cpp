// huxdump against good and damaged archives: the tree it prints and the
// offsets --check names.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include <hux/io/archive.h>
#include <hux/io/memstream.h>
#include <hux/value/variant.h>

#include "scratch_dir.h"
#include "test_util.h"

namespace {

struct Result {
  int exitCode = -1;
  std::string out;  // standard output and standard error together
  long peakKb = 0;  // the child's peak resident memory
};

// Runs huxdump with `args` (split at spaces) on `file`, saved as `name` in a
// scratch directory.
Result RunHuxdump(const std::string& args, const std::vector<unsigned char>& file, const std::string& name = "in.hux") {
  hux::test::ScratchDir dir;
  std::ofstream(name, std::ios::binary)
      .write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
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
      ::wait4(pid, &status, 0, &usage) == pid) {
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.peakKb = usage.ru_maxrss;
  }
  posix_spawn_file_actions_destroy(&actions);
  std::ifstream in("out.txt", std::ios::binary);
  r.out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return r;
}

// Version 3, block 1 holding 7 and L"ab", then block 2 holding a nested
// empty object: 28 bytes.
std::vector<unsigned char> GoodArchive() {
  hux::GMemStream mem(true, nullptr, 0);
  hux::GDbArchiveImpl ar(&mem);
  int key = 0;
  ar.BeginWriteObject(&key, 3);
  ar.BeginWriteBlock(1, &key);
  ar << 7 << std::wstring(L"ab");
  ar.EndWriteBlock(1, &key);
  ar.BeginWriteBlock(2, &key);
  ar.WriteEmptyObject();
  ar.EndWriteBlock(2, &key);
  ar.EndWriteObject(&key);
  return hux::test::Bytes(mem);
}

TEST(Huxdump, PrintsTheTreeWithNesting) {
  const struct {
    const char* args;
    const char* expected;
  } cases[] = {
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
  for (const auto& c : cases) {
    const Result r = RunHuxdump(c.args, GoodArchive());
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, c.expected);
  }
}

TEST(Huxdump, CheckNamesTheOffsetOfTheFirstFault) {
  const std::vector<unsigned char> good = GoodArchive();
  struct Case {
    const char* name;
    std::vector<unsigned char> bytes;
    std::string expected;  // the message, offset included
  };
  // Whole messages, to the end of the line.
  std::vector<Case> cases = {
      {"empty file", {}, "offset 0: the file is empty"},
      {"truncated header", {0x01, 0x00}, "offset 0: object header needs 3 bytes, 2 left in the file"},
      {"truncated in block 1", std::vector<unsigned char>(good.begin(), good.begin() + 10),
       "offset 3: block 1 of size 12 runs past the end of the file (2 bytes left)"},
      {"block size 0xFFFFFFFF", hux::test::Hex("01 00 01 05 FF FF FF FF 00"),
       "offset 3: block 5 of size 4294967295 runs past the end of the file (1 bytes left)"},
      {"255 blocks claimed, one present", hux::test::Hex("01 00 FF 01 01 00 00 00 AA"),
       "offset 9: object at offset 0 claims 255 blocks, only 1 present before the end of the file"},
      {"left-over byte after an object", hux::test::Hex("01 00 00 7F"),
       "offset 3: object header needs 3 bytes, 1 left in the file (after 1 whole object)"},
      {"block cut after two objects", hux::test::Hex("01 00 00  01 00 00  01 00 01 09 05 00 00 00 AA"),
       "offset 9: block 9 of size 5 runs past the end of the file (1 bytes left) (after 2 whole objects)"},
  };
  for (const Case& c : cases) {
    const Result r = RunHuxdump("--check", c.bytes);
    EXPECT_EQ(r.exitCode, 1) << c.name << ": " << r.out;
    EXPECT_NE(r.out.find(c.expected + "\n"), std::string::npos) << c.name << ": " << r.out;
    // The tree names the same fault, found in the whole file rather than as it streams past.
    if (c.bytes.empty()) continue;
    const Result tree = RunHuxdump("", c.bytes);
    EXPECT_NE(tree.out.find(c.expected.substr(c.expected.find(": ") + 2) + "\n"), std::string::npos) << tree.out;
  }
  const Result ok = RunHuxdump("--check", good);
  EXPECT_EQ(ok.exitCode, 0) << ok.out;
}

TEST(Huxdump, CheckMemoryDoesNotGrowWithTheFile) {
  // 16 MB of small objects (one 2-byte block each): collecting them, or even
  // holding the file, would take far more than the slack allowed here.
  const std::vector<unsigned char> object = hux::test::Hex("01 00 01 07 02 00 00 00 61 62");
  std::vector<unsigned char> big;
  for (int i = 0; i < 1600000; ++i) big.insert(big.end(), object.begin(), object.end());
  const Result small = RunHuxdump("--check", object);
  const Result r = RunHuxdump("--check", big);
  EXPECT_NE(r.out.find("ok, 1600000 objects in 16000000 bytes"), std::string::npos) << r.out;
  EXPECT_LT(r.peakKb - small.peakKb, 4096) << "peak " << r.peakKb << " KB, " << small.peakKb << " KB for one object";
}

TEST(Huxdump, DecodesVariantsAsTheLibraryReadsThem) {
  hux::GMemStream mem(true, nullptr, 0);
  {
    hux::GDbArchiveImpl ar(&mem);
    hux::CVariant values[] = {hux::CVariant(true), hux::CVariant(std::string("ab")), hux::CVariant(2.5),
                              hux::CVariant(std::wstring(L"\u4e2d"))};
    for (hux::CVariant& v : values) v.Serialize(ar);
  }
  const Result text = RunHuxdump("--as variant", hux::test::Bytes(mem));
  EXPECT_EQ(text.exitCode, 0) << text.out;
  EXPECT_NE(text.out.find("variant 0 @0  DT_BOOL (15)  1"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("variant 1 @5  DT_STRING (1001)  ab"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("DT_DOUBLE (2)  2.5"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("DT_WSTRING (1002)  \xE4\xB8\xAD"), std::string::npos) << text.out;
  const Result json = RunHuxdump("--as variant --json", hux::test::Bytes(mem));
  EXPECT_NE(json.out.find("{\"index\": 1, \"offset\": 5, \"code\": 1001, \"type\": \"DT_STRING\", \"value\": \"ab\"}"),
            std::string::npos)
      << json.out;
  const Result kept = RunHuxdump("--as variant --json", hux::test::Hex("61 1E 00 00 01 00 00 01 00 00"));
  EXPECT_NE(kept.out.find("\"code\": 7777, \"type\": \"custom 7777\", \"value\": \"(kept content"), std::string::npos)
      << kept.out;
  const Result cut = RunHuxdump("--as variant", hux::test::Hex("E9 03 00 00 01 00 01 02"));
  EXPECT_EQ(cut.exitCode, 1) << cut.out;
  EXPECT_EQ(RunHuxdump("--as nothing", {}).exitCode, 2);
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
  hux::GMemStream mem(true, nullptr, 0);
  {
    hux::GDbArchiveImpl ar(&mem);
    for (const Case& c : cases) hux::CVariant(c.value).Serialize(ar);
  }
  const Result text = RunHuxdump("--as variant", hux::test::Bytes(mem));
  const Result json = RunHuxdump("--as variant --json", hux::test::Bytes(mem));
  for (const Case& c : cases) {
    EXPECT_NE(text.out.find("(1002)  " + c.text + "\n"), std::string::npos) << c.text << "\n" << text.out;
    EXPECT_NE(json.out.find("\"value\": \"" + c.json + "\"}"), std::string::npos) << c.json << "\n" << json.out;
  }
  EXPECT_EQ(std::count(text.out.begin(), text.out.end(), '\n'), std::size(cases)) << text.out;
  // A path that is not UTF-8 and holds controls: escaped in the text, valid
  // UTF-8 in the JSON.
  const std::string path = "in\xFF\xC0\xAF\x1B\n.hux";
  EXPECT_NE(RunHuxdump("--check", GoodArchive(), path).out.find("in\\xFF\\xC0\\xAF\\x1B\\n.hux: ok"), std::string::npos);
  EXPECT_NE(RunHuxdump("--json", GoodArchive(), path).out.find("{\"file\": \"in\\ufffd\\ufffd\\ufffd\\u001b\\u000a.hux\""),
            std::string::npos);
}

TEST(Huxdump, DecodesTheProjectCounterAndItsReports) {
  const Result good = RunHuxdump("--as project", hux::test::Hex("01 00 01 01 08 00 00 00 2A 00 00 00 00 00 00 00"));
  EXPECT_EQ(good.exitCode, 0) << good.out;
  EXPECT_NE(good.out.find("project @0  counter 42  (16 bytes)"), std::string::npos) << good.out;
  // Bytes after the object are a field of the JSON record, not a line of text.
  const Result extra = RunHuxdump("--as project --json", hux::test::Hex("01 00 01 01 08 00 00 00 2A 00 00 00 00 00 00 00 FF"));
  EXPECT_NE(extra.out.find("\"reports\": [], \"trailing\": 1, \"kept\": 0}\n"), std::string::npos) << extra.out;
  EXPECT_EQ(std::count(extra.out.begin(), extra.out.end(), '\n'), 1) << extra.out;
  // A newer version of the object, and an unknown block: kept, and marked.
  const auto newer = hux::test::Hex("02 00 01 05 02 00 00 00 AB CD");
  EXPECT_NE(RunHuxdump("--as project --json", newer).out.find("\"kept\": 10}"), std::string::npos);
  const auto unknown = hux::test::Hex("01 00 01 05 02 00 00 00 AB CD");
  EXPECT_NE(RunHuxdump("--as project", unknown).out.find("  kept: 7 bytes of newer content"), std::string::npos);
  const Result shortBlock = RunHuxdump("--as project --json", hux::test::Hex("01 00 01 01 04 00 00 00 09 00 00 00"));
  EXPECT_NE(shortBlock.out.find("\"counter\": 1, \"bytes\": 12, \"reports\": [\"load data: read block error"),
            std::string::npos)
      << shortBlock.out;
}

TEST(Huxdump, DecodesPropertyCollectionsWithTheirScheme) {
  // Two collections of class 0x7101: the first carries the product table and
  // the scheme (one name "W\n" under HUX, id 1025), the second only its values.
  // The newline in the name is printed escaped, so it forges no line.
  const auto bytes = hux::test::Hex(
      "01 01  01 00 00 00  03 00 00 00 48 00 55 00 58 00  01  01 71 00 00"
      "01 00 00 00  03 00 00 00 48 00 55 00 58 00  01 00 00 00  01 04  02 00 00 00 57 00 0A 00"
      "01 00 00 00  01 04  01 00 00 00 07 00 00 00"
      "00  01 00 00 00  01 04  01 00 00 00 09 00 00 00");
  const Result r = RunHuxdump("--as properties", bytes);
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_NE(r.out.find("collection 0 @0  class 28929\n  HUX:W\\n (id 1025)  1  7"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("collection 1 @63  class 28929\n  HUX:W\\n (id 1025)  1  9"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("scheme of class 28929, product HUX: 1025=W\\n\n"), std::string::npos) << r.out;
  // A product table claiming 2^31 entries over nothing: read as far as the
  // input delivers, no crash, no hang.
  const Result hostile = RunHuxdump("--as properties", hux::test::Hex("01 01 FF FF FF 7F"));
  EXPECT_NE(hostile.out.find("collection 0 @0"), std::string::npos) << hostile.out;
}

TEST(Huxdump, DamagedFilesNeverCrashIt) {
  // Every truncation of a good archive, and deep nesting.
  const std::vector<unsigned char> good = GoodArchive();
  for (size_t len = 0; len < good.size(); ++len) {
    const Result r = RunHuxdump("", std::vector<unsigned char>(good.begin(), good.begin() + static_cast<long>(len)));
    EXPECT_EQ(r.exitCode, 0) << len << ": " << r.out;
  }
  // 1000 objects, each the only block of the one around it: deeper than the
  // inspector follows.
  std::vector<unsigned char> deep = {0x01, 0x00, 0x00};
  for (int i = 0; i < 1000; ++i) {
    const unsigned int size = static_cast<unsigned int>(deep.size());
    std::vector<unsigned char> outer = {0x01, 0x00, 0x01, 0x01};
    for (int b = 0; b < 4; ++b) outer.push_back(static_cast<unsigned char>(size >> (8 * b)));
    outer.insert(outer.end(), deep.begin(), deep.end());
    deep.swap(outer);
  }
  const Result r = RunHuxdump("--check", deep);
  EXPECT_EQ(r.exitCode, 0) << "the outer framing is sound: " << r.out;
  EXPECT_EQ(RunHuxdump("", deep).exitCode, 0);
}

}  // namespace
