// The project's archive form, reading rules and reports, and the calls of SaveProject and LoadProject.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <hux/io/archive.h>
#include <hux/io/memstream.h>
#include <hux/object/dbdevice.h>
#include <hux/object/project.h>
#include <hux/platform/debug.h>
#include <hux/value/variant.h>

#include "object_test_util.h"
#include "test_util.h"

namespace hux {
namespace {

using test::Bytes;
using test::CallLog;
using test::CountedEntity;
using test::CountedProject;
using test::Hex;
using test::RecordingDevice;
using test::RecordingFacade;
using test::ScopedFacade;

class ProbeArchive : public GDbArchiveImpl {
 public:
  using GDbArchiveImpl::GDbArchiveImpl;
  using GDbArchiveImpl::operator<<;
  using GDbArchiveImpl::operator>>;
  GDbArchive& operator<<(__int64 value) override {
    if (failInt64) throw std::runtime_error("write failed");
    return GDbArchiveImpl::operator<<(value);
  }
  void ErrorMsgBox(std::string caption, std::string text) override { reports.push_back(caption + "|" + text); }
  bool failInt64 = false;
  std::vector<std::string> reports;
};

struct ReadResult {
  __int64 counter;
  int next;
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
  EXPECT_EQ(ar.GetVersion(), 0) << hex << ": the version stack is balanced";
  return {project.GetLastUniqueID(), next};
}

std::vector<unsigned char> Store(IBaseProject& project) {
  GMemStream mem(true, nullptr, 0);
  GDbArchiveImpl ar(&mem);
  EXPECT_TRUE(project.Serialize(ar));
  return Bytes(mem);
}

TEST(ProjectArchive, NewProjectIsSixteenBytesAndTheCounterStopsAtTheTop) {
  IBaseProject project;
  EXPECT_EQ(Store(project), Hex("01 00 01 01 08 00 00 00 01 00 00 00 00 00 00 00"));
  // At the top of the counter no more ids are handed out.
  GMemStream top;
  test::Load(top, Hex("01 00 01 01 08 00 00 00 FE FF FF FF FF FF FF 7F"));
  GDbArchiveImpl topArchive(&top);
  project.Serialize(topArchive);
  EXPECT_EQ(project.GetUniqueID(), 0x7FFFFFFFFFFFFFFFll);
  EXPECT_THROW(project.GetUniqueID(), std::overflow_error);
  EXPECT_EQ(project.GetLastUniqueID(), 0x7FFFFFFFFFFFFFFFll);
}

TEST(ProjectArchive, ReadingRules) {
  const struct {
    std::string hex;
    __int64 counter;
    bool aligned;
  } cases[] = {
      {"00 00 01 01 08 00 00 00 05 00 00 00 00 00 00 00", 5, true},  // version 0 is read too
      {"01 00 01 01 08 00 00 00 08 07 06 05 04 03 02 01", 0x0102030405060708ll, true},
      {"02 00 01 01 08 00 00 00 05 00 00 00 00 00 00 00", 40, true},  // a newer version is skipped whole
      {"07 00 02 09 02 00 00 00 AA BB 01 08 00 00 00 05 00 00 00 00 00 00 00", 40, true},
      {"01 00 02 03 04 00 00 00 AA BB CC DD 01 08 00 00 00 05 00 00 00 00 00 00 00", 5, true},
      {"01 00 02 01 08 00 00 00 05 00 00 00 00 00 00 00 03 01 00 00 00 EE", 5, true},
      {"01 00 01 01 0C 00 00 00 05 00 00 00 00 00 00 00 EE EE EE EE", 5, true},
      {"01 00 01 01 04 00 00 00 05 00 00 00", 40, true},
      {"01 00 00", 40, true},
      {"01 00 01 01 08 00 00 00 05 00 00 00", 40, false},  // truncated counter
      {"", 40, false},
      {"01 00 01 03 00 00 00 80 01 02 03 04", 40, false},  // block size beyond 2 GiB
      {"01 00 01 01 FF FF FF 7F 05 00 00 00 00 00 00 00", 5, false},
      {"01 00 01 01 FF FF FF 7F 05 00 00 00", 40, false},
  };
  for (const auto& c : cases) {
    const ReadResult r = ReadProject(c.hex + (c.aligned ? " 7A 7A 7A 7A" : ""));
    EXPECT_EQ(r.counter, c.counter) << c.hex;
    EXPECT_EQ(r.next, c.aligned ? 0x7A7A7A7A : 0) << c.hex;
  }
}

// Runs `scenario` in a new process, where the once-per-process report counter starts fresh.
void InFreshProcess(const std::function<std::string()>& scenario) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        const std::string failure = scenario();
        std::fprintf(stderr, "%s\n", failure.c_str());
        std::exit(failure.empty() ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

// `expected` has # where the report names its source line.
std::string CheckReport(const std::string& report, const std::string& expected) {
  const size_t hash = expected.find('#');
  const std::string head = expected.substr(0, hash), tail = expected.substr(hash + 1);
  size_t end = head.size();
  while (end < report.size() && std::isdigit(static_cast<unsigned char>(report[end]))) ++end;
  if (report.compare(0, head.size(), head) != 0 || end == head.size() || report.substr(end) != tail)
    return "report \"" + report + "\" is not \"" + expected + "\"";
  return "";
}

class NamedProject : public IBaseProject {};
const std::string kTypeName = "\ntypename: hux::(anonymous namespace)::NamedProject";

TEST(ProjectReports, SaveFailureIsReportedAndRolledBack) {
  InFreshProcess([] {
    NamedProject project;
    GMemStream mem(true, nullptr, 0);
    ProbeArchive ar(&mem);
    ar << 0x01020304;
    ar.failInt64 = true;
    if (!project.Serialize(ar)) return std::string("Serialize returned false");
    ar.failInt64 = false;
    ar << static_cast<short>(0x0605);
    if (Bytes(mem) != Hex("04 03 02 01 01 00 00 05 06")) return std::string("not rolled back to an empty object");
    if (ar.reports.size() != 1) return "expected one report, got " + std::to_string(ar.reports.size());
    std::string bad = CheckReport(ar.reports[0], "SAVE_DATA|SAVE_DATA\nfile: project.cpp:#" + kTypeName);
    if (!bad.empty()) return bad;
    project.Serialize(ar);
    return Bytes(mem).size() == 9 + 16 ? std::string() : std::string("archive unusable after the rollback");
  });
}

class ProjectIOTest : public ::testing::Test {
 protected:
  ProjectIOTest() { device->destroyed = &deviceDestroyed; }
  ~ProjectIOTest() override {
    if (!deviceDestroyed) delete device;
    EXPECT_EQ(test::g_liveEntities, 0);
  }
  IBaseProject* Load(__int64 id) { return IBaseProject::LoadProject(id, L"p.db", device); }
  void AnswerQuery(std::vector<CVariant> values) {
    device->onQuery = [values](std::vector<CVariant>& result) { result = values; };
  }

  CallLog log;
  RecordingFacade facade{&log};
  ScopedFacade installed{&facade};
  RecordingDevice* device = new RecordingDevice(&log);
  bool deviceDestroyed = false;
};

TEST_F(ProjectIOTest, SaveCallOrderFlagsAndFailures) {
  IBaseProject project;
  project.SetProjectDBDevice(device);
  deviceDestroyed = true;  // the project owns it
  device->openResult = false;  // the result of OpenDB is not used by a save
  project.SaveProject(L"/tmp/p.db");
  EXPECT_EQ(log, (CallLog{"OpenDB /tmp/p.db", "PrepareSave L0 S0", "BeginAccess L0 S1", "SaveProjectData 1 L0 S1",
                          "EndAccess L0 S1"}));
  EXPECT_FALSE(device->GetContext().IsSaving());
  log.clear();
  SetIOFacade(nullptr);
  project.SaveProject(L"x.db");
  SetIOFacade(&facade);
  IBaseProject noDevice;
  noDevice.SaveProject(L"x.db");
  EXPECT_TRUE(log.empty());
  // Failures of the facade, EndAccess or BeginAccess (then no EndAccess) in a save or a load lower the flag;
  // a tree the facade built before EndAccess failed is freed.
  device->openResult = true;
  facade.onLoad = [](__int64, GDBDevice*) -> IBaseEntity* { return new CountedEntity(25); };
  for (const std::string where : {"facade", "EndAccess", "BeginAccess"}) {
    facade.fail = where == "facade";
    device->throwIn = where;
    for (bool saving : {true, false}) {
      log.clear();
      EXPECT_THROW(saving ? project.SaveProject(L"p.db") : (void)Load(25), std::runtime_error) << where;
      EXPECT_EQ(log.back(), (where == "BeginAccess" ? "BeginAccess " : "EndAccess ") + std::string(saving ? "L0 S1" : "L1 S0"))
          << where;
      EXPECT_FALSE(device->GetContext().IsSaving() || device->GetContext().IsLoading()) << where;
    }
  }
  EXPECT_EQ(test::g_liveEntities, 0);
}

TEST_F(ProjectIOTest, LoadFailuresAndResultsThatAreNoProjectReturnNull) {
  AnswerQuery({});
  EXPECT_EQ(Load(0), nullptr);
  AnswerQuery({CVariant()});
  EXPECT_EQ(Load(0), nullptr);
  EXPECT_EQ(log, (CallLog{"OpenDB p.db", "QueryTable EntityTable (ID,) PID=0 empty", "OpenDB p.db",
                          "QueryTable EntityTable (ID,) PID=0 empty"}));
  log.clear();
  device->openResult = false;
  EXPECT_EQ(Load(0), nullptr);
  EXPECT_EQ(Load(25), nullptr);
  EXPECT_EQ(log, (CallLog{"OpenDB p.db", "OpenDB p.db"}));
  EXPECT_EQ(IBaseProject::LoadProject(25, L"p.db", nullptr), nullptr);
  // A result that is no project, or none, is destroyed rather than lost.
  facade.onLoad = [](__int64, GDBDevice*) -> IBaseEntity* { return nullptr; };
  EXPECT_EQ(Load(25), nullptr);
  facade.onLoad = [](__int64, GDBDevice*) -> IBaseEntity* {
    auto* root = new CountedEntity(25);
    root->AddChild(new CountedEntity(26));
    return root;
  };
  EXPECT_EQ(Load(25), nullptr);
  EXPECT_EQ(test::g_liveEntities, 0);
  log.clear();
  device->openResult = true;
  SetIOFacade(nullptr);
  std::string said;
  auto previous = platform::SetDebugOutputHandler([&](const std::string& text) { said += text; });
  EXPECT_EQ(Load(25), nullptr);
  platform::SetDebugOutputHandler(previous);
  EXPECT_NE(said.find("no I/O facade"), std::string::npos);
  EXPECT_TRUE(log.empty());
  EXPECT_FALSE(deviceDestroyed) << "a failed load leaves the device to the caller";
}

}  // namespace
}  // namespace hux
