// The project's archive form, its reading rules and reports, and the call
// order of SaveProject.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <hux/io/archive.h>
#include <hux/io/memstream.h>
#include <hux/object/dbdevice.h>
#include <hux/object/project.h>

#include "object_test_util.h"
#include "test_util.h"

namespace hux {
namespace {

using test::Bytes;
using test::CallLog;
using test::Hex;
using test::RecordingDevice;
using test::RecordingFacade;
using test::ScopedFacade;

// An archive that records its reports and can be made to fail on the
// counter's 64-bit write or read.
class ProbeArchive : public GDbArchiveImpl {
 public:
  using GDbArchiveImpl::GDbArchiveImpl;
  using GDbArchiveImpl::operator<<;
  using GDbArchiveImpl::operator>>;

  GDbArchive& operator<<(__int64 value) override {
    if (failInt64) throw std::runtime_error("write failed");
    return GDbArchiveImpl::operator<<(value);
  }
  GDbArchive& operator>>(__int64& value) override {
    if (failInt64) throw std::bad_alloc();
    return GDbArchiveImpl::operator>>(value);
  }
  void ErrorMsgBox(std::string caption, std::string text) override { reports.push_back(caption + "|" + text); }

  bool failInt64 = false;
  std::vector<std::string> reports;
};

// Reads `hex` into a project whose counter stands at 40; returns the counter
// and the int that follows the object (0 when none).
struct ReadResult {
  __int64 counter;
  int next;
  unsigned short version;
  std::vector<std::string> reports;
};

ReadResult ReadProject(const std::string& hex) {
  IBaseProject project;
  while (project.GetLastUniqueID() < 40) project.GetUniqueID();
  GMemStream mem;
  test::Load(mem, Hex(hex));
  ProbeArchive ar(&mem);
  EXPECT_TRUE(project.Serialize(ar));
  int next = 0;
  ar >> next;
  return {project.GetLastUniqueID(), next, ar.GetVersion(), ar.reports};
}

std::vector<unsigned char> Store(IBaseProject& project) {
  GMemStream mem(true, nullptr, 0);
  GDbArchiveImpl ar(&mem);
  EXPECT_TRUE(project.Serialize(ar));
  return Bytes(mem);
}

TEST(ProjectArchive, NewProjectIsSixteenBytes) {
  IBaseProject project;
  EXPECT_EQ(Store(project), Hex("01 00 01 01 08 00 00 00 01 00 00 00 00 00 00 00"));
  EXPECT_EQ(project.GetUniqueID(), 2);
  EXPECT_EQ(project.GetUniqueID(), 3);
  EXPECT_EQ(Store(project), Hex("01 00 01 01 08 00 00 00 03 00 00 00 00 00 00 00"));
}

TEST(ProjectArchive, ReadingRules) {
  const std::string marker = " 7A 7A 7A 7A";
  const int m = 0x7A7A7A7A;
  const struct {
    const char* name;
    std::string hex;
    __int64 counter;
    int next;
  } cases[] = {
      {"version 1", "01 00 01 01 08 00 00 00 01 00 00 00 00 00 00 00" + marker, 1, m},
      {"version 0 is read too", "00 00 01 01 08 00 00 00 05 00 00 00 00 00 00 00" + marker, 5, m},
      {"large counter", "01 00 01 01 08 00 00 00 08 07 06 05 04 03 02 01" + marker, 0x0102030405060708ll, m},
      {"newer version skipped whole", "02 00 01 01 08 00 00 00 05 00 00 00 00 00 00 00" + marker, 40, m},
      {"newer version, two blocks", "07 00 02 09 02 00 00 00 AA BB 01 08 00 00 00 05 00 00 00 00 00 00 00" + marker,
       40, m},
      {"unknown block before counter", "01 00 02 03 04 00 00 00 AA BB CC DD 01 08 00 00 00 05 00 00 00 00 00 00 00" + marker,
       5, m},
      {"unknown block after counter", "01 00 02 01 08 00 00 00 05 00 00 00 00 00 00 00 03 01 00 00 00 EE" + marker, 5,
       m},
      {"counter block of 12 bytes", "01 00 01 01 0C 00 00 00 05 00 00 00 00 00 00 00 EE EE EE EE" + marker, 5, m},
      {"counter block of 4 bytes", "01 00 01 01 04 00 00 00 05 00 00 00" + marker, 40, m},
      {"counter block of 0 bytes", "01 00 01 01 00 00 00 00" + marker, 40, m},
      {"no blocks", "01 00 00" + marker, 40, m},
      {"truncated counter", "01 00 01 01 08 00 00 00 05 00 00 00", 40, 0},
      {"header only", "01 00", 40, 0},
      {"empty device", "", 40, 0},
      {"block size beyond 2 GiB", "01 00 01 03 00 00 00 80 01 02 03 04", 40, 0},
      // The block's end lies past 2 GiB: the archive goes there, not back to
      // the start of the input.
      {"counter block ending past 2 GiB", "01 00 01 01 FF FF FF 7F 05 00 00 00", 40, 0},
  };
  for (const auto& c : cases) {
    const ReadResult r = ReadProject(c.hex);
    EXPECT_EQ(r.counter, c.counter) << c.name;
    EXPECT_EQ(r.next, c.next) << c.name;
    EXPECT_EQ(r.version, 0) << c.name << ": the version stack is balanced";
  }
}

TEST(ProjectArchive, RoundTripInsideOtherData) {
  IBaseProject source;
  for (int i = 0; i < 1000; ++i) source.GetUniqueID();
  GMemStream mem(true, nullptr, 0);
  {
    GDbArchiveImpl ar(&mem);
    ar << 0x11223344;
    ar << static_cast<const IBase&>(source) << std::string("after");
  }
  EXPECT_EQ(mem.GetDataSize(), 4u + 16u + 9u);
  mem.SetOpenMode(false);
  IBaseProject target;
  GDbArchiveImpl ar(&mem);
  int before = 0;
  std::string after;
  ar >> before >> static_cast<const IBase&>(target) >> after;
  EXPECT_EQ(target.GetLastUniqueID(), 1001);
  EXPECT_EQ(after, "after");
}

TEST(ProjectArchive, CounterAtTopHandsOutNoMoreIds) {
  IBaseProject project;
  GMemStream mem;
  test::Load(mem, Hex("01 00 01 01 08 00 00 00 FE FF FF FF FF FF FF 7F"));
  GDbArchiveImpl ar(&mem);
  project.Serialize(ar);
  EXPECT_EQ(project.GetUniqueID(), 0x7FFFFFFFFFFFFFFFll);
  EXPECT_THROW(project.GetUniqueID(), std::overflow_error) << "the next id would wrap to \"none assigned\"";
  EXPECT_EQ(project.GetLastUniqueID(), 0x7FFFFFFFFFFFFFFFll);
}

// ---- reports: each scenario in a fresh process -----------------------------

// The line `line` of the library's project source, when the source tree is known.
std::string SourceLine(int line) {
  const char* dir = std::getenv("HUX_SOURCE_DIR");
  if (!dir) return "";
  std::ifstream in(std::string(dir) + "/src/object/project.cpp");
  std::string text;
  for (int i = 0; i < line && std::getline(in, text); ++i) {
  }
  return text;
}

// Checks a report against `expected`, in which # stands for the decimal line
// number, and that the line it names is a reporting statement.
std::string CheckReport(const std::string& report, const std::string& expected) {
  const size_t hash = expected.find('#');
  const std::string head = expected.substr(0, hash), tail = expected.substr(hash + 1);
  size_t end = head.size();
  while (end < report.size() && std::isdigit(static_cast<unsigned char>(report[end]))) ++end;
  if (report.compare(0, head.size(), head) != 0 || end == head.size() || report.substr(end) != tail)
    return "report \"" + report + "\" is not \"" + expected + "\"";
  const std::string line = SourceLine(std::stoi(report.substr(head.size(), end - head.size())));
  if (std::getenv("HUX_SOURCE_DIR") && line.find("Report(") == std::string::npos)
    return "the report names a line that is no report: " + line;
  return "";
}

class NamedProject : public IBaseProject {};

TEST(ProjectReports, WrongBlockSizeIsReportedOncePerProcess) {
  HUX_EXPECT_IN_FRESH_PROCESS([] {
    const std::string hex = "01 00 01 01 0C 00 00 00 05 00 00 00 00 00 00 00 EE EE EE EE 7A 7A 7A 7A";
    ReadResult first = ReadProject(hex);
    if (first.counter != 5 || first.next != 0x7A7A7A7A) return std::string("first read misaligned");
    if (first.reports.size() != 1) return "expected one report, got " + std::to_string(first.reports.size());
    std::string bad = CheckReport(first.reports[0], "load data|read block error :\nfile: project.cpp:#");
    if (!bad.empty()) return bad;
    // Later problems of any kind are repaired but no longer reported.
    ReadResult second = ReadProject(hex);
    if (second.counter != 5 || second.next != 0x7A7A7A7A) return std::string("second read misaligned");
    if (!second.reports.empty()) return std::string("reported twice");
    IBaseProject project;
    GMemStream mem(true, nullptr, 0);
    ProbeArchive ar(&mem);
    ar.failInt64 = true;
    project.Serialize(ar);
    if (!ar.reports.empty()) return std::string("save failure reported after the first report");
    return std::string();
  });
}

TEST(ProjectReports, SaveFailureIsReportedAndRolledBack) {
  HUX_EXPECT_IN_FRESH_PROCESS([] {
    NamedProject project;
    GMemStream mem(true, nullptr, 0);
    ProbeArchive ar(&mem);
    ar << 0x01020304;
    ar.failInt64 = true;
    if (!project.Serialize(ar)) return std::string("Serialize returned false");
    ar.failInt64 = false;
    ar << static_cast<short>(0x0605);
    // The failed object is replaced by an empty one and writing goes on after it.
    if (Bytes(mem) != Hex("04 03 02 01 01 00 00 05 06")) return std::string("not rolled back to an empty object");
    if (ar.reports.size() != 1) return "expected one report, got " + std::to_string(ar.reports.size());
    std::string bad = CheckReport(
        ar.reports[0],
        "SAVE_DATA|SAVE_DATA\nfile: project.cpp:#\ntypename: hux::(anonymous namespace)::NamedProject");
    if (!bad.empty()) return bad;
    // The archive is usable for whole objects again.
    project.Serialize(ar);
    if (Bytes(mem).size() != 9 + 16) return std::string("archive unusable after the rollback");
    return std::string();
  });
}

TEST(ProjectReports, LoadFailureIsReportedAndSkipped) {
  HUX_EXPECT_IN_FRESH_PROCESS([] {
    NamedProject project;
    GMemStream mem;
    test::Load(mem, Hex("01 00 02 03 01 00 00 00 AA 01 08 00 00 00 05 00 00 00 00 00 00 00 7A 7A 7A 7A"));
    ProbeArchive ar(&mem);
    ar.failInt64 = true;
    if (!project.Serialize(ar)) return std::string("Serialize returned false");
    int next = 0;
    ar >> next;
    if (next != 0x7A7A7A7A) return std::string("the reader after the object is misaligned");
    if (project.GetLastUniqueID() != 1) return std::string("counter changed");
    if (ar.GetVersion() != 0) return std::string("version stack unbalanced");
    if (ar.reports.size() != 1) return "expected one report, got " + std::to_string(ar.reports.size());
    return CheckReport(
        ar.reports[0],
        "LOAD_DATA|LOAD_DATA\nfile: project.cpp:#\ntypename: hux::(anonymous namespace)::NamedProject");
  });
}

TEST(ProjectReports, ThrowingReportHookDoesNotStopRollback) {
  HUX_EXPECT_IN_FRESH_PROCESS([] {
    struct ThrowingArchive : ProbeArchive {
      using ProbeArchive::ProbeArchive;
      void ErrorMsgBox(std::string, std::string) override { throw std::runtime_error("no UI"); }
    };
    IBaseProject project;
    GMemStream mem(true, nullptr, 0);
    ThrowingArchive ar(&mem);
    ar.failInt64 = true;
    project.Serialize(ar);
    return Bytes(mem) == Hex("01 00 00") ? std::string() : std::string("not rolled back");
  });
}

// ---- SaveProject -----------------------------------------------------------

TEST(SaveProject, CallOrderAndFlags) {
  CallLog log;
  RecordingFacade facade(&log);
  ScopedFacade installed(&facade);
  for (bool opens : {true, false}) {
    log.clear();
    IBaseProject project;
    auto* device = new RecordingDevice(&log);
    device->openResult = opens;  // the result of OpenDB is not used by a save
    project.SetProjectDBDevice(device);
    project.SaveProject(L"/tmp/p.db");
    EXPECT_EQ(log, (CallLog{"OpenDB /tmp/p.db", "PrepareSave L0 S0", "BeginAccess L0 S1", "SaveProjectData 1 L0 S1",
                            "EndAccess L0 S1"}));
    EXPECT_FALSE(device->GetContext().IsSaving());
  }
}

TEST(SaveProject, NothingWithoutDeviceOrFacade) {
  CallLog log;
  RecordingFacade facade(&log);
  {
    ScopedFacade installed(&facade);
    IBaseProject project;
    project.SaveProject(L"x.db");
  }
  IBaseProject project;
  project.SetProjectDBDevice(new RecordingDevice(&log));
  project.SaveProject(L"x.db");  // no facade installed
  EXPECT_TRUE(log.empty());
}

TEST(SaveProject, FailingFacadeClosesAccessAndLowersFlag) {
  CallLog log;
  RecordingFacade facade(&log);
  facade.onSave = [](IBaseProject*, GDBDevice*) { throw std::runtime_error("disk full"); };
  ScopedFacade installed(&facade);
  IBaseProject project;
  auto* device = new RecordingDevice(&log);
  project.SetProjectDBDevice(device);
  EXPECT_THROW(project.SaveProject(L"p.db"), std::runtime_error);
  EXPECT_EQ(log.back(), "EndAccess L0 S1");
  EXPECT_FALSE(device->GetContext().IsSaving());

  // A device whose BeginAccess fails gets no EndAccess.
  log.clear();
  device->throwInBeginAccess = true;
  EXPECT_THROW(project.SaveProject(L"p.db"), std::runtime_error);
  EXPECT_EQ(log, (CallLog{"OpenDB p.db", "PrepareSave L0 S0", "BeginAccess L0 S1"}));
  EXPECT_FALSE(device->GetContext().IsSaving());
}

}  // namespace
}  // namespace hux
