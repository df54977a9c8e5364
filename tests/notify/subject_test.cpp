// Subjects: attaching, the order of notifications, enabling, and observers
// that change the subject while it notifies them.
#include <hux/notify/subject.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

#include "notify/recorder.h"

namespace hux::test {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

TEST(Subject, AttachAndDetachKeepOneEntryPerObserver) {
  GSubject subject;
  Recorder a, b;
  EXPECT_TRUE(subject.Attach(&a));
  EXPECT_TRUE(subject.Attach(&a));
  EXPECT_FALSE(subject.Attach(nullptr));
  EXPECT_EQ(subject.ObserverCount(), 1);
  EXPECT_FALSE(subject.Detach(&b));
  EXPECT_TRUE(subject.Attach(&b));
  EXPECT_EQ(subject.ObserverCount(), 2);
  EXPECT_TRUE(subject.Detach(&a));
  EXPECT_FALSE(subject.Detach(&a));
  EXPECT_FALSE(subject.Exist(&a));
  EXPECT_TRUE(subject.Exist(&b));
  subject.Notify(7, nullptr);
  EXPECT_THAT(a.notices, IsEmpty());
  EXPECT_THAT(b.notices, ElementsAre(Notice{7, {}}));
}

TEST(Subject, NotifiesInAscendingAddressOrderWithCodeAndDataUnchanged) {
  std::vector<Recorder> observers(6);
  std::vector<IObserver*> calls;
  GSubject subject;
  for (int i : {3, 0, 5, 1, 4, 2}) {
    observers[i].log = &calls;
    subject.Attach(&observers[i]);
  }
  int payload = 0;
  void* seen = nullptr;
  observers[2].onUpdate = [&](unsigned int, void* data) { seen = data; };
  subject.Notify(0xFFFFFFFFu, &payload);
  std::vector<IObserver*> expected;
  for (auto& o : observers) expected.push_back(&o);
  std::sort(expected.begin(), expected.end(), std::less<IObserver*>());
  EXPECT_THAT(calls, ElementsAreArray(expected));
  EXPECT_EQ(seen, &payload);
  EXPECT_EQ(observers[0].notices[0].code, 0xFFFFFFFFu);
}

TEST(Subject, DisabledNotificationsAreDroppedNotQueued) {
  GSubject subject;
  Recorder a, b;
  subject.Attach(&a);
  subject.Attach(&b);
  subject.EnableNotify(false);
  subject.Notify(1, nullptr);
  subject.EnableNotify(true);
  subject.Notify(2, nullptr);
  EXPECT_THAT(a.notices, ElementsAre(Notice{2, {}}));
  EXPECT_THAT(b.notices, ElementsAre(Notice{2, {}}));

  GSubject empty;
  empty.Notify(3, nullptr);  // no observers: nothing happens
}

TEST(Subject, DerivedClassCanVetoThroughIsNotifyEnable) {
  struct Muted : GSubject {
    bool IsNotifyEnable() const override { return false; }
  } subject;
  Recorder a;
  subject.Attach(&a);
  subject.Notify(1, nullptr);
  EXPECT_THAT(a.notices, IsEmpty());
}

// Observers change the subject from inside Update: the walk goes over the
// observers attached when it started and skips those detached before their
// turn.
TEST(Subject, ObserversMayAttachAndDetachDuringANotification) {
  std::vector<Recorder> o(5);
  std::vector<Recorder*> byAddress;
  for (auto& r : o) byAddress.push_back(&r);
  std::sort(byAddress.begin(), byAddress.end(), std::less<Recorder*>());
  Recorder* first = byAddress[0];
  Recorder* second = byAddress[1];
  Recorder* third = byAddress[2];
  Recorder* fourth = byAddress[3];
  Recorder* late = byAddress[4];

  GSubject subject;
  for (Recorder* r : {first, second, third, fourth}) subject.Attach(r);
  first->onUpdate = [&](unsigned int, void*) {
    subject.Detach(third);  // not reached yet: skipped
    subject.Attach(late);   // joins from the next notification on
  };
  second->onUpdate = [&](unsigned int, void*) { subject.Detach(second); };
  subject.Notify(1, nullptr);
  EXPECT_EQ(first->notices.size(), 1u);
  EXPECT_EQ(second->notices.size(), 1u);
  EXPECT_THAT(third->notices, IsEmpty());
  EXPECT_EQ(fourth->notices.size(), 1u);
  EXPECT_THAT(late->notices, IsEmpty());

  first->onUpdate = nullptr;
  subject.Notify(2, nullptr);
  EXPECT_EQ(first->notices.size(), 2u);
  EXPECT_EQ(second->notices.size(), 1u);
  EXPECT_EQ(late->notices.size(), 1u);
  EXPECT_EQ(subject.ObserverCount(), 3);
}

TEST(Subject, NestedNotificationsAndDestructionDuringANotification) {
  Recorder a, b;
  auto subject = std::make_unique<GSubject>();
  subject->Attach(&a);
  subject->Attach(&b);
  Recorder* low = std::min(&a, &b, std::less<Recorder*>());
  Recorder* high = low == &a ? &b : &a;
  low->onUpdate = [&](unsigned int code, void*) {
    if (code == 1) subject->Notify(2, nullptr);
  };
  subject->Notify(1, nullptr);
  EXPECT_THAT(low->notices, ElementsAre(Notice{1, {}}, Notice{2, {}}));
  EXPECT_THAT(high->notices, ElementsAre(Notice{2, {}}, Notice{1, {}}));

  // The lower observer ends the subject: the notification stops there.
  low->onUpdate = [&](unsigned int, void*) { subject.reset(); };
  subject->Notify(3, nullptr);
  EXPECT_EQ(subject, nullptr);
  EXPECT_EQ(high->notices.size(), 2u);
}

TEST(Subject, CopiesNotifyTheSameObservers) {
  GSubject subject;
  Recorder a;
  subject.Attach(&a);
  subject.EnableNotify(false);
  GSubject copy(subject);
  copy.EnableNotify(true);
  copy.Notify(4, nullptr);
  EXPECT_THAT(a.notices, ElementsAre(Notice{4, {}}));
  GSubject assigned;
  assigned = copy;
  assigned.Detach(&a);
  EXPECT_TRUE(copy.Exist(&a));
}

}  // namespace
}  // namespace hux::test
