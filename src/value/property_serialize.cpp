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
// entry that comes back shorter than its smallest form ends the list), and
// what is kept is bounded by what can matter: 63 product ids, one name per
// packed id. The names a scheme declares are kept with the archive and enter
// the process's schemes only when a property uses them, so a file cannot
// fill the process's tables with names it merely lists.
#include <hux/value/property.h>

#include <algorithm>
#include <bitset>
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
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
constexpr unsigned kMaxProductID = 63;

using ProductTable = std::map<std::wstring, unsigned char, WStringUtf16Less>;
using IdMap = std::map<unsigned short, unsigned short>;

// True when the entry that began at `start` came back whole (at least its
// smallest form); a shorter one means the device has run dry.
bool Delivered(GDbArchive& archive, __int64 start, __int64 minimum) { return archive.DevicePos() - start >= minimum; }

}  // namespace

// The schemes read from one archive, as far as the process has not taken
// them in yet. Names live in one pool of text, each as its length followed
// by its characters, so that a declared name costs three words beside its
// characters.
struct sLoadedSchemes {
  struct Name {
    unsigned short file = 0;  // its packed id in the file
    bool adoptable = false;   // may keep the file's id when numbered here
    uint32_t product = 0;     // the product's name in the pool
    uint32_t name = 0;        // the property's name in the pool
  };
  struct Class {
    std::vector<Name> names;                // ascending file id
    std::map<unsigned short, Name> recent;  // from later schemes of the class; they win
    // Products (by id here) in which names still to be numbered may take
    // new ids, and whether they may also take ids in products yet to be
    // numbered: a property the file leaves unnamed must not sit there.
    std::bitset<kMaxProductID + 1> exposed;
    bool exposedNew = false;
    std::set<unsigned short> targets;  // ids given here to the file's names where they differ
    // The ids given here to the file's names already numbered (also where
    // they equal the file's), so that later properties of a name take it at
    // once instead of numbering the name again.
    std::unordered_map<unsigned short, unsigned short> numbered;

    const Name* Find(unsigned short file) const {
      const auto r = recent.find(file);
      if (r != recent.end()) return &r->second;
      const auto it = std::lower_bound(names.begin(), names.end(), file,
                                       [](const Name& n, unsigned short f) { return n.file < f; });
      return it != names.end() && it->file == file ? &*it : nullptr;
    }
    // A later scheme of the class (only a merged or damaged file has one)
    // overrides the ids it names. Its names wait in `recent` until there are
    // enough to merge at a cost in proportion to them.
    void Add(std::vector<Name>&& fresh) {
      if (names.empty() && recent.empty()) {
        names = std::move(fresh);
        return;
      }
      for (const Name& n : fresh) {
        recent[n.file] = n;
        numbered.erase(n.file);  // the id now names another name
      }
      if (recent.size() <= names.size() / 4 + 64) return;
      std::vector<Name> merged;
      merged.reserve(names.size() + recent.size());
      auto r = recent.begin();
      for (const Name& n : names) {
        for (; r != recent.end() && r->first <= n.file; ++r) merged.push_back(r->second);
        if (merged.empty() || merged.back().file != n.file) merged.push_back(n);
      }
      for (; r != recent.end(); ++r) merged.push_back(r->second);
      names = std::move(merged);
      recent.clear();
    }
  };

  std::map<eXOMDataType, Class> classes;
  // The file's product table when the process had none: products the file
  // uses take these ids while they are free.
  ProductTable products;
  // One bit per packed id, set while a scheme is read (first name wins) and
  // cleared bit by bit after it; dirty while in use, so that a read ended by
  // an exception is followed by a whole clearing.
  std::vector<uint64_t> seen;
  bool seenDirty = false;
  void UseSeen() {
    if (seen.empty() || seenDirty) seen.assign(65536 / 64, 0);
    seenDirty = true;
  }

