// What hostile input may cost the readers: memory within a small factor of the
// input (counted by this program's allocation functions), and linear time.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <new>
#include <string>
#include <vector>

#include "value/property_test_util.h"

namespace {

// Bytes held through operator new and their peak; each block carries its size.
std::atomic<size_t> g_live{0};
std::atomic<size_t> g_peak{0};
constexpr size_t kHeader = alignof(std::max_align_t);

void* Allocate(size_t size) {
  auto* block = static_cast<unsigned char*>(std::malloc(size + kHeader));
  if (!block) throw std::bad_alloc();
  *reinterpret_cast<size_t*>(block) = size;
  const size_t now = g_live += size;
  size_t peak = g_peak.load();
  while (now > peak && !g_peak.compare_exchange_weak(peak, now)) {
  }
  return block + kHeader;
}

void Release(void* p) noexcept {
  if (!p) return;
  auto* block = static_cast<unsigned char*>(p) - kHeader;
  g_live -= *reinterpret_cast<size_t*>(block);
  std::free(block);
}


}  // namespace

void* operator new(size_t size) { return Allocate(size); }
void* operator new[](size_t size) { return Allocate(size); }
void operator delete(void* p) noexcept { Release(p); }
void operator delete[](void* p) noexcept { Release(p); }
void operator delete(void* p, size_t) noexcept { Release(p); }
void operator delete[](void* p, size_t) noexcept { Release(p); }

