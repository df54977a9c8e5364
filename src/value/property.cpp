// CPropertyCollection: values by id, names through the process-wide schemes.
#include <hux/value/property.h>

#include <algorithm>
#include <bitset>
#include <cstdint>
#include <cstring>
#include <vector>

#include <emmintrin.h>

#include <hux/object/base.h>

namespace hux {

std::map<eXOMDataType, sOneClassAllScheme> CPropertyCollection::m_mapAllClassScheme;
std::map<std::wstring, unsigned char, WStringUtf16Less> CPropertyCollection::m_mapAllProducutID;

namespace {

constexpr unsigned kMaxProductID = 63;       // 6 bits
constexpr unsigned kMaxPropertyIndex = 1023;  // 10 bits
constexpr wchar_t kDefaultProduct[] = L"HUX";

// Steps through the UTF-16 code units of wide text as the archive writes them:
// a character above U+FFFF is a surrogate pair, a value beyond U+10FFFF is
// U+FFFD.
class Utf16Units {
 public:
  Utf16Units(const wchar_t* begin, const wchar_t* end) : m_p(begin), m_end(end) {}
  bool Done() const { return m_low == 0 && m_p == m_end; }
  char16_t Next() {
    if (m_low != 0) {
      const char16_t unit = m_low;
      m_low = 0;
      return unit;
    }
    const auto c = static_cast<char32_t>(*m_p++);
    if (c <= 0xFFFF) return static_cast<char16_t>(c);
    if (c > 0x10FFFF) return u'\xFFFD';
    m_low = static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    return static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
  }

 private:
  const wchar_t* m_p;
  const wchar_t* m_end;
  char16_t m_low = 0;  // the low surrogate still to come, or 0
};

// The index of the first position below n where a and b differ, or n.
// Names often share long beginnings (Material_1, Material_2, ...): four
// characters are compared at a time.
size_t Mismatch(const wchar_t* a, const wchar_t* b, size_t n) {
  static_assert(sizeof(wchar_t) == 4, "four characters to a 128-bit word");
  size_t i = 0;
  for (; i + 4 <= n; i += 4) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i));
    const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i));
    const unsigned differ = ~static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi32(x, y))) & 0xFFFFu;
    if (differ) return i + static_cast<size_t>(__builtin_ctz(differ)) / 4;
  }
  while (i < n && a[i] == b[i]) ++i;
  return i;
}

// Whether the n characters at x and at y are the same; inline, for the
// index's short keys.
inline bool SameChars(const wchar_t* x, const wchar_t* y, size_t n) {
  if (n < 4) {
    for (size_t i = 0; i < n; ++i)
      if (x[i] != y[i]) return false;
    return true;
  }
  // Four characters at a time, the last four overlapping the ones before.
  const auto same4 = [&](size_t i) {
    const __m128i u = _mm_loadu_si128(reinterpret_cast<const __m128i*>(x + i));
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(y + i));
    return _mm_movemask_epi8(_mm_cmpeq_epi32(u, v)) == 0xFFFF;
  };
  for (size_t i = 0; i + 4 < n; i += 4)
    if (!same4(i)) return false;
  return same4(n - 4);
}

// Names and their ids in an open-addressed table: a power of two of slots,
// at most half of them used, probed one after another from the slot the
// name's hash picks. The slots are small and the names' characters lie in
// one array, so that a lookup among many names touches few cache lines.
class NameTable {
 public:
  const sPropertyID* Find(const std::wstring& name) const {
    if (m_slots.empty()) return nullptr;
    const uint32_t tag = Tag(name);
    for (size_t i = Home(tag);; i = (i + 1) & (m_slots.size() - 1)) {
      const Slot& slot = m_slots[i];
      if (slot.tag == 0) return nullptr;
      if (slot.tag == tag && slot.length == name.size() &&
          SameChars(m_text.data() + slot.offset, name.data(), name.size()))
        return &slot.id;
    }
  }
  // Enters a name Find did not find; a name that would take the characters
  // past 2^32 is not entered (lookups of it search the tables).
  void Add(const std::wstring& name, sPropertyID id) {
    if (name.size() > UINT32_MAX - m_text.size()) return;
    if (2 * (m_used + 1) > m_slots.size()) Grow();
    Place(Slot{Tag(name), static_cast<uint32_t>(m_text.size()), static_cast<uint32_t>(name.size()), id});
    m_text.insert(m_text.end(), name.begin(), name.end());
    ++m_used;
  }

