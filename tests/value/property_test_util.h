// Owners of a chosen class, the process-wide scheme tables, and archive
// helpers for the property collection tests.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include <hux/io/archive.h>
#include <hux/object/base.h>
#include <hux/value/property.h>

#include "test_util.h"

namespace hux::test {

class Owner : public IBase {
 public:
  explicit Owner(int code) : m_code(static_cast<eXOMDataType>(code)) {}
  eXOMDataType GetObjectType() override { return m_code; }

 private:
  eXOMDataType m_code;
};

struct Tables : CPropertyCollection {
  static std::map<eXOMDataType, sOneClassAllScheme>& Classes() { return m_mapAllClassScheme; }
  static std::map<std::wstring, unsigned char, WStringUtf16Less>& Products() { return m_mapAllProducutID; }
};

// A class scheme as a file carries it: the product table (if any), then per
// product the names by packed id.
struct FileScheme {
  std::vector<std::pair<std::wstring, unsigned char>> table;
  int code = 0;
  std::vector<std::pair<std::wstring, std::vector<std::pair<unsigned short, std::wstring>>>> products;
};

// (product, name, value) of each property, by First and Next.
inline std::vector<std::tuple<std::wstring, std::wstring, int>> Visit(CPropertyCollection& c) {
  std::vector<std::tuple<std::wstring, std::wstring, int>> out;
  std::wstring product, name;
  CVariant value;
  for (c.First(); c.Next(product, name, value);) out.emplace_back(product, name, value.toInt());
  return out;
}

inline void WriteCollection(GDbArchive& ar, const FileScheme& scheme,
                            const std::vector<std::pair<unsigned short, int>>& properties) {
  ar << true << !scheme.table.empty();
  if (!scheme.table.empty()) {
    ar << static_cast<int>(scheme.table.size());
    for (const auto& [name, id] : scheme.table) ar << name << id;
  }
  ar << scheme.code << static_cast<int>(scheme.products.size());
  for (const auto& [product, names] : scheme.products) {
    ar << product << static_cast<int>(names.size());
    for (const auto& [id, name] : names) ar << id << name;
  }
  ar << static_cast<int>(properties.size());
  for (const auto& [id, value] : properties) {
    ar << id;
    CVariant(value).Serialize(ar);
  }
}

// The bytes that `write` puts into a fresh archive.
inline std::vector<unsigned char> Written(const std::function<void(GDbArchive&)>& write) {
  GMemStream mem(true, nullptr, 0);
  {
    GDbArchiveImpl archive(&mem);
    write(archive);
  }
  return Bytes(mem);
}

// Writes the collections, in order, into one fresh archive.
inline std::vector<unsigned char> WriteAll(const std::vector<CPropertyCollection*>& collections) {
  return Written([&](GDbArchive& archive) {
    for (CPropertyCollection* c : collections) c->Serialize(archive);
  });
}

// Reads the collections from one archive over `bytes`, after `prepare`; then
// `inspect` sees the archive.
inline void ReadAll(const std::vector<unsigned char>& bytes, const std::vector<CPropertyCollection*>& collections,
                    const std::function<void(GDbArchive&)>& inspect = {},
                    const std::function<void(GDbArchive&)>& prepare = {}) {
  GMemStream mem;
  Load(mem, bytes);
  GDbArchiveImpl archive(&mem);
  if (prepare) prepare(archive);
  for (CPropertyCollection* c : collections) c->Serialize(archive);
  if (inspect) inspect(archive);
}

inline std::map<unsigned short, unsigned short> RemapOf(GDbArchive& archive, int code) {
  const auto* remap = archive.GetMapPropertyID(static_cast<eXOMDataType>(code), false);
  return remap ? *remap : std::map<unsigned short, unsigned short>{};
}

}  // namespace hux::test
