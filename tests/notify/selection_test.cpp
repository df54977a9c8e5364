// Selection sets: filters, modes, bulk operations and the notifications they
// send, observed through a subject and a recording observer.
#include <hux/notify/selection.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <vector>

#include "notify/recorder.h"

namespace hux::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr unsigned int ADD = NOTIFY_SELECT_ADD;
constexpr unsigned int REMOVE = NOTIFY_SELECT_REMOVE;

// Accepts objects unless listed as refused; the mask type is fixed.
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

  std::vector<IBase*> Sorted(std::vector<IBase*> objects) {
    std::sort(objects.begin(), objects.end(), std::less<IBase*>());
    return objects;
  }

  IBase a, b, c, x;
  GSubject subject;
  Recorder recorder;
  GSelection selection;
};

TEST_F(SelectionTest, MultipleModeAnnouncesEachAddition) {
  EXPECT_TRUE(selection.Add(&a));
  EXPECT_TRUE(selection.Add(&b));
  EXPECT_FALSE(selection.Add(&a));
  EXPECT_FALSE(selection.Add(static_cast<IBase*>(nullptr)));
  EXPECT_THAT(recorder.notices, ElementsAre(Notice{ADD, {&a}}, Notice{ADD, {&b}}));
  EXPECT_EQ(selection.GetAllSelectedOBj(), (std::set<IBase*>{&a, &b}));
}

TEST_F(SelectionTest, SingleModeReplacesTheSelection) {
  selection.Add(&a);
  selection.SetMode(true);
  recorder.notices.clear();
  EXPECT_TRUE(selection.Add(&b));
  EXPECT_THAT(recorder.notices, ElementsAre(Notice{REMOVE, {&a}}, Notice{ADD, {&b}}));
  EXPECT_EQ(selection.GetAllSelectedOBj(), (std::set<IBase*>{&b}));
}

TEST_F(SelectionTest, ConditionAndMaskTypesFilterSingleAdditions) {
  struct Case {
    std::vector<unsigned int> masks;
    bool withCondition;
    unsigned int objectMask;
    bool refused;
    bool added;
  } const cases[] = {
      {{3}, true, 4, false, false},  // mask type not accepted
      {{3}, true, 3, false, true},
      {{3}, false, 4, false, true},  // no condition: masks are not consulted
      {{}, true, 4, false, true},    // no masks: every type accepted
      {{3, 4}, true, 4, true, false},  // Check says no
  };
  for (Case const& k : cases) {
    GSelection s(&subject);
    Condition condition;
    condition.mask = k.objectMask;
    if (k.refused) condition.refused = {&a};
    for (unsigned int m : k.masks) s.AddMaskType(m);
    if (k.withCondition) s.SetCondition(&condition);
    recorder.notices.clear();
    EXPECT_EQ(s.Add(&a), k.added);
    EXPECT_EQ(recorder.notices.size(), k.added ? 1u : 0u);
  }
}

TEST_F(SelectionTest, BulkAddInMultipleModeAnnouncesOnceAndAnswersFalse) {
  Condition refuseAll;
  refuseAll.refused = {&a, &b, &c};
  selection.SetCondition(&refuseAll);  // bulk additions do not consult it
  selection.AddMaskType(99);
  EXPECT_FALSE(selection.Add(std::vector<IBase*>{&a, &a, nullptr, &b}));
  EXPECT_THAT(recorder.notices, ElementsAre(Notice{ADD, {&a, &b}}));
  EXPECT_EQ(refuseAll.checks, 0);
  EXPECT_EQ(selection.GetCount(), 2u);

  recorder.notices.clear();
  EXPECT_FALSE(selection.Add(std::vector<IBase*>{&a, &b}));  // nothing new: nothing sent
  EXPECT_FALSE(selection.Add(std::vector<IBase*>{}));
  EXPECT_THAT(recorder.notices, IsEmpty());
}

TEST_F(SelectionTest, BulkAddInSingleModeTakesTheFirstObject) {
  selection.Add(&a);
  selection.SetMode(true);
  recorder.notices.clear();
  EXPECT_FALSE(selection.Add(std::vector<IBase*>{&a, &b}));  // first already selected
  EXPECT_THAT(recorder.notices, IsEmpty());
  EXPECT_TRUE(selection.Add(std::vector<IBase*>{&c, &b}));
  EXPECT_THAT(recorder.notices, ElementsAre(Notice{REMOVE, {&a}}, Notice{ADD, {&c}}));
  EXPECT_EQ(selection.GetAllSelectedOBj(), (std::set<IBase*>{&c}));
  // A null first object (a pick on empty space) clears the selection.
  recorder.notices.clear();
  EXPECT_TRUE(selection.Add(std::vector<IBase*>{nullptr, &b}));
  EXPECT_TRUE(selection.Add(std::vector<IBase*>{nullptr}));  // already empty
  EXPECT_THAT(recorder.notices, ElementsAre(Notice{REMOVE, {&c}}));
  EXPECT_TRUE(selection.IsEmpty());
}