 private:
  static constexpr uint64_t kMul = 0x9E3779B97F4A7C15ull;  // 2^64 / golden ratio, odd

  struct Slot {
    uint32_t tag = 0;  // the name's Tag; 0: empty
    uint32_t offset = 0;
    uint32_t length = 0;
    sPropertyID id;
  };

  // A hash of the name, never 0: four characters at a time through two
  // multiplies (the last four overlapping the ones before), the high half of
  // the last product.
  static uint32_t Tag(const std::wstring& name) {
    const wchar_t* p = name.data();
    const size_t n = name.size();
    uint64_t h = n * kMul;
    const auto mix4 = [&](size_t i) {
      uint64_t lo, hi;
      std::memcpy(&lo, p + i, sizeof lo);
      std::memcpy(&hi, p + i + 2, sizeof hi);
      h = (((h ^ lo) * kMul) ^ hi) * kMul;
    };
    if (n < 4) {
      for (size_t i = 0; i < n; ++i) h = (h ^ static_cast<uint32_t>(p[i])) * kMul;
    } else {
      for (size_t i = 0; i + 4 < n; i += 4) mix4(i);
      mix4(n - 4);
    }
    return static_cast<uint32_t>(h >> 32) | 1;
  }
  // The first slot to probe: the top bits of the tag times a constant.
  size_t Home(uint32_t tag) const { return static_cast<size_t>((tag * kMul) >> m_shift); }
  void Place(const Slot& slot) {
    size_t i = Home(slot.tag);
    while (m_slots[i].tag != 0) i = (i + 1) & (m_slots.size() - 1);
    m_slots[i] = slot;
  }
  void Grow() {
    std::vector<Slot> old(std::max<size_t>(16, 2 * m_slots.size()));
    old.swap(m_slots);
    m_shift = 64 - static_cast<unsigned>(__builtin_ctzll(m_slots.size()));
    for (const Slot& slot : old)
      if (slot.tag != 0) Place(slot);
  }

  std::vector<Slot> m_slots;
  std::vector<wchar_t> m_text;  // the names' characters, one after another
  size_t m_used = 0;
  unsigned m_shift = 64;
};

// The name index: for each class and product, the names by-name operations
// found in the scheme tables (or had assigned there) with their ids. This
// class never renumbers or removes a name except in ClearPropertyScheme,
// which empties the index, so every entry holds for as long as no one edits
// the tables directly.
class NameIndex {
 public:
  bool On() const { return m_on; }
  // The names of `code` and `product`; null while none are held.
  NameTable* Find(eXOMDataType code, const std::wstring& product) {
    // Lookups come in runs on one collection: the last scheme asked for is
    // checked before the tables of all of them.
    if (m_last && code == m_lastCode && product.size() == m_lastProduct.size() &&
        SameChars(product.data(), m_lastProduct.data(), product.size()))
      return m_last;
    return Switch(code, product, false);
  }
  // The id the index holds for `name` of `code` and `product`, or null.
  const sPropertyID* Lookup(eXOMDataType code, const std::wstring& product, const std::wstring& name) {
    const NameTable* names = Find(code, product);
    return names ? names->Find(name) : nullptr;
  }
  // Enters a name the scheme tables gave `id` for `code` and `product`.
  void Add(eXOMDataType code, const std::wstring& product, const std::wstring& name, sPropertyID id) {
    NameTable* names = Find(code, product);
    if (!names) names = Switch(code, product, true);
    names->Add(name, id);
  }
  void Reset(bool on) {
    m_on = on;
    m_last = nullptr;
    m_schemes.clear();
  }

