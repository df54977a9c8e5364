// Subjects and selections, seen by a recording observer.
#include <hux/notify/selection.h>
#include <hux/notify/subject.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace hux::test {
namespace {

using ::testing::ElementsAre;

constexpr unsigned int ADD = NOTIFY_SELECT_ADD;
constexpr unsigned int REMOVE = NOTIFY_SELECT_REMOVE;

struct Notice {
  unsigned int code;
  std::vector<IBase*> objects;  // a copy of the vector sent with selection codes
  bool operator==(Notice const& other) const { return code == other.code && objects == other.objects; }
};

class Recorder : public IObserver {
 public:
  void Update(unsigned int code, void* data) override {
    Notice notice{code, {}};
    if ((code == ADD || code == REMOVE) && data != nullptr) notice.objects = *static_cast<std::vector<IBase*>*>(data);
    notices.push_back(notice);
    if (onUpdate) onUpdate(code, data);
  }
  std::vector<Notice> notices;
  std::function<void(unsigned int, void*)> onUpdate;
};

// Observers are told in address order; they may attach, detach and end the subject while being told.
TEST(Subject, ObserversChangeTheSubjectDuringANotification) {
  std::vector<Recorder> all(5);
  std::vector<Recorder*> o;
  for (auto& r : all) o.push_back(&r);
  std::sort(o.begin(), o.end(), std::less<Recorder*>());
  auto subject = std::make_unique<GSubject>();
  for (int i : {3, 1, 0, 2, 3}) subject->Attach(o[i]);
  o[0]->onUpdate = [&](unsigned int, void*) {
    subject->Detach(o[2]);  // not reached yet: skipped
    subject->Attach(o[4]);  // joins from the next notification on
  };
  o[1]->onUpdate = [&](unsigned int, void*) { subject->Detach(o[1]); };
  subject->Notify(1, nullptr);
  o[0]->onUpdate = [&](unsigned int code, void*) {
    if (code == 2) subject->Notify(3, nullptr);
  };
  subject->Notify(2, nullptr);
  EXPECT_THAT(o[0]->notices, ElementsAre(Notice{1, {}}, Notice{2, {}}, Notice{3, {}}));
  EXPECT_THAT(o[3]->notices, ElementsAre(Notice{1, {}}, Notice{3, {}}, Notice{2, {}}));
  EXPECT_EQ(o[1]->notices.size() + o[2]->notices.size() * 10 + o[4]->notices.size() * 100, 201u);
  // The lowest observer ends the subject: the notification stops there.
  o[0]->onUpdate = [&](unsigned int, void*) { subject.reset(); };
  subject->Notify(4, nullptr);
  EXPECT_EQ(subject, nullptr);
  EXPECT_EQ(o[3]->notices.size(), 3u);
}

class SelectionTest : public ::testing::Test {
 protected:
  SelectionTest() : selection(&subject) { subject.Attach(&recorder); }
  std::vector<Notice> Taken() { return std::exchange(recorder.notices, {}); }
  IBase a, b, c, x;
  GSubject subject;
  Recorder recorder;
  GSelection selection;
};

// In single mode a bulk addition takes its first object, and a null first object clears the selection.
TEST_F(SelectionTest, BulkAdditionsInSingleMode) {
  selection.SetMode(true);
  EXPECT_TRUE(selection.Add(std::vector<IBase*>{&c, &b}));
  EXPECT_FALSE(selection.Add(std::vector<IBase*>{&c, &a}));
  EXPECT_TRUE(selection.Add(std::vector<IBase*>{nullptr, &b}));
  EXPECT_THAT(Taken(), ElementsAre(Notice{ADD, {&c}}, Notice{REMOVE, {&c}}));
  EXPECT_TRUE(selection.IsEmpty());
}

TEST_F(SelectionTest, RemovalsAndObjectsReportedRemovedAnnounceOnlyWhatWasSelected) {
  selection.Add(std::vector<IBase*>{&a, &b, &c});
  Taken();
  EXPECT_TRUE(selection.Remove(&b));
  EXPECT_FALSE(selection.Remove(&b));
  EXPECT_FALSE(selection.Remove(static_cast<IBase*>(nullptr)));
  // Objects the model (a subject of its own) reports removed leave the selection.
  GSubject model;
  model.Attach(&selection);
  std::vector<IBase*> gone{&a, &x, nullptr};
  model.Notify(NOTIFY_OBJECTS_REMOVED, &gone);
  EXPECT_THAT(Taken(), ElementsAre(Notice{REMOVE, {&b}}, Notice{REMOVE, {&a}}));
  EXPECT_EQ(selection.GetAllSelectedOBj(), (std::set<IBase*>{&c}));
}

TEST_F(SelectionTest, ObserverMayChangeTheSelectionWhileBeingTold) {
  recorder.onUpdate = [&](unsigned int code, void* data) {
    if (code != ADD) return;
    IBase* added = static_cast<std::vector<IBase*>*>(data)->front();
    for (IBase* o : std::vector<IBase*>(selection.GetAllSelectedOBj().begin(), selection.GetAllSelectedOBj().end()))
      if (o != added) selection.Remove(o);
  };
  selection.Add(&a);
  selection.Add(&b);
  EXPECT_EQ(selection.GetAllSelectedOBj(), (std::set<IBase*>{&b}));
  EXPECT_THAT(Taken(), ElementsAre(Notice{ADD, {&a}}, Notice{ADD, {&b}}, Notice{REMOVE, {&a}}));
}

}  // namespace
}  // namespace hux::test
