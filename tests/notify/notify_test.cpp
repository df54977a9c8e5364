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
using ::testing::IsEmpty;

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

std::vector<Recorder*> ByAddress(std::vector<Recorder>& all) {
  std::vector<Recorder*> out;
  for (auto& r : all) out.push_back(&r);
  std::sort(out.begin(), out.end(), std::less<Recorder*>());
  return out;
}

TEST(Subject, AttachDetachAndAddressOrder) {
  std::vector<Recorder> all(6);
  std::vector<Recorder*> const o = ByAddress(all);
  std::vector<IObserver*> calls;
  GSubject subject;
  EXPECT_TRUE(subject.Attach(o[3]));
  EXPECT_TRUE(subject.Attach(o[3]));
  EXPECT_FALSE(subject.Attach(nullptr));
  for (int i : {0, 5, 1, 4, 2}) subject.Attach(o[i]);
  EXPECT_TRUE(subject.Detach(o[4]));
  EXPECT_FALSE(subject.Detach(o[4]));
  for (auto* r : o) r->onUpdate = [&calls, r](unsigned int, void*) { calls.push_back(r); };
  subject.Notify(0xFFFFFFFFu, nullptr);
  EXPECT_THAT(calls, ElementsAre(o[0], o[1], o[2], o[3], o[5]));
  subject.EnableNotify(false);
  subject.Notify(1, nullptr);
  GSubject copy(subject);
  copy.EnableNotify(true);
  copy.Detach(o[5]);
  copy.Notify(4, nullptr);
  EXPECT_THAT(o[5]->notices, ElementsAre(Notice{0xFFFFFFFFu, {}}));
  EXPECT_EQ(o[0]->notices.back(), (Notice{4, {}}));
}

TEST(Subject, ObserversChangeTheSubjectDuringANotification) {
  std::vector<Recorder> all(5);
  std::vector<Recorder*> const o = ByAddress(all);
  auto subject = std::make_unique<GSubject>();
  for (int i : {0, 1, 2, 3}) subject->Attach(o[i]);
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
  EXPECT_EQ(subject->ObserverCount(), 3);
  // The lowest observer ends the subject: the notification stops there.
  o[0]->onUpdate = [&](unsigned int, void*) { subject.reset(); };
  subject->Notify(4, nullptr);
  EXPECT_EQ(subject, nullptr);
  EXPECT_EQ(o[3]->notices.size(), 3u);
}

struct Condition : ICheckCondition {
  bool Check(IBase* object) override {
    ++checks;
    return std::find(refused.begin(), refused.end(), object) == refused.end();
  }
  unsigned int GetMaskType(IBase*) override { return mask; }
  std::vector<IBase*> refused;
  unsigned int mask = 0;
  int checks = 0;
};

class SelectionTest : public ::testing::Test {
 protected:
  SelectionTest() : selection(&subject) { subject.Attach(&recorder); }
  std::vector<Notice> Taken() { return std::exchange(recorder.notices, {}); }
  IBase a, b, c, x;
  GSubject subject;
  Recorder recorder;
  GSelection selection;
};

TEST_F(SelectionTest, SingleAdditionsInBothModesAndTheirFilters) {
  EXPECT_TRUE(selection.Add(&a));
  EXPECT_FALSE(selection.Add(&a));
  EXPECT_FALSE(selection.Add(static_cast<IBase*>(nullptr)));
  selection.SetMode(true);
  EXPECT_TRUE(selection.Add(&b));
  EXPECT_THAT(Taken(), ElementsAre(Notice{ADD, {&a}}, Notice{REMOVE, {&a}}, Notice{ADD, {&b}}));
  struct Case {
    std::vector<unsigned int> masks;
    unsigned int objectMask;
    bool refused;
    bool added;
  } const cases[] = {
      {{3}, 4, false, false},  // mask type not accepted
      {{3}, 3, false, true},
      {{}, 4, false, true},  // no masks: every type accepted
      {{3, 4}, 4, true, false},  // Check says no
  };
  for (Case const& k : cases) {
    GSelection s(&subject);
    Condition condition;
    condition.mask = k.objectMask;
    if (k.refused) condition.refused = {&a};
    for (unsigned int m : k.masks) s.AddMaskType(m);
    s.SetCondition(&condition);
    EXPECT_EQ(s.Add(&a), k.added);
    EXPECT_EQ(Taken().size(), k.added ? 1u : 0u);
  }
}