 private:
  // Finds (or, with `create`, makes) the names of `code` and `product` and
  // remembers them as the last asked for.
  __attribute__((noinline)) NameTable* Switch(eXOMDataType code, const std::wstring& product, bool create) {
    NameTable* names = nullptr;
    if (create) {
      names = &m_schemes[code][product];
    } else {
      const auto cls = m_schemes.find(code);
      if (cls == m_schemes.end()) return nullptr;
      const auto it = cls->second.find(product);
      if (it == cls->second.end()) return nullptr;
      names = &it->second;
    }
    m_last = names;
    m_lastCode = code;
    m_lastProduct = product;
    return names;
  }

  bool m_on = false;
  // Made only to enter a name the tables gave, so the index never holds more
  // classes and products than the tables do.
  std::map<eXOMDataType, std::map<std::wstring, NameTable>> m_schemes;  // nodes: m_last stays valid
  NameTable* m_last = nullptr;
  eXOMDataType m_lastCode{};
  std::wstring m_lastProduct;
};

NameIndex g_nameIndex;

}  // namespace

bool WStringUtf16Less::operator()(const std::wstring& a, const std::wstring& b) const {
  const size_t n = std::min(a.size(), b.size());
  const size_t i = Mismatch(a.data(), b.data(), n);
  if (i == n) return a.size() < b.size();
  const auto ca = static_cast<char32_t>(a[i]);
  const auto cb = static_cast<char32_t>(b[i]);
  // Two different single units decide at once (the common case).
  if (ca <= 0xFFFF && cb <= 0xFFFF) return ca < cb;
  Utf16Units x(a.data() + i, a.data() + a.size());
  Utf16Units y(b.data() + i, b.data() + b.size());
  while (!x.Done() && !y.Done()) {
    const char16_t u = x.Next();
    const char16_t v = y.Next();
    if (u != v) return u < v;
  }
  if (x.Done() != y.Done()) return x.Done();
  // The same units from different characters: order by the characters.
  return std::lexicographical_compare(a.begin() + static_cast<std::ptrdiff_t>(i), a.end(),
                                      b.begin() + static_cast<std::ptrdiff_t>(i), b.end(),
                                      [](wchar_t l, wchar_t r) { return static_cast<uint32_t>(l) < static_cast<uint32_t>(r); });
}

CPropertyCollection::CPropertyCollection(IBase* owner)
    : m_itNext(m_mapProperty.end()), m_pObject(owner), m_strActiveProduct(kDefaultProduct), m_nActiveProductID(0) {
  AssignProducutID(m_strActiveProduct);
  const auto it = m_mapAllProducutID.find(m_strActiveProduct);
  m_nActiveProductID = it == m_mapAllProducutID.end() ? 0 : it->second;
}

CPropertyCollection::CPropertyCollection(const CPropertyCollection& other)
    : m_mapProperty(other.m_mapProperty),
      m_itNext(m_mapProperty.end()),
      m_pObject(other.m_pObject),
      m_strActiveProduct(other.m_strActiveProduct),
      m_nActiveProductID(other.m_nActiveProductID) {}

CPropertyCollection& CPropertyCollection::operator=(const CPropertyCollection& other) {
  if (this == &other) return *this;
  m_mapProperty = other.m_mapProperty;
  m_itNext = m_mapProperty.end();
  m_pObject = other.m_pObject;
  m_strActiveProduct = other.m_strActiveProduct;
  m_nActiveProductID = other.m_nActiveProductID;
  return *this;
}

CPropertyCollection::~CPropertyCollection() = default;

void CPropertyCollection::CopyFrom(const CPropertyCollection& other) {
  if (this == &other) return;
  m_mapProperty = other.m_mapProperty;
  m_itNext = m_mapProperty.end();
}

bool CPropertyCollection::SetProperty(unsigned short id, const CVariant& value) {
  // Id 0 is what every unknown name resolves to; a value stored under it would
  // answer lookups of names that were never set.
  if (id == 0) return false;
  m_mapProperty[sPropertyID::FromPacked(id)] = value;
  return true;
}

bool CPropertyCollection::SetProperty(const std::wstring& name, const CVariant& value) {
  const sPropertyID id = AssignPropertyID(m_strActiveProduct, m_nActiveProductID, name);
  if (id.IsNull()) return false;
  m_mapProperty[id] = value;
  return true;
}

