// Object tags and the layout of the device's context.
#include <hux/object/objtag.h>

#include <gtest/gtest.h>

#include <type_traits>

#include <hux/object/dbdevice.h>
#include <hux/object/referenced.h>

namespace hux {
namespace {

static_assert(!std::is_destructible_v<CReferenced>, "only Unref or SignalAndDelete may destroy an object");
static_assert(sizeof(IODeviceContext) == 16, "twelve one-byte flags and a 32-bit mode");

TEST(ObjTag, EqualityNeedsIdAndPointer) {
  int p = 0, q = 0;
  EXPECT_TRUE(GObjTag(5, &p) == GObjTag(5, &p));
  EXPECT_FALSE(GObjTag(5, &p) == GObjTag(5, &q));
  EXPECT_FALSE(GObjTag(5, &p) == GObjTag(6, &p));
}

}  // namespace
}  // namespace hux