TEST_F(SelectionTest, RemovalsAnnounceOnlyWhatWasSelected) {
  selection.Add(std::vector<IBase*>{&a, &b, &c});
  recorder.notices.clear();
  EXPECT_FALSE(selection.Remove(std::vector<IBase*>{&a, &x, &a}));
  EXPECT_FALSE(selection.Remove(std::vector<IBase*>{}));
  EXPECT_FALSE(selection.Remove(std::vector<IBase*>{&x}));
  EXPECT_TRUE(selection.Remove(&b));
  EXPECT_FALSE(selection.Remove(&b));
  EXPECT_FALSE(selection.Remove(static_cast<IBase*>(nullptr)));
  EXPECT_THAT(recorder.notices, ElementsAre(Notice{REMOVE, {&a}}, Notice{REMOVE, {&b}}));
  EXPECT_EQ(selection.GetCount(), 1u);
}

TEST_F(SelectionTest, RemoveAllAnnouncesInAddressOrder) {
  selection.RemoveAll();
  EXPECT_THAT(recorder.notices, IsEmpty());
  selection.Add(std::vector<IBase*>{&c, &a, &b});
  recorder.notices.clear();
  selection.RemoveAll();
  EXPECT_THAT(recorder.notices, ElementsAre(Notice{REMOVE, Sorted({&a, &b, &c})}));
  EXPECT_TRUE(selection.IsEmpty());
}

TEST_F(SelectionTest, DropsObjectsReportedRemoved) {
  GSubject model;  // the subject that reports deleted objects
  model.Attach(&selection);
  selection.Add(&a);
  selection.Add(&b);
  recorder.notices.clear();
  std::vector<IBase*> gone{&a, &x, &b};
  model.Notify(NOTIFY_OBJECTS_REMOVED, &gone);
  EXPECT_THAT(recorder.notices, ElementsAre(Notice{REMOVE, {&a}}, Notice{REMOVE, {&b}}));
  selection.Add(&c);
  recorder.notices.clear();
  std::vector<IBase*> other{&c};
  selection.Update(NOTIFY_SELECT_ADD, &other);  // other codes are ignored
  selection.Update(NOTIFY_OBJECTS_REMOVED, nullptr);
  EXPECT_THAT(recorder.notices, IsEmpty());
  EXPECT_TRUE(selection.IsIn(&c));
}

TEST_F(SelectionTest, ObserverMayChangeTheSelectionWhileBeingTold) {
  // An observer that keeps at most one object by removing older ones.
  recorder.onUpdate = [&](unsigned int code, void* data) {
    if (code != ADD) return;
    IBase* added = static_cast<std::vector<IBase*>*>(data)->front();
    for (IBase* o : std::vector<IBase*>(selection.GetAllSelectedOBj().begin(), selection.GetAllSelectedOBj().end()))
      if (o != added) selection.Remove(o);
  };
  selection.Add(&a);
  selection.Add(&b);
  EXPECT_EQ(selection.GetAllSelectedOBj(), (std::set<IBase*>{&b}));
  EXPECT_THAT(recorder.notices, ElementsAre(Notice{ADD, {&a}}, Notice{ADD, {&b}}, Notice{REMOVE, {&a}}));
}

TEST(Selection, WithoutSubjectWorksSilentlyAndPushPopNeverAnnounce) {
  struct Exposed : GSelection {
    using GSelection::GSelection;
    using GSelection::Pop;
    using GSelection::Push;
  };
  IBase a, b;
  Exposed quiet(nullptr);
  quiet.SetMode(true);
  EXPECT_TRUE(quiet.Add(&a));
  EXPECT_TRUE(quiet.Add(&b));
  EXPECT_EQ(quiet.GetAllSelectedOBj(), (std::set<IBase*>{&b}));

  GSubject subject;
  Recorder recorder;
  subject.Attach(&recorder);
  Exposed s(&subject);
  EXPECT_TRUE(s.Push(&a));
  EXPECT_TRUE(s.Push(&a));
  EXPECT_FALSE(s.Push(nullptr));
  EXPECT_TRUE(s.Pop(&a));
  EXPECT_FALSE(s.Pop(&a));
  EXPECT_FALSE(s.Pop(nullptr));
  EXPECT_THAT(recorder.notices, IsEmpty());

  // Copies carry the selection, the masks, the mode, the condition and the
  // subject.
  s.Push(&b);
  s.AddMaskType(5);
  s.SetMode(true);
  Exposed copy(s);
  EXPECT_TRUE(copy.Add(&a));
  EXPECT_THAT(recorder.notices, ElementsAre(Notice{REMOVE, {&b}}, Notice{ADD, {&a}}));
  EXPECT_TRUE(s.IsIn(&b));
}

TEST(Selection, DestroyFreesTheSelection) {
  GSubject subject;
  Recorder recorder;
  subject.Attach(&recorder);
  IBase a;
  GSelection* selection = new GSelection(&subject);
  selection->Add(&a);
  recorder.notices.clear();
  selection->Destroy();  // the address sanitizer checks that it is freed
  EXPECT_THAT(recorder.notices, IsEmpty());
}

}  // namespace
}  // namespace hux::test
