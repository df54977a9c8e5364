#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <sys/stat.h>

#include "diag/diag_test_util.h"

namespace hux {
namespace {

namespace fs = std::filesystem;

struct ProbeRun {
  int status = -1;
  std::string out, err, file;
};

ProbeRun RunProbe(const fs::path& dir, const std::string& scenario) {
  fs::create_directories(dir);
  fs::copy_file(HUX_QPROFILE_PROBE, dir / "qprofile_probe", fs::copy_options::overwrite_existing);
  ProbeRun run;
  run.status = std::system(("cd '" + dir.string() + "' && ./qprofile_probe " + scenario + " >out.txt 2>err.txt").c_str());
  run.out = test::ReadFile(dir / "out.txt");
  run.err = test::ReadFile(dir / "err.txt");
  if (fs::is_regular_file(dir / "QProfile.txt")) run.file = test::ReadFile(dir / "QProfile.txt");
  return run;
}

std::string Lit(const std::string& text) { return std::regex_replace(text, std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)"); }
std::string Dashes(size_t n) { return std::string(n, '-'); }

TEST(QProfileSummary, ReportLinesAndMemoryTable) {
  test::ScratchDir dir;
  const ProbeRun run = RunProbe(dir.Path(), "report");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "add=1\ndiff=5.50 missing=0.00\n");
  const std::string two = R"(\|[ 0-9.]{6}\|[ 0-9.]{6})", one = R"(\|[ 0-9.]{6}\|      )";
  const std::vector<std::string> lines = {
      "",
      Lit("----------------- Profiling  results -----------------"),
      R"(Date: \d\d\.\d\d\.\d{4}, Time: \d\d:\d\d\.\d\d)",
      Dashes(54),
      Lit("|-Child|Total |  Hits  |Time/call |   MIN   |   MAX   | Function    "),
      Dashes(54),
      Lit("|100.00|      |       1|") + R"( *[0-9]+\.[0-9]{5})" + Lit("|    0.000|    0.000|Total time" + Dashes(40)),
      two + Lit("|       1|     0.40000|    0.400|    0.400|Load" + Dashes(46)),
      one + Lit("|       1|     0.10000|    0.100|    0.100|Parse" + Dashes(45) + "|25.0% of Load"),
      one + Lit("|       2|     0.03500|    0.020|    0.050|Shared" + Dashes(44)),
      two + Lit("|       1|     0.20000|    0.200|    0.200|Draw" + Dashes(46)),
      one + Lit("|       3|     0.10000|    0.100|    0.300|Rec" + Dashes(47) + "|100.0% of Rec"),
      one + Lit("|       2|     0.04500|    0.000|    0.000|Manual" + Dashes(44)),
      one + Lit("|       1|     0.00000|    0.000|    0.000|A profile name that is longer than fifty characters in all"),
      one + Lit("|       1|     0.01000|    0.010|    0.010|Temporary" + Dashes(41)),
      Lit("----------------- memory  status -----------------"),
      Lit("|used/M|Inc/M | time Tag ---------------------------------"),
      Lit("| 10.00| 10.00| start"),
      Lit("| 15.50|  5.50| after"),
      Dashes(54),
  };
  std::string pattern;
  for (const std::string& line : lines) pattern += line + "\r\n";
  EXPECT_TRUE(std::regex_match(run.file, std::regex(pattern))) << run.file;
  EXPECT_EQ(run.out, run.file + "\r\n");  // the same text and one more line end
}

TEST(QProfileSummary, SmallReportFilesAreContinuedLargeOnesRestarted) {
  test::ScratchDir dir;
  const struct {
    std::string old;
    bool kept;
  } cases[] = {{"old\n", true}, {std::string(102399, 'x'), true}, {std::string(102400, 'x'), false}};
  for (const auto& c : cases) {
    test::WriteFile(dir.Path() / "QProfile.txt", c.old);
    const ProbeRun run = RunProbe(dir.Path(), "explicit");
    const std::string& file = run.file;
    // Printed once although asked twice; a starter on another thread has its own chain.
    EXPECT_EQ(run.err, "hits=2 total=1000 inner parent=none\n");
    EXPECT_EQ(run.out.find("Profiling  results"), run.out.rfind("Profiling  results"));
    EXPECT_EQ(file.rfind((c.kept ? c.old : "") + "\r\n-----------------", 0), 0u) << c.old.size();
    EXPECT_EQ(file.find(c.old.substr(0, 3)) != std::string::npos, c.kept) << c.old.size();
  }
}

TEST(QProfileSummary, ExportsAddUpToTheReportedTimes) {
  test::ScratchDir dir;
  const ProbeRun run = RunProbe(dir.Path(), "export");
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string collapsed = test::ReadFile(dir.Path() / "calltree.collapsed");
  std::vector<std::pair<std::vector<std::string>, long long>> stacks;
  std::istringstream in(collapsed);
  for (std::string line; std::getline(in, line);) {
    std::vector<std::string> path;
    std::istringstream names(line.substr(0, line.rfind(' ')));
    for (std::string name; std::getline(names, name, ';');) path.push_back(name);
    stacks.emplace_back(path, std::stoll(line.substr(line.rfind(' ') + 1)));
  }
  // Split by hand: a regex would overflow its stack on the long name.
  std::istringstream report(run.out);
  int profiles = 0;
  for (std::string text; std::getline(report, text);) {
    std::vector<std::string> cells;
    std::istringstream row(text.substr(0, text.find('\r')));
    for (std::string cell; std::getline(row, cell, '|');) cells.push_back(cell);
    if (cells.size() < 8 || cells[3].find_first_not_of(" 0123456789") != std::string::npos) continue;
    const std::string name = cells[7].substr(0, cells[7].find_last_not_of('-') + 1);
    if (name.find_first_not_of(" abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ") != std::string::npos) continue;
    long long through = 0;
    for (const auto& [path, weight] : stacks)
      if (std::find(path.begin(), path.end(), name) != path.end()) through += weight;
    const double hits = std::stod(cells[3]);
    EXPECT_NEAR(through, hits * std::stod(cells[4]) * 1e6, 10 * hits) << name;
    ++profiles;
  }
  EXPECT_EQ(profiles, 7);  // all but the one whose name breaks the line
  EXPECT_NE(collapsed.find("\nDraw;(callees with several callers) 20000\n"), std::string::npos);
}

TEST(QProfileSummary, ReportFileIsNeverReachedThroughALinkOrAnotherKindOfFile) {
  test::ScratchDir dir;
  const fs::path report = dir.Path() / "QProfile.txt", victim = dir.Path() / "victim";
  const struct {
    char kind;
    std::string victimBytes;
  } cases[] = {{'s', "old"}, {'s', std::string(102400, 'v')}, {'s', ""}, {'h', "old"}, {'p', ""}};
  for (const auto& c : cases) {
    fs::remove(report);
    fs::remove(victim);
    if (!c.victimBytes.empty()) test::WriteFile(victim, c.victimBytes);
    if (c.kind == 's') fs::create_symlink(victim, report);
    if (c.kind == 'h') fs::create_hard_link(victim, report);
    if (c.kind == 'p') ::mkfifo(report.c_str(), 0600);
    EXPECT_NE(RunProbe(dir.Path(), "explicit").out.find("Profiling  results"), std::string::npos) << c.kind;
    EXPECT_EQ(test::ReadFile(victim), c.victimBytes) << c.kind;
    EXPECT_EQ(fs::exists(victim), !c.victimBytes.empty()) << c.kind;
  }
  fs::remove(report);
  RunProbe(dir.Path(), "explicit");
  EXPECT_EQ(fs::status(report).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
}

}  // namespace
}  // namespace hux
