// Property collections from an archive: product tables, schemes adopted or
// merged, remaps. The first byte chooses what the process knows before; the
// rest is read as collections of owners 0x7101, 0x7101, 0x7102, none, ...
// Read, written and read again they are equal, the written form is a fixed
// point, and a process that knows nothing reads the same ids and values.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include <hux/io/archive.h>
#include <hux/io/memstream.h>
#include <hux/object/base.h>
#include <hux/value/property.h>

#include "value/property_test_util.h"

namespace {

using namespace hux;

test::Owner g_a(0x7101), g_b(0x7102);

IBase* OwnerOf(size_t i) {
  IBase* const owners[] = {&g_a, &g_a, &g_b, nullptr};
  return owners[i % 4];
}

using Collections = std::vector<std::unique_ptr<CPropertyCollection>>;

// What the process knows before the first reading.
void Prelude(unsigned char choice) {
  CPropertyCollection::ClearPropertyScheme();
  CPropertyCollection a(&g_a), b(&g_b);  // "HUX" is product 1
  switch (choice % 4) {
    case 0:
      CPropertyCollection::ClearPropertyScheme();  // the file's tables are adopted
      break;
    case 1:  // the pinned names, numbered in another order
      for (const wchar_t* n : {L"X", L"V", L"W"}) a.AssignPropertyID(L"HUX", 0, n);
      b.AssignPropertyID(L"HUX", 0, L"X");
      break;
    case 2:  // products in another order
      CPropertyCollection::ClearPropertyScheme();
      CPropertyCollection::AssignProducutID(L"ACME");
      b.SetActiveProduct(L"ACME");
      b.SetProperty(L"W", CVariant(0));
      break;
    default:  // a full product table: new products get no id
      for (int i = 2; i <= 63; ++i) CPropertyCollection::AssignProducutID(L"P" + std::to_wstring(i));
      break;
  }
}

void PadTo(Collections& collections, size_t n) {
  while (collections.size() < n) collections.push_back(std::make_unique<CPropertyCollection>(OwnerOf(collections.size())));
}

// Reads at most `limit` collections into `collections`; returns how many.
size_t ReadInto(std::vector<char> bytes, Collections& collections, size_t limit) {
  if (bytes.empty()) return 0;
  GMemStream mem(false, bytes.data(), static_cast<unsigned int>(bytes.size()));
  GDbArchiveImpl archive(&mem);
  size_t n = 0;
  while (n < limit && archive.DevicePos() < static_cast<__int64>(bytes.size())) {
    const __int64 start = archive.DevicePos();
    PadTo(collections, n + 1);
    collections[n++]->Serialize(archive);
    if (archive.DevicePos() == start) break;
  }
  return n;
}

std::vector<char> WriteAll(const Collections& collections, size_t n) {
  GMemStream mem(true, nullptr, 0);
  GDbArchiveImpl archive(&mem);
  for (size_t i = 0; i < n; ++i) collections[i]->Serialize(archive);
  return std::vector<char>(mem.GetData(), mem.GetData() + mem.GetDataSize());
}

// The ids and values of a collection: its archive form without the scheme.
std::vector<char> Content(CPropertyCollection& c, size_t i) {
  GMemStream mem(true, nullptr, 0);
  GDbArchiveImpl archive(&mem);
  if (IBase* owner = OwnerOf(i)) archive.GetArchivedPropertyScheme().insert(owner->GetObjectType());
  c.Serialize(archive);
  return std::vector<char>(mem.GetData(), mem.GetData() + mem.GetDataSize());
}

void Require(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  Prelude(data[0]);
  const std::vector<char> input(data + 1, data + size);
  Collections first;
  const size_t n = ReadInto(input, first, 64);

  const std::vector<char> written = WriteAll(first, n);
  Collections second;
  Require(ReadInto(written, second, n) == n || written.empty());
  PadTo(second, n);
  for (size_t i = 0; i < n; ++i) Require(Content(*first[i], i) == Content(*second[i], i));
  Require(WriteAll(second, n) == written);

  Collections fresh;
  PadTo(fresh, n);
  CPropertyCollection::ClearPropertyScheme();
  ReadInto(written, fresh, n);
  for (size_t i = 0; i < n; ++i) Require(Content(*first[i], i) == Content(*fresh[i], i));
  CPropertyCollection::ClearPropertyScheme();
  return 0;
}
