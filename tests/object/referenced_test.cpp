// Intrusive reference counting: counts, destruction and copying.
#include <hux/object/referenced.h>

#include <gtest/gtest.h>

#include <type_traits>

namespace hux {
namespace {

// Counts live instances so that a test sees exactly when an object dies.
class Tracked : public CReferenced {
 public:
  Tracked() { ++live; }
  Tracked(const Tracked& other) : CReferenced(other) { ++live; }
  Tracked& operator=(const Tracked&) = default;
  static int live;

 protected:
  ~Tracked() override { --live; }
};
int Tracked::live = 0;

static_assert(!std::is_destructible_v<CReferenced>, "only Unref or SignalAndDelete may destroy an object");

TEST(Referenced, UnrefToExactlyZeroDestroys) {
  auto* p = new Tracked;
  EXPECT_EQ(p->ReferenceCount(), 0);
  p->Ref();
  p->Ref();
  p->Unref();
  EXPECT_EQ(Tracked::live, 1);
  p->Unref();
  EXPECT_EQ(Tracked::live, 0);
}

TEST(Referenced, NegativeCountsNeverDestroy) {
  auto* p = new Tracked;
  p->Unref();
  EXPECT_EQ(p->ReferenceCount(), -1);
  EXPECT_EQ(Tracked::live, 1);
  p->Ref();
  EXPECT_EQ(p->ReferenceCount(), 0) << "back to 0 by Ref: still alive";
  EXPECT_EQ(Tracked::live, 1);
  p->Ref();
  p->UnrefNoDelete();
  EXPECT_EQ(p->ReferenceCount(), 0);
  EXPECT_EQ(Tracked::live, 1);
  p->SignalAndDelete(true, false);
  EXPECT_EQ(Tracked::live, 1);
  p->Ref();
  p->Ref();
  p->Ref();
  p->SignalAndDelete(false, true);
  EXPECT_EQ(Tracked::live, 0) << "SignalAndDelete ignores the count";
}

TEST(Referenced, CopiesDoNotCopyTheCount) {
  auto* a = new Tracked;
  for (int i = 0; i < 5; ++i) a->Ref();
  auto* b = new Tracked(*a);
  EXPECT_EQ(b->ReferenceCount(), 0);
  b->Ref();
  *b = *a;
  EXPECT_EQ(b->ReferenceCount(), 1) << "assignment keeps the target's count";
  a->IntrusivePtrAddRef(b);
  EXPECT_EQ(b->ReferenceCount(), 2);
  a->IntrusivePtrRelease(b);
  a->IntrusivePtrRelease(b);
  EXPECT_EQ(Tracked::live, 1);
  a->SignalAndDelete(false, true);
  EXPECT_EQ(Tracked::live, 0);
}

}  // namespace
}  // namespace hux