CVariant CPropertyCollection::GetProperty(unsigned short id) const {
  const auto it = m_mapProperty.find(sPropertyID::FromPacked(id));
  return it == m_mapProperty.end() ? CVariant() : it->second;
}

CVariant CPropertyCollection::GetProperty(const std::wstring& name) const {
  const sPropertyID id = GetPropertyID(name);
  if (id.IsNull()) return CVariant();
  const auto it = m_mapProperty.find(id);
  return it == m_mapProperty.end() ? CVariant() : it->second;
}

bool CPropertyCollection::RemoveProperty(const std::wstring& name) {
  const sPropertyID id = GetPropertyID(name);
  if (id.IsNull()) return false;
  const auto it = m_mapProperty.find(id);
  if (it == m_mapProperty.end()) return false;
  if (it == m_itNext) ++m_itNext;
  m_mapProperty.erase(it);
  return true;
}

sPropertyID CPropertyCollection::GetPropertyID(const std::wstring& name) const {
  const bool indexing = g_nameIndex.On() && m_pObject;
  const eXOMDataType code = indexing ? m_pObject->GetObjectType() : eXOMDataType{};
  if (indexing) {
    if (const sPropertyID* hit = g_nameIndex.Lookup(code, m_strActiveProduct, name)) return *hit;
  }
  const sOneClassSchemeIDName* scheme = FindActiveSchemeIDName();
  if (!scheme) return sPropertyID();
  const auto it = scheme->mapNameToID.find(name);
  if (it == scheme->mapNameToID.end()) return sPropertyID();
  if (indexing) g_nameIndex.Add(code, m_strActiveProduct, name, it->second);
  return it->second;
}

void CPropertyCollection::GetPropertyName(sPropertyID id, std::wstring& productName, std::wstring& propertyName) const {
  productName.clear();
  propertyName.clear();
  if (!m_pObject) return;
  const auto cls = m_mapAllClassScheme.find(m_pObject->GetObjectType());
  if (cls == m_mapAllClassScheme.end()) return;
  for (const auto& [product, scheme] : cls->second.mapProductScheme) {
    const auto it = scheme.mapIDToName.find(id);
    if (it != scheme.mapIDToName.end()) {
      productName = product;
      propertyName = it->second;
      return;
    }
  }
}

void CPropertyCollection::First() { m_itNext = m_mapProperty.begin(); }

bool CPropertyCollection::Next(std::wstring& productName, std::wstring& propertyName, CVariant& value) {
  if (m_itNext == m_mapProperty.end()) return false;
  GetPropertyName(m_itNext->first, productName, propertyName);
  value = m_itNext->second;
  ++m_itNext;
  return true;
}

bool CPropertyCollection::SetActiveProduct(const std::wstring& productName) {
  const unsigned char id = AssignProducutID(productName);
  if (id == 0) return false;
  m_strActiveProduct = productName;
  m_nActiveProductID = id;
  return true;
}

unsigned char CPropertyCollection::AssignProducutID(const std::wstring& productName) {
  auto& table = m_mapAllProducutID;
  const auto it = table.find(productName);
  if (it != table.end()) return it->second;
  // The table holds at most 63 entries, all with ids 1 to 63 (loaded tables
  // are checked), so these scans are short.
  unsigned highest = 0;
  for (const auto& entry : table) highest = std::max<unsigned>(highest, entry.second);
  unsigned id = highest + 1;
  if (id > kMaxProductID) {
    // A 64th id would not fit the 6 bits and would collide with product 0's
    // ids; take a free id below instead, or refuse.
    std::bitset<kMaxProductID + 1> used;
    for (const auto& entry : table) used.set(entry.second);
    id = 1;
    while (id <= kMaxProductID && used.test(id)) ++id;
    if (id > kMaxProductID) return 0;
  }
  table.emplace(productName, static_cast<unsigned char>(id));
  return static_cast<unsigned char>(id);
}