namespace hux {
namespace {

using test::FileScheme;
using test::Owner;

// A collection whose scheme lists `count` names of product HUX under the ids
// 1, 2, ... (wrapping at 65,536), and no properties.
std::function<void(GDbArchive&)> Names(int count, std::wstring (*name)(int)) {
  return [=](GDbArchive& ar) {
    ar << true << false << 0x7301 << 1 << std::wstring(L"HUX") << count;
    for (int i = 1; i <= count; ++i) ar << static_cast<unsigned short>(i) << name(i);
    ar << 0;
  };
}

TEST(ReaderBounds, MemoryWithinASmallFactorOfTheInput) {
  Owner owner(0x7301);
  const struct {
    const char* what;
    std::function<void(GDbArchive&)> write;
    int collections;  // read as property collections, or 0: as one variant
    double factor;    // bytes held at most per input byte, beyond one chunk of 64 KiB
  } cases[] = {
      {"a scheme of a million empty names", Names(1000000, [](int) { return std::wstring(); }), 1, 0.5},
      {"a scheme of 65,535 empty names", Names(65535, [](int) { return std::wstring(); }), 1, 4.0},
      {"one known name under 65,535 ids", Names(65535, [](int) { return std::wstring(L"k"); }), 1, 4.0},
      {"a scheme of 65,535 distinct names", Names(65535, [](int i) { return L"name" + std::to_wstring(i); }), 1, 4.0},
      {"a product table of 300,000 names", [](GDbArchive& ar) {
         ar << true << true << 300000;
         for (int i = 0; i < 300000; ++i) ar << L"P" + std::to_wstring(i) << static_cast<unsigned char>(i % 64);
         ar << 0x7301 << 0 << 0;
       }, 1, 0.1},
      {"a scheme per collection, 20,000 collections", [](GDbArchive& ar) {
         for (int i = 0; i < 20000; ++i)
           test::WriteCollection(ar, FileScheme{{}, 0x7301, {{L"HUX", {{static_cast<unsigned short>(i), L"n"}}}}},
                                 {});
       }, 20000, 2.0},
      {"a million properties", [](GDbArchive& ar) {
         ar << false << 1000000;
         for (int i = 0; i < 1000000; ++i) ar << static_cast<unsigned short>(i) << 1 << i;
       }, 1, 1.0},
      {"65,535 properties of empty values", [](GDbArchive& ar) {
         ar << false << 65535;
         for (int i = 1; i <= 65535; ++i) ar << static_cast<unsigned short>(i) << 0;
       }, 1, 10.0},  // the collection's own entries, 56 bytes each
      {"a string of two million bytes", [](GDbArchive& ar) { CVariant(std::string(2000000, 'x')).Serialize(ar); }, 0,
       1.0},
      {"a wide string of a million units", [](GDbArchive& ar) {
         CVariant(std::wstring(1000000, L'x')).Serialize(ar);
       }, 0, 4.0},
      {"a kept object of two million bytes", [](GDbArchive& ar) {
         ar << 0x7E01 << true << false << true;  // a code no record serves
         const void* key = reinterpret_cast<const void*>(ar.CreateNewObjectID());
         ar.BeginWriteObject(key, 1);
         ar.BeginWriteBlock(1, key);
         ar << std::string(2000000, 'x');
         ar.EndWriteBlock(1, key);
         ar.EndWriteObject(key);
       }, 0, 1.0},
      {"65,535 properties of kept values", [](GDbArchive& ar) {
         ar << false << 65535;
         for (int i = 1; i <= 65535; ++i) ar << static_cast<unsigned short>(i) << 0x7E01 << true << false << true
                                             << static_cast<unsigned short>(1) << static_cast<unsigned char>(0);
       }, 1, 10.0},  // the collection's entries and a holder of the kept bytes each
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.what);
    CPropertyCollection::ClearPropertyScheme();
    const std::vector<unsigned char> bytes = test::Written(k.write);
    GMemStream mem;
    test::Load(mem, bytes);
    CPropertyCollection c(&owner);
    c.SetProperty(L"k", CVariant(0));
    CVariant v;
    const size_t before = g_live.load();
    g_peak = before;
    {
      GDbArchiveImpl ar(&mem);
      for (int i = 0; i < k.collections; ++i) c.Serialize(ar);
      if (k.collections == 0) v.Serialize(ar);
    }
    const size_t peak = g_peak.load() - before;
    EXPECT_LE(static_cast<double>(peak), k.factor * static_cast<double>(bytes.size()) + 65536.0)
        << peak << " bytes held for " << bytes.size() << " read";
  }
  CPropertyCollection::ClearPropertyScheme();
}

TEST(ReaderBounds, EmptySchemesAfterALargeRemapCostLinearTime) {
  // 64,008 names numbered in the reverse of the file's order; 20,000 empty schemes follow.
  CPropertyCollection::ClearPropertyScheme();
  Owner owner(0x7302);
  CPropertyCollection c(&owner);
  FileScheme scheme{{}, 0x7302, {}};
  for (unsigned p = 1; p <= 63; ++p) {
    const std::wstring product = p == 1 ? L"HUX" : L"P" + std::to_wstring(p);
    CPropertyCollection::AssignProducutID(product);
    scheme.products.push_back({product, {}});
    for (unsigned i = 1016; i >= 1; --i) c.AssignPropertyID(product, 0, std::to_wstring(i));
    for (unsigned i = 1; i <= 1016; ++i)
      scheme.products.back().second.emplace_back(static_cast<unsigned short>(p * 1024 + i), std::to_wstring(i));
  }
  const std::vector<unsigned char> bytes = test::Written([&](GDbArchive& ar) {
    test::WriteCollection(ar, scheme, {{1025, 1}});
    for (int i = 0; i < 20000; ++i) test::WriteCollection(ar, FileScheme{{}, 0x7302, {}}, {});
  });
  GMemStream mem;
  test::Load(mem, bytes);
  GDbArchiveImpl ar(&mem);
  const auto start = std::chrono::steady_clock::now();
  c.Serialize(ar);
  EXPECT_EQ(ar.GetMapPropertyID(static_cast<eXOMDataType>(0x7302), false)->size(), 64008u);
  for (int i = 0; i < 20000; ++i) c.Serialize(ar);
  EXPECT_EQ(ar.DevicePos(), static_cast<long long>(bytes.size()));
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 5.0);
  CPropertyCollection::ClearPropertyScheme();
}

}  // namespace
}  // namespace hux
