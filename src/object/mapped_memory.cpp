#include <hux/object/mapped_memory.h>

#include <algorithm>
#include <limits>
#include <mutex>
#include <new>

#include <boost/interprocess/creation_tags.hpp>
#include <boost/interprocess/exceptions.hpp>
#include <boost/interprocess/managed_external_buffer.hpp>

#include <hux/platform/mapped_file.h>

namespace hux {

namespace {

namespace bip = boost::interprocess;

constexpr const char* kFileName = "hux_mapped_file";
constexpr unsigned long long kInitialSpace = 16777216;  // 16 MiB beside the first request
// Address space reserved for the region: its largest size. Reserving costs
// neither memory nor swap.
constexpr unsigned long long kReservation = 64ull << 30;

// The segment manager with its best-fit allocator. Its own lock would be a
// null mutex here: the region is serialised by the lock below, which also
// covers growing, something the segment manager does not lock.
using Heap = bip::managed_external_buffer;

struct Region {
  platform::GrowableFileMapping mapping;
  Heap heap;
};

std::mutex& RegionLock() {
  static std::mutex lock;
  return lock;
}

// Created by the first successful mapped_malloc and kept until the process
// ends (blocks in it may be used until then).
Region* g_region = nullptr;

// n rounded down to a multiple of 1024, plus 1024.
unsigned long long Rounded(unsigned long long n) { return (n + 1024) & ~1023ull; }

Region* CreateRegion(unsigned long long rounded) {
  const unsigned long long size = rounded + 16 + kInitialSpace;
  platform::GrowableFileMapping mapping;
  if (int err = platform::CreateGrowableFileMapping(kFileName, size, std::max(kReservation, size), mapping))
    throw bip::interprocess_exception(bip::error_info(err));
  try {
    return new Region{mapping, Heap(bip::create_only, mapping.base, mapping.size)};
  } catch (...) {
    platform::CloseFileMapping(mapping);
    throw;
  }
}

}  // namespace

void* mapped_malloc(unsigned __int64 size) {
  // Sizes this large would wrap the arithmetic below; no region holds them.
  if (size > kReservation) throw bip::bad_alloc();
  const unsigned long long rounded = Rounded(size);

  std::lock_guard<std::mutex> guard(RegionLock());
  if (!g_region) g_region = CreateRegion(rounded);
  Heap& heap = g_region->heap;
  if (void* block = heap.allocate(size, std::nothrow)) return block;

  // Grow by about half the region plus the request, then try once more. A
  // growth that fails (full disk, reservation used up) is not reported by
  // itself: the retry below then throws the allocation exception.
  const unsigned long long extra = (heap.get_size() + 8) / 2 + rounded + 16;
  if (platform::GrowFileMapping(g_region->mapping, extra) == 0) heap.grow(extra);
  return heap.allocate(size);
}

void mapped_free(void* block) {
  if (!block) return;
  std::lock_guard<std::mutex> guard(RegionLock());
  if (!g_region || !g_region->heap.belongs_to_segment(block)) return;
  g_region->heap.deallocate(block);
}

}  // namespace hux