sPropertyID CPropertyCollection::AssignPropertyID(const std::wstring& productName, unsigned char /*productID*/,
                                                  const std::wstring& propertyName) {
  if (!m_pObject) return sPropertyID();
  const eXOMDataType code = m_pObject->GetObjectType();
  const bool indexing = g_nameIndex.On();
  if (indexing) {
    if (const sPropertyID* hit = g_nameIndex.Lookup(code, productName, propertyName)) return *hit;
  }
  const sPropertyID id = AssignInClass(code, productName, propertyName);
  if (indexing && !id.IsNull()) g_nameIndex.Add(code, productName, propertyName, id);
  return id;
}

sPropertyID CPropertyCollection::AssignInClass(eXOMDataType code, const std::wstring& productName,
                                               const std::wstring& propertyName, unsigned short preferred,
                                               unsigned char preferredProduct) {
  // Look before creating anything, so that a refusal leaves no trace.
  auto cls = m_mapAllClassScheme.find(code);
  sOneClassSchemeIDName* scheme = nullptr;
  if (cls != m_mapAllClassScheme.end()) {
    const auto product = cls->second.mapProductScheme.find(productName);
    if (product != cls->second.mapProductScheme.end()) {
      scheme = &product->second;
      const auto it = scheme->mapNameToID.find(propertyName);
      if (it != scheme->mapNameToID.end()) return it->second;
    }
  }
  // The product part is always the product's id in the table: an id the
  // caller kept from before ClearPropertyScheme or a loaded product table
  // could belong to another product by now. A new product takes the
  // preferred id while no product holds it.
  unsigned char productID = 0;
  const auto known = m_mapAllProducutID.find(productName);
  if (known != m_mapAllProducutID.end()) {
    productID = known->second;
  } else if (preferredProduct >= 1 && preferredProduct <= kMaxProductID &&
             std::none_of(m_mapAllProducutID.begin(), m_mapAllProducutID.end(),
                          [&](const auto& entry) { return entry.second == preferredProduct; })) {
    productID = preferredProduct;
    m_mapAllProducutID.emplace(productName, productID);
  } else {
    productID = AssignProducutID(productName);
  }
  if (productID == 0) return sPropertyID();
  unsigned index = 1;
  const sPropertyID wanted = sPropertyID::FromPacked(preferred);
  if (wanted.productID == productID && wanted.propertyIndex != 0 &&
      (!scheme || scheme->mapIDToName.count(wanted) == 0)) {
    index = wanted.propertyIndex;
  } else if (scheme && !scheme->mapIDToName.empty()) {
    index = scheme->mapIDToName.rbegin()->first.propertyIndex + 1u;
    if (index > kMaxPropertyIndex) {
      std::bitset<kMaxPropertyIndex + 1> used;
      for (const auto& entry : scheme->mapIDToName) used.set(entry.first.propertyIndex);
      index = 1;
      while (index <= kMaxPropertyIndex && used.test(index)) ++index;
      if (index > kMaxPropertyIndex) return sPropertyID();
    }
  }
  if (!scheme) {
    if (cls == m_mapAllClassScheme.end()) cls = m_mapAllClassScheme.emplace(code, sOneClassAllScheme()).first;
    scheme = &cls->second.mapProductScheme[productName];
  }
  const sPropertyID id(productID, index);
  scheme->mapIDToName.emplace(id, propertyName);
  scheme->mapNameToID.emplace(propertyName, id);
  return id;
}

sOneClassSchemeIDName* CPropertyCollection::FindActiveSchemeIDName() const {
  if (!m_pObject) return nullptr;
  const auto cls = m_mapAllClassScheme.find(m_pObject->GetObjectType());
  if (cls == m_mapAllClassScheme.end()) return nullptr;
  return &cls->second.mapProductScheme[m_strActiveProduct];
}

void CPropertyCollection::ClearPropertyScheme() {
  m_mapAllClassScheme.clear();
  m_mapAllProducutID.clear();
  g_nameIndex.Reset(g_nameIndex.On());
}

void CPropertyCollection::SetNameIndex(bool enabled) { g_nameIndex.Reset(enabled); }

}  // namespace hux