  // Stores `s` in the pool; false (storing nothing) when the pool is full.
  bool Store(const std::wstring& s, uint32_t& at) {
    if (UINT32_MAX - m_used <= s.size()) return false;
    at = m_used;
    Put(static_cast<wchar_t>(s.size()));
    for (wchar_t c : s) Put(c);
    return true;
  }
  std::wstring Text(uint32_t at) const {
    const auto length = static_cast<uint32_t>(Unit(at));
    std::wstring s;
    s.reserve(length);
    for (uint32_t i = 1; i <= length; ++i) s.push_back(Unit(at + i));
    return s;
  }

 private:
  // The pool grows by chunks that never move, so that growing it never
  // holds the old and the new copy at once.
  static constexpr uint32_t kChunk = 1u << 14;
  wchar_t Unit(uint32_t at) const { return m_chunks[at / kChunk][at % kChunk]; }
  void Put(wchar_t c) {
    if (m_used % kChunk == 0) m_chunks.push_back(std::make_unique<wchar_t[]>(kChunk));
    m_chunks[m_used / kChunk][m_used % kChunk] = c;
    ++m_used;
  }
  std::vector<std::unique_ptr<wchar_t[]>> m_chunks;
  uint32_t m_used = 0;
};

namespace {

// Reads a product table keeping only what can become the process's: ids 1
// to 63, each held by one name (the first in UTF-16 order). A later entry of
// a name replaces its earlier one. At most 63 entries are ever held.
ProductTable ReadProductTable(GDbArchive& archive) {
  ProductTable table;
  const WStringUtf16Less less;
  int count = 0;
  archive >> count;
  for (int i = 0; i < count; ++i) {
    const __int64 start = archive.DevicePos();
    std::wstring name;
    unsigned char id = 0;
    archive >> name >> id;
    if (!Delivered(archive, start, kMinProductEntry)) break;
    table.erase(name);
    if (id < 1 || id > kMaxProductID) continue;
    const auto holder = std::find_if(table.begin(), table.end(), [&](const auto& entry) { return entry.second == id; });
    if (holder != table.end()) {
      if (!less(name, holder->first)) continue;
      table.erase(holder);
    }
    table.emplace(std::move(name), id);
  }
  return table;
}

// Reads a class scheme into `state`'s pool: the names in ascending file id,
// each file id once (the first listed keeps it; id 0 names nothing).
std::vector<sLoadedSchemes::Name> ReadClassScheme(GDbArchive& archive, sLoadedSchemes& state) {
  std::vector<sLoadedSchemes::Name> names;
  state.UseSeen();
  int count = 0;
  archive >> count;
  bool dry = false;
  for (int i = 0; i < count && !dry; ++i) {
    const __int64 start = archive.DevicePos();
    std::wstring product;
    int entries = 0;
    archive >> product >> entries;
    if (!Delivered(archive, start, kMinSchemeProduct)) break;
    bool stored = false;
    uint32_t productAt = 0;
    for (int j = 0; j < entries; ++j) {
      const __int64 at = archive.DevicePos();
      unsigned short packed = 0;
      std::wstring name;
      archive >> packed >> name;
      if (!Delivered(archive, at, kMinSchemeName)) {
        dry = true;
        break;
      }
      uint64_t& word = state.seen[packed / 64];
      const uint64_t bit = uint64_t{1} << (packed % 64);
      if (packed == 0 || (word & bit)) continue;
      sLoadedSchemes::Name entry;
      entry.file = packed;
      if (!stored) stored = state.Store(product, productAt);
      if (!stored || !state.Store(name, entry.name)) continue;  // the pool is full (4 Gi units)
      entry.product = productAt;
      word |= bit;
      names.push_back(entry);
    }
  }
  for (const auto& n : names) state.seen[n.file / 64] = 0;
  state.seenDirty = false;
  std::sort(names.begin(), names.end(), [](const auto& a, const auto& b) { return a.file < b.file; });
  return names;
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
  if (!archive.m_pLoadedSchemes) archive.m_pLoadedSchemes = std::make_shared<sLoadedSchemes>();
  sLoadedSchemes& state = *archive.m_pLoadedSchemes;
  bool hasTable = false;
  archive >> hasTable;
  if (hasTable) {
    ProductTable loaded = ReadProductTable(archive);
    if (m_mapAllProducutID.empty()) state.products = std::move(loaded);
  }
  int fileCode = 0;
  archive >> fileCode;
  std::vector<sLoadedSchemes::Name> names = ReadClassScheme(archive, state);

  // The scheme describes the ids of the collection that carries it, so it is
  // taken into the owner's class; the code in the file serves a collection
  // without an owner.
  code = m_pObject ? m_pObject->GetObjectType() : static_cast<eXOMDataType>(fileCode);
  if (names.empty()) return true;

  // A name the process knows already is mapped now: each file id numbered
  // differently is recorded in the archive's remap. A new name waits until a
  // property uses it. When the process has no names for the class, a new
  // name keeps its file id if that carries its product's id here (or in the
  // file's product table, for a product new here) and is still free then:
  // the file's scheme is adopted as far as it is used.
  const auto cls = m_mapAllClassScheme.find(code);
  bool classHasNames = false;
  if (cls != m_mapAllClassScheme.end())
    for (const auto& entry : cls->second.mapProductScheme)
      classHasNames = classHasNames || !entry.second.mapIDToName.empty();
  sLoadedSchemes::Class& loaded = state.classes[code];
  IdMap* remap = archive.GetMapPropertyID(code, false);
  std::vector<unsigned short> mapped;
  state.UseSeen();
  for (sLoadedSchemes::Name& n : names) {
    const std::wstring product = state.Text(n.product);
    const std::wstring name = state.Text(n.name);
    sPropertyID known;
    if (cls != m_mapAllClassScheme.end()) {
      const auto scheme = cls->second.mapProductScheme.find(product);
      if (scheme != cls->second.mapProductScheme.end()) {
        const auto it = scheme->second.mapNameToID.find(name);
        if (it != scheme->second.mapNameToID.end()) known = it->second;
      }
    }
    if (!known.IsNull()) {
      // A name the file lists under several ids (only a damaged file does)
      // is mapped now under the first; the others when a property uses them.
      uint64_t& word = state.seen[known.Packed() / 64];
      const uint64_t bit = uint64_t{1} << (known.Packed() % 64);
      if (known.Packed() != n.file && !(word & bit)) {
        word |= bit;
        mapped.push_back(known.Packed());
        if (!remap) remap = archive.GetMapPropertyID(code, true);
        (*remap)[n.file] = known.Packed();
        loaded.targets.insert(known.Packed());
        continue;
      }
    }
    if (remap) remap->erase(n.file);  // a stale entry from an earlier scheme of the class
    if (!known.IsNull()) continue;
    unsigned productID = 0;
    const auto here = m_mapAllProducutID.find(product);
    if (here != m_mapAllProducutID.end()) {
      productID = here->second;
    } else {
      const auto there = state.products.find(product);
      if (there != state.products.end()) productID = there->second;
    }
    const sPropertyID id = sPropertyID::FromPacked(n.file);
    n.adoptable = !classHasNames && productID != 0 && id.productID == productID && id.propertyIndex != 0;
    if (n.adoptable) continue;
    if (here != m_mapAllProducutID.end())
      loaded.exposed.set(here->second);
    else
      loaded.exposedNew = true;
  }
  for (unsigned short id : mapped) state.seen[id / 64] = 0;
  state.seenDirty = false;
  loaded.Add(std::move(names));
  return true;
}

unsigned short CPropertyCollection::TranslateLoadedID(GDbArchive& archive, eXOMDataType code, unsigned short packed) {
  sLoadedSchemes* state = archive.m_pLoadedSchemes.get();
  if (!state) return packed;
  const auto found = state->classes.find(code);
  if (found == state->classes.end()) return packed;
  sLoadedSchemes::Class& loaded = found->second;

  if (const auto done = loaded.numbered.find(packed); done != loaded.numbered.end()) return done->second;
  if (const sLoadedSchemes::Name* n = loaded.Find(packed)) {
    // A name of the file: numbered here on its first use (0 when the tables
    // are full, which drops its properties).
    const std::wstring product = state->Text(n->product);
    const bool newProduct = m_mapAllProducutID.count(product) == 0;
    const auto there = state->products.find(product);
    const unsigned short id =
        AssignInClass(code, product, state->Text(n->name), n->adoptable ? packed : 0,
                      there == state->products.end() ? 0 : there->second)
            .Packed();
    if (newProduct && id != 0 && loaded.exposedNew) loaded.exposed.set(id >> 10);
    if (id != packed) {
      (*archive.GetMapPropertyID(code, true))[packed] = id;
      if (id != 0) loaded.targets.insert(id);
    }
    loaded.numbered.emplace(packed, id);
    return id;
  }

  // An id the file leaves unnamed keeps its value unchanged, unless that
  // would put it on one of the file's names: the id this process gave one of
  // them, or a free id that one still to be numbered could take (above the
  // highest id of a product in which such names wait).
  if (loaded.targets.count(packed)) return 0;
  const sPropertyID id = sPropertyID::FromPacked(packed);
  if (id.propertyIndex == 0) return packed;
  const auto product = std::find_if(m_mapAllProducutID.begin(), m_mapAllProducutID.end(),
                                    [&](const auto& entry) { return entry.second == id.productID; });
  if (product == m_mapAllProducutID.end()) return loaded.exposedNew ? 0 : packed;
  if (!loaded.exposed.test(id.productID)) return packed;
  const auto cls = m_mapAllClassScheme.find(code);
  if (cls == m_mapAllClassScheme.end()) return 0;
  const auto scheme = cls->second.mapProductScheme.find(product->first);
  if (scheme == cls->second.mapProductScheme.end() || scheme->second.mapIDToName.empty()) return 0;
  const auto& ids = scheme->second.mapIDToName;
  return ids.count(id) || id.propertyIndex < ids.rbegin()->first.propertyIndex ? packed : 0;
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
  const bool translate = m_pObject != nullptr || hadScheme;
  if (m_pObject) code = m_pObject->GetObjectType();
  const IdMap* remap = translate ? archive.GetMapPropertyID(code, false) : nullptr;
  // The file's names of the class, found once for all its properties.
  const sLoadedSchemes::Class* names = nullptr;
  if (translate && archive.m_pLoadedSchemes) {
    const auto found = archive.m_pLoadedSchemes->classes.find(code);
    if (found != archive.m_pLoadedSchemes->classes.end()) names = &found->second;
  }

  // The former properties' nodes, values included, take the properties read
  // in turn: a collection loaded again allocates nothing for values of the
  // kinds it held. What is left over goes with `former`.
  using PropertyMap = decltype(m_mapProperty);
  PropertyMap former;
  former.swap(m_mapProperty);
  m_itNext = m_mapProperty.end();
  int count = 0;
  archive >> count;
  for (int i = 0; i < count; ++i) {
    const __int64 start = archive.DevicePos();
    unsigned short packed = 0;
    PropertyMap::node_type node = former.empty() ? PropertyMap::node_type() : former.extract(former.begin());
    CVariant fresh;
    CVariant& value = node ? node.mapped() : fresh;
    archive >> packed;
    value.Serialize(archive);
    if (!Delivered(archive, start, kMinProperty)) break;
    if (translate) {
      if (!remap) remap = archive.GetMapPropertyID(code, false);
      IdMap::const_iterator it;
      std::unordered_map<unsigned short, unsigned short>::const_iterator done;
      if (remap && (it = remap->find(packed)) != remap->end())
        packed = it->second;
      else if (names && (done = names->numbered.find(packed)) != names->numbered.end())
        packed = done->second;
      else
        packed = TranslateLoadedID(archive, code, packed);
    }
    // Id 0 is no property (or a dropped one, see above). Two properties of
    // one collection on the same id can come only from a damaged file (a
    // scheme listing one name under two ids, or an id twice); the first read
    // is kept.
    if (packed == 0) continue;
    // Ids come in ascending order from a writer: each goes at the end.
    const sPropertyID id = sPropertyID::FromPacked(packed);
    if (node) {
      node.key() = id;
      m_mapProperty.insert(m_mapProperty.end(), std::move(node));
    } else {
      m_mapProperty.emplace_hint(m_mapProperty.end(), id, std::move(fresh));
    }
  }
  return true;
}

}  // namespace hux
