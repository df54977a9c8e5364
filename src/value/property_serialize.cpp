// CPropertyCollection persistence: the scheme once per class and archive, the
// product table with the archive's first scheme, and the ids of every later
// collection of the class translated through the archive's remap.
//
// Form of one collection: bool scheme flag; when 1, bool product-table flag,
// the product table when that is 1 (int count, then name and unsigned char id
// per product, in name order), the int class code and the class scheme (int
// product count, then per product in name order its name, an int name count
// and per name the unsigned short packed id and the name, ascending by id);
// then the int property count and per property the packed id and the variant.
//
// Reading trusts nothing: counts are bounded by what the device delivers (an
// entry that comes back shorter than its smallest form ends the list), and a
// scheme is adopted as it stands only when it fits the process's product
// table and names every id once; anything else is merged name by name.
#include <hux/value/property.h>

#include <algorithm>
#include <set>
#include <utility>
#include <vector>

#include <hux/io/archive.h>
#include <hux/object/base.h>

namespace hux {

namespace {

// The smallest archive form of each list entry: a wide string is at least its
// 4-byte count, a variant its 4-byte code.
constexpr __int64 kMinProductEntry = 4 + 1;   // name, id
constexpr __int64 kMinSchemeProduct = 4 + 4;  // name, name count
constexpr __int64 kMinSchemeName = 2 + 4;     // packed id, name
constexpr __int64 kMinProperty = 2 + 4;       // packed id, variant

using ProductTable = std::map<std::wstring, unsigned char, WStringUtf16Less>;
using IdMap = std::map<unsigned short, unsigned short>;

// A class scheme as the file gives it, before any checking.
struct LoadedName {
  unsigned short packed;
  std::wstring name;
};
struct LoadedProduct {
  std::wstring name;
  std::vector<LoadedName> names;
};

// True when the entry that began at `start` came back whole (at least its
// smallest form); a shorter one means the device has run dry.
bool Delivered(GDbArchive& archive, __int64 start, __int64 minimum) { return archive.DevicePos() - start >= minimum; }

ProductTable ReadProductTable(GDbArchive& archive) {
  ProductTable table;
  int count = 0;
  archive >> count;
  for (int i = 0; i < count; ++i) {
    const __int64 start = archive.DevicePos();
    std::wstring name;
    unsigned char id = 0;
    archive >> name >> id;
    if (!Delivered(archive, start, kMinProductEntry)) break;
    table[name] = id;  // a later entry of the same name wins
  }
  return table;
}

// The file's class scheme, products sorted by name (entries of one name
// joined) and names by ascending packed id, as a merge must visit them.
std::vector<LoadedProduct> ReadClassScheme(GDbArchive& archive) {
  std::vector<LoadedProduct> products;
  int count = 0;
  archive >> count;
  bool dry = false;
  for (int i = 0; i < count && !dry; ++i) {
    const __int64 start = archive.DevicePos();
    LoadedProduct product;
    int names = 0;
    archive >> product.name >> names;
    if (!Delivered(archive, start, kMinSchemeProduct)) break;
    for (int j = 0; j < names; ++j) {
      const __int64 at = archive.DevicePos();
      LoadedName entry{0, {}};
      archive >> entry.packed >> entry.name;
      if (!Delivered(archive, at, kMinSchemeName)) {
        dry = true;
        break;
      }
      product.names.push_back(std::move(entry));
    }
    products.push_back(std::move(product));
  }
  const WStringUtf16Less less;
  std::stable_sort(products.begin(), products.end(),
                   [&](const LoadedProduct& a, const LoadedProduct& b) { return less(a.name, b.name); });
  std::vector<LoadedProduct> joined;
  for (auto& product : products) {
    if (!joined.empty() && joined.back().name == product.name) {
      auto& into = joined.back().names;
      into.insert(into.end(), std::make_move_iterator(product.names.begin()),
                  std::make_move_iterator(product.names.end()));
    } else {
      joined.push_back(std::move(product));
    }
  }
  for (auto& product : joined)
    std::stable_sort(product.names.begin(), product.names.end(),
                     [](const LoadedName& a, const LoadedName& b) { return a.packed < b.packed; });
  return joined;
}

// A loaded product table becomes the process's only with ids that fit a
// property id (1 to 63), each used once (the first name in order keeps it).
ProductTable CheckedProductTable(const ProductTable& loaded) {
  ProductTable table;
  std::set<unsigned char> used;
  for (const auto& [name, id] : loaded)
    if (id >= 1 && id <= 63 && used.insert(id).second) table.emplace(name, id);
  return table;
}

}  // namespace

bool CPropertyCollection::SerializePropertyScheme(GDbArchive& archive) {
  if (archive.IsLoading()) {
    eXOMDataType code = DT_UNDEFINED;
    ReadPropertyScheme(archive, code);
  } else {
    WritePropertyScheme(archive);
  }
  return true;
}

void CPropertyCollection::WritePropertyScheme(GDbArchive& archive) {
  std::set<eXOMDataType>& archived = archive.GetArchivedPropertyScheme();
  const sOneClassAllScheme* scheme = nullptr;
  eXOMDataType code = DT_UNDEFINED;
  if (m_pObject && !m_mapAllClassScheme.empty()) {
    code = m_pObject->GetObjectType();
    const auto it = m_mapAllClassScheme.find(code);
    if (it != m_mapAllClassScheme.end() && archived.count(code) == 0) scheme = &it->second;
  }
  archive << (scheme != nullptr);
  if (!scheme) return;

  const bool withTable = archived.empty();
  archive << withTable;
  if (withTable) {
    archive << static_cast<int>(m_mapAllProducutID.size());
    for (const auto& [name, id] : m_mapAllProducutID) archive << name << id;
  }
  archive << static_cast<int>(code);
  archive << static_cast<int>(scheme->mapProductScheme.size());
  for (const auto& [product, names] : scheme->mapProductScheme) {
    archive << product << static_cast<int>(names.mapIDToName.size());
    for (const auto& [id, name] : names.mapIDToName) archive << id.Packed() << name;
  }
  archived.insert(code);
}

bool CPropertyCollection::ReadPropertyScheme(GDbArchive& archive, eXOMDataType& code) {
  bool hasScheme = false;
  archive >> hasScheme;
  if (!hasScheme) return false;
  bool hasTable = false;
  archive >> hasTable;
  if (hasTable) {
    const ProductTable loaded = ReadProductTable(archive);
    if (m_mapAllProducutID.empty()) m_mapAllProducutID = CheckedProductTable(loaded);
  }
  int fileCode = 0;
  archive >> fileCode;
  std::vector<LoadedProduct> products = ReadClassScheme(archive);

  // The scheme describes the ids of the collection that carries it, so it is
  // taken into the owner's class; the code in the file serves a collection
  // without an owner.
  code = m_pObject ? m_pObject->GetObjectType() : static_cast<eXOMDataType>(fileCode);

  // Adopt the file's scheme unchanged when the process has no names for the
  // class and the file's ids are sound here: each carries its product's id in
  // the process's product table, has an index, and each id and each name
  // appears once per product. (A product's part differs per product, so ids
  // cannot repeat across products.) Ids that do not fit would collide with the
  // ids of other products once new names are assigned, so such a scheme is
  // merged instead, into the empty class, which numbers the names afresh.
  auto cls = m_mapAllClassScheme.find(code);
  bool classHasNames = false;
  if (cls != m_mapAllClassScheme.end())
    for (const auto& entry : cls->second.mapProductScheme)
      classHasNames = classHasNames || !entry.second.mapIDToName.empty();
  if (!classHasNames) {
    sOneClassAllScheme adopted;
    bool sound = true;
    for (const LoadedProduct& product : products) {
      sOneClassSchemeIDName& scheme = adopted.mapProductScheme[product.name];
      if (product.names.empty()) continue;
      const auto table = m_mapAllProducutID.find(product.name);
      if (table == m_mapAllProducutID.end()) {
        sound = false;
        break;
      }
      for (const LoadedName& entry : product.names) {
        const sPropertyID id = sPropertyID::FromPacked(entry.packed);
        if (id.productID != table->second || id.propertyIndex == 0 ||
            !scheme.mapIDToName.emplace(id, entry.name).second || !scheme.mapNameToID.emplace(entry.name, id).second) {
          sound = false;
          break;
        }
      }
      if (!sound) break;
    }
    if (sound) {
      // Empty product schemes the class already had stay, as a merge would keep them.
      if (cls != m_mapAllClassScheme.end())
        for (const auto& entry : cls->second.mapProductScheme) adopted.mapProductScheme.try_emplace(entry.first);
      m_mapAllClassScheme[code] = std::move(adopted);
      return true;
    }
  }

  // Merge: every name gets the process's id (found or assigned); each file id
  // numbered differently is recorded in the archive's remap for the class.
  // A file id listed twice keeps its first name (products in name order, ids
  // ascending); id 0 names nothing. A name the process cannot number (tables
  // full) maps to 0, and its properties are dropped on reading.
  IdMap* remap = archive.GetMapPropertyID(code, false);
  std::set<unsigned short> named;
  for (const LoadedProduct& product : products) {
    for (const LoadedName& entry : product.names) {
      if (entry.packed == 0 || !named.insert(entry.packed).second) continue;
      const unsigned short id = AssignInClass(code, product.name, entry.name).Packed();
      if (id != entry.packed) {
        if (!remap) remap = archive.GetMapPropertyID(code, true);
        (*remap)[entry.packed] = id;
      } else if (remap) {
        remap->erase(entry.packed);  // a stale entry from an earlier scheme of the class
      }
    }
  }
  // A file id that the file leaves unnamed keeps its value unchanged on
  // reading. When this process has given that id to one of the file's names
  // (as the remap's target), such a property would land on that name and
  // overwrite or be overwritten by its value: it is dropped instead.
  if (remap) {
    std::vector<unsigned short> orphans;
    for (const auto& [from, to] : *remap)
      if (to != 0 && remap->count(to) == 0 && named.count(to) == 0) orphans.push_back(to);
    for (unsigned short id : orphans) (*remap)[id] = 0;
  }
  return true;
}

bool CPropertyCollection::Serialize(GDbArchive& archive) {
  if (!archive.IsLoading()) {
    WritePropertyScheme(archive);
    archive << static_cast<int>(m_mapProperty.size());
    for (auto& [id, value] : m_mapProperty) {
      archive << id.Packed();
      value.Serialize(archive);
    }
    return archive.IsAllWriteDataOK();  // false once the device lost a write
  }

  eXOMDataType code = DT_UNDEFINED;
  const bool hadScheme = ReadPropertyScheme(archive, code);
  const IdMap* remap = nullptr;
  if (m_pObject)
    remap = archive.GetMapPropertyID(m_pObject->GetObjectType(), false);
  else if (hadScheme)
    remap = archive.GetMapPropertyID(code, false);

  m_mapProperty.clear();
  m_itNext = m_mapProperty.end();
  int count = 0;
  archive >> count;
  for (int i = 0; i < count; ++i) {
    const __int64 start = archive.DevicePos();
    unsigned short packed = 0;
    CVariant value;
    archive >> packed;
    value.Serialize(archive);
    if (!Delivered(archive, start, kMinProperty)) break;
    if (remap) {
      const auto it = remap->find(packed);
      if (it != remap->end()) packed = it->second;
    }
    // Id 0 is no property (or a dropped one, see the merge). Two properties of
    // one collection on the same id can come only from a damaged file (a
    // scheme listing one name under two ids, or an id twice); the first read
    // is kept.
    if (packed != 0) m_mapProperty.emplace(sPropertyID::FromPacked(packed), std::move(value));
  }
  return true;
}

}  // namespace hux
