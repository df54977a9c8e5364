// The geometric value types a variant copies, and the variant's own copies.
//
// CVec2, CVec3, CBox3 and CCoord3 stand for the value types of the platform's
// geometry component, which this library does not depend on: plain templates
// of exactly 2, 3, 6 and 12 elements, with no other members, so that a value
// of the component can be copied bitwise into them. LocalVec2d, LocalVec3d,
// LocalBox and LocalCoord3d are the variant's own classes for these values,
// laid out exactly as the double instances; FileAddress is one 64-bit word
// whose meaning belongs to the host. All are plain data: copy them freely,
// from any thread.
#pragma once

#include <type_traits>

namespace hux {

template <class T>
struct CVec2 {
  T x, y;
};

template <class T>
struct CVec3 {
  T x, y, z;
};

// An axis-aligned box: its lower and upper corners.
template <class T>
struct CBox3 {
  CVec3<T> lower, upper;
};

// A coordinate system: its origin and its three axes.
template <class T>
struct CCoord3 {
  CVec3<T> origin, xAxis, yAxis, zAxis;
};

struct LocalVec2d {
  double x, y;
};

struct LocalVec3d {
  double x, y, z;
};

struct LocalBox {
  LocalVec3d lower, upper;
};

struct LocalCoord3d {
  LocalVec3d origin, xAxis, yAxis, zAxis;
};

struct FileAddress {
  unsigned long long address;
};

// The variant copies the geometry values bitwise into its own classes: the
// sizes must agree exactly and both sides must be trivially copyable.
static_assert(sizeof(CVec2<double>) == 2 * sizeof(double) && sizeof(LocalVec2d) == sizeof(CVec2<double>));
static_assert(sizeof(CVec3<double>) == 3 * sizeof(double) && sizeof(LocalVec3d) == sizeof(CVec3<double>));
static_assert(sizeof(CBox3<double>) == 6 * sizeof(double) && sizeof(LocalBox) == sizeof(CBox3<double>));
static_assert(sizeof(CCoord3<double>) == 12 * sizeof(double) && sizeof(LocalCoord3d) == sizeof(CCoord3<double>));
static_assert(sizeof(FileAddress) == 8);
static_assert(std::is_trivially_copyable_v<CCoord3<double>> && std::is_trivially_copyable_v<LocalCoord3d>);
static_assert(std::is_trivially_copyable_v<CBox3<double>> && std::is_trivially_copyable_v<LocalBox>);

}  // namespace hux
