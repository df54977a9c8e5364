// Weak references: AddRefLock on plain objects and the owner's protocol.
#include <hux/object/weak_ptr.h>

#include <gtest/gtest.h>

namespace hux {
namespace {

int g_live = 0;

// An ordinary reference-counted object, not keeping the protocol.
class Plain : public CReferenced {
 public:
  Plain() { ++g_live; }

 protected:
  ~Plain() override { --g_live; }
};

// An object that keeps the protocol, as the header's example does.
class Watched : public CReferenced {
 public:
  Watched() : m_pWeak(new CWeakPtrCounter(this)) {
    m_pWeak->Ref();
    ++g_live;
  }
  void Ref() override { m_pWeak->RefObserved(); }
  void Unref() override { m_pWeak->UnrefObserved(); }
  CWeakPtrCounter* Weak() const { return m_pWeak; }

 protected:
  ~Watched() override {
    --g_live;
    m_pWeak->Unref();
  }

 private:
  CWeakPtrCounter* m_pWeak;
};

TEST(WeakPtrCounter, AddRefLockOnPlainObjects) {
  CWeakPtrCounter* none = new CWeakPtrCounter(nullptr);
  none->Ref();
  EXPECT_EQ(none->AddRefLock(), nullptr);
  none->Unref();

  Plain* object = new Plain;
  CWeakPtrCounter* weak = new CWeakPtrCounter(object);
  weak->Ref();
  EXPECT_EQ(weak->GetObserverdObject(), object);
  EXPECT_EQ(static_cast<const CWeakPtrCounter*>(weak)->GetObserverdObject(), object);
  // Count 0: unowned, so no reference is handed out, and nothing is deleted.
  EXPECT_EQ(weak->AddRefLock(), nullptr);
  EXPECT_EQ(object->ReferenceCount(), 0);
  EXPECT_EQ(g_live, 1);
  // Count 2: one more reference.
  object->Ref();
  object->Ref();
  EXPECT_EQ(weak->AddRefLock(), object);
  EXPECT_EQ(object->ReferenceCount(), 3);

  weak->ClearObservedObject();
  EXPECT_EQ(weak->AddRefLock(), nullptr);
  EXPECT_EQ(weak->GetObserverdObject(), nullptr);
  EXPECT_EQ(object->ReferenceCount(), 3);  // the object itself is not touched
  for (int i = 0; i < 3; ++i) object->Unref();
  EXPECT_EQ(g_live, 0);
  weak->Unref();
}

TEST(WeakPtrCounter, ProtocolStopsObservingAtTheFinalRelease) {
  Watched* object = new Watched;
  CWeakPtrCounter* weak = object->Weak();
  weak->Ref();  // a weak holder
  EXPECT_EQ(weak->AddRefLock(), nullptr);  // nobody owns it yet
  EXPECT_EQ(object->ReferenceCount(), 0);

  object->Ref();
  CReferenced* strong = weak->AddRefLock();
  ASSERT_EQ(strong, object);
  EXPECT_EQ(object->ReferenceCount(), 2);
  object->Unref();  // the owner lets go; the weak holder's reference remains
  EXPECT_EQ(g_live, 1);
  EXPECT_EQ(weak->GetObserverdObject(), object);

  strong->Unref();  // the last reference: cleared, then destroyed
  EXPECT_EQ(g_live, 0);
  EXPECT_EQ(weak->GetObserverdObject(), nullptr);
  EXPECT_EQ(weak->AddRefLock(), nullptr);
  EXPECT_FALSE(weak->UnrefObserved());
  weak->RefObserved();  // nothing observed: no effect
  EXPECT_EQ(weak->ReferenceCount(), 1);  // only the holder's: the object gave its own back
  weak->Unref();
}

TEST(WeakPtrCounter, UnrefObservedReportsTheFinalRelease) {
  Watched* object = new Watched;
  CWeakPtrCounter* weak = object->Weak();
  weak->Ref();
  weak->RefObserved();
  weak->RefObserved();
  EXPECT_EQ(object->ReferenceCount(), 2);
  EXPECT_FALSE(weak->UnrefObserved());
  EXPECT_EQ(g_live, 1);
  EXPECT_TRUE(weak->UnrefObserved());
  EXPECT_EQ(g_live, 0);
  weak->Unref();
}

}  // namespace
}  // namespace hux