TEST_F(SelectionTest, BulkAdditions) {
  Condition refuseAll;
  refuseAll.refused = {&a, &b, &c};
  selection.SetCondition(&refuseAll);  // bulk additions do not consult it
  selection.AddMaskType(99);
  EXPECT_FALSE(selection.Add(std::vector<IBase*>{&a, &a, nullptr, &b}));
  EXPECT_FALSE(selection.Add(std::vector<IBase*>{&a, &b}));  // nothing new: nothing sent
  EXPECT_FALSE(selection.Add(std::vector<IBase*>{}));
  EXPECT_THAT(Taken(), ElementsAre(Notice{ADD, {&a, &b}}));
  EXPECT_EQ(refuseAll.checks, 0);
  EXPECT_EQ(selection.GetCount(), 2u);
  selection.Remove(&b);
  selection.SetMode(true);
  Taken();
  EXPECT_FALSE(selection.Add(std::vector<IBase*>{&a, &b}));  // first already selected
  EXPECT_TRUE(selection.Add(std::vector<IBase*>{&c, &b}));
  EXPECT_THAT(Taken(), ElementsAre(Notice{REMOVE, {&a}}, Notice{ADD, {&c}}));
  EXPECT_TRUE(selection.Add(std::vector<IBase*>{nullptr, &b}));
  EXPECT_TRUE(selection.Add(std::vector<IBase*>{nullptr}));  // already empty
  EXPECT_THAT(Taken(), ElementsAre(Notice{REMOVE, {&c}}));
  EXPECT_TRUE(selection.IsEmpty());
}

TEST_F(SelectionTest, RemovalsAndObjectsReportedRemovedAnnounceOnlyWhatWasSelected) {
  selection.RemoveAll();
  selection.Add(std::vector<IBase*>{&a, &b, &c});
  Taken();
  EXPECT_FALSE(selection.Remove(std::vector<IBase*>{&a, &x, &a}));
  EXPECT_FALSE(selection.Remove(std::vector<IBase*>{}));
  EXPECT_FALSE(selection.Remove(std::vector<IBase*>{&x}));
  EXPECT_TRUE(selection.Remove(&b));
  EXPECT_FALSE(selection.Remove(&b));
  EXPECT_FALSE(selection.Remove(static_cast<IBase*>(nullptr)));
  EXPECT_THAT(Taken(), ElementsAre(Notice{REMOVE, {&a}}, Notice{REMOVE, {&b}}));
  selection.Add(std::vector<IBase*>{&b, &a});
  Taken();
  selection.RemoveAll();
  std::vector<IBase*> sorted{&a, &b, &c};
  std::sort(sorted.begin(), sorted.end(), std::less<IBase*>());
  EXPECT_THAT(Taken(), ElementsAre(Notice{REMOVE, sorted}));
  EXPECT_TRUE(selection.IsEmpty());
  // Objects the model (a subject of its own) reports removed leave the selection.
  GSubject model;
  model.Attach(&selection);
  selection.Add(std::vector<IBase*>{&a, &b, &c});
  Taken();
  std::vector<IBase*> gone{&a, &x, &b};
  model.Notify(NOTIFY_OBJECTS_REMOVED, &gone);
  EXPECT_THAT(Taken(), ElementsAre(Notice{REMOVE, {&a}}, Notice{REMOVE, {&b}}));
  std::vector<IBase*> other{&c};
  selection.Update(NOTIFY_SELECT_ADD, &other);  // other codes are ignored
  selection.Update(NOTIFY_OBJECTS_REMOVED, nullptr);
  EXPECT_THAT(Taken(), IsEmpty());
  EXPECT_TRUE(selection.IsIn(&c));
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
