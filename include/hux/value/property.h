// CPropertyCollection: named values attached to one object, the names kept
// as 16-bit ids in process-wide schemes per owner class and product.
//
// A collection holds only ids and CVariant values. The names behind the ids
// live once per class and product in the schemes; an archive carries each
// class's scheme once, before the first collection of that class, and the
// reader maps the file's ids onto its own. A product is a namespace of names
// with an id of its own (1 to 63); the default active product is "HUX".
//
// Ownership: a collection owns its values (copies are deep, as CVariant's);
// the owner object is not owned and must outlive the by-name operations and
// Serialize that ask it for its type code.
//
// Threads: the scheme tables (m_mapAllClassScheme, m_mapAllProducutID) are
// process-wide and unlocked, by design. Assigning names, loading schemes and
// ClearPropertyScheme change them, and even a by-name lookup may add an empty
// product scheme; all of this must happen on one thread at a time, usually
// the one that builds or loads the model. A collection is used by one thread
// at a time.
//
// Limits: 63 products per process and 1023 names per class and product. Past
// them no id is handed out: the assigning calls return 0 and SetProperty by
// name returns false, storing nothing, so properties can never share an id.
// Reading an archive numbers only the names and products that the properties
// read actually use: names a file merely lists in its schemes (and products
// in its product table) take no ids, so a file cannot use up the process's
// capacity for names it never stores a value under.
#pragma once

#include <map>
#include <string>

#include <hux/export.h>
#include <hux/object/datatype.h>
#include <hux/value/variant.h>

namespace hux {

class GDbArchive;
class IBase;

// Orders wide strings by their UTF-16 code units as unsigned numbers, shorter
// first on a common prefix: the order of the scheme tables and of everything
// they write. With 32-bit wchar_t this differs from code-point order only for
// characters above U+FFFF, which sort as their surrogates (below U+E000).
// Distinct strings with the same UTF-16 form (a surrogate pair held as two
// wchar_t against the one character it encodes) are ordered by their
// characters, so that no two distinct keys compare equal.
struct HUX_API WStringUtf16Less {
  bool operator()(const std::wstring& a, const std::wstring& b) const;
};

// A property id: product id in bits 0-5 and property index (from 1) in bits
// 6-15 of one 16-bit word. Outside a collection it travels in packed form,
// productID * 1024 + propertyIndex (the word rotated left by 10 bits); ids are
// ordered by that form. The id 0 stands for no property.
struct sPropertyID {
  unsigned short productID : 6 = 0;
  unsigned short propertyIndex : 10 = 0;

  constexpr sPropertyID() = default;
  // Only the low 6 bits of `product` and 10 bits of `index` are kept.
  constexpr sPropertyID(unsigned product, unsigned index)
      : productID(static_cast<unsigned short>(product & 0x3Fu)),
        propertyIndex(static_cast<unsigned short>(index & 0x3FFu)) {}
  static constexpr sPropertyID FromPacked(unsigned short packed) { return sPropertyID(packed >> 10, packed & 0x3FFu); }
  constexpr unsigned short Packed() const { return static_cast<unsigned short>(productID << 10 | propertyIndex); }
  constexpr bool IsNull() const { return productID == 0 && propertyIndex == 0; }

  friend constexpr bool operator==(sPropertyID a, sPropertyID b) { return a.Packed() == b.Packed(); }
  friend constexpr bool operator<(sPropertyID a, sPropertyID b) { return a.Packed() < b.Packed(); }
};
static_assert(sizeof(sPropertyID) == 2, "sPropertyID is one 16-bit word");

// The scheme of one class for one product: names and ids, the same pairs in
// both maps.
struct sOneClassSchemeIDName {
  std::map<std::wstring, sPropertyID, WStringUtf16Less> mapNameToID;
  std::map<sPropertyID, std::wstring> mapIDToName;
};

// All schemes of one class, by product name.
struct sOneClassAllScheme {
  std::map<std::wstring, sOneClassSchemeIDName, WStringUtf16Less> mapProductScheme;
};

class HUX_API CPropertyCollection {
 public:
  // Empty, with `owner` (not owned; may be set later with SetObject) and the
  // active product "HUX", whose id is found or assigned.
  explicit CPropertyCollection(IBase* owner = nullptr);
  // Copies the values (deeply), the owner and the active product.
  CPropertyCollection(const CPropertyCollection& other);
  CPropertyCollection& operator=(const CPropertyCollection& other);
  // Destroys the values. Not virtual, as the class was laid out: do not delete
  // a derived collection through a CPropertyCollection pointer.
  ~CPropertyCollection();

  // Replaces the values by copies of `other`'s; owner and active product stay.
  void CopyFrom(const CPropertyCollection& other);
  // The owner whose type code selects the class scheme. Without an owner the
  // by-name operations find nothing and store nothing.
  void SetObject(IBase* owner) { m_pObject = owner; }
  IBase* GetObject() const { return m_pObject; }

  // By packed id (productID * 1024 + index); the id is not looked up in any
  // scheme. Setting stores a copy and returns true; id 0 (no property) is
  // refused with false.
  virtual bool SetProperty(unsigned short id, const CVariant& value);
  // By name in the active product's scheme of the owner's class, assigning the
  // name an id when it is new. False, storing nothing, when there is no owner
  // or no id can be assigned (63 products or 1023 names in use).
  virtual bool SetProperty(const std::wstring& name, const CVariant& value);
  // A copy of the value, or an empty CVariant (IsNull) when there is none.
  virtual CVariant GetProperty(unsigned short id) const;
  virtual CVariant GetProperty(const std::wstring& name) const;
  // Removes the value of `name`, if any; the name keeps its id in the scheme.
  // True when a value was removed.
  virtual bool RemoveProperty(const std::wstring& name);
  // Writes or reads the whole collection, the owner class's scheme with the
  // first collection of that class in the archive (and the product table with
  // the archive's first scheme). Without an owner no scheme is written.
  // Returns true, except when storing into an archive that has lost a write
  // (GDbArchive::IsAllWriteDataOK).
  //
  // Loading replaces the values. A scheme read is taken into the owner's class
  // (without an owner, the class the file names) and serves every later
  // collection of the class in that archive. A name the process already knows
  // keeps its id here; each file id numbered differently is recorded in the
  // archive's remap (GetMapPropertyID) as soon as the scheme is read. A name
  // new to the process is numbered when a property first uses it, and
  // recorded in the remap then if its id differs: when the process has no
  // names for the class, it keeps the file's id (and a new product the id of
  // the file's product table, read while the process had none) as long as
  // that is free, so such a scheme is adopted as far as it is used. A remap
  // target of 0 drops the property: the reader records one for a name that
  // cannot be numbered (tables full). A property whose id the file's scheme
  // leaves unnamed keeps its id, unless that would put it on one of the
  // file's names (the id this process gave one of them, or a free id that
  // one still to be numbered could take): then it is dropped. Two properties
  // of one collection on one id (only from a damaged file) keep the first
  // read. Counts are trusted only as far as the archive delivers entries; a
  // scheme keeps one name per file id (the first listed) and a product table
  // one product per id.
  virtual bool Serialize(GDbArchive& archive);

  // The name's id in the active scheme, or 0; never assigns.
  sPropertyID GetPropertyID(const std::wstring& name) const;
  // The product and property name of `id` in the owner class's schemes (the
  // first product, in name order, that knows it); both empty when none does.
  void GetPropertyName(sPropertyID id, std::wstring& productName, std::wstring& propertyName) const;

  // Iteration in ascending packed id. Next is false at the end; otherwise it
  // gives the current property's names (as GetPropertyName), a copy of its
  // value, and advances. Removing the current property during iteration is
  // safe; after other changes, start again with First.
  void First();
  bool Next(std::wstring& productName, std::wstring& propertyName, CVariant& value);

  // Makes `productName` the active product, finding or assigning its id. False,
  // leaving the active product unchanged, when no id can be assigned.
  bool SetActiveProduct(const std::wstring& productName);
  const std::wstring& GetActiveProduct() const { return m_strActiveProduct; }
  // The product's id, assigned when the name is new (1, 2, 3, ... in order of
  // first use; the lowest free id when the next would pass 63, which only a
  // loaded table can cause); 0 when all 63 ids are taken (nothing is entered).
  static unsigned char AssignProducutID(const std::wstring& productName);
  // The id of `propertyName` in the owner class's scheme for `productName`,
  // assigned when new (next index after the highest; the lowest free index
  // when the next would pass 1023). `productID` may name the product's id or be 0;
  // the id stored always carries the product's current id in the product
  // table, so a stale argument cannot make two products share ids. Returns 0,
  // entering nothing, without an owner or when no id is free.
  sPropertyID AssignPropertyID(const std::wstring& productName, unsigned char productID,
                               const std::wstring& propertyName);
  // The owner class's scheme for the active product; null when there is no
  // owner or the class has no scheme at all. When the class has schemes but
  // none for the active product, an empty one is created and returned.
  sOneClassSchemeIDName* FindActiveSchemeIDName() const;
  // Empties the scheme tables of the process. Collections keep their ids and
  // values, but the names are gone until assigned or loaded again. The next
  // schemes read from an archive are adopted as far as their properties use
  // them, and so is its product table while the table is still empty
  // (constructing a collection numbers "HUX" again).
  static void ClearPropertyScheme();
  // Lets the by-name operations answer from an index of the names they have
  // found (a hash table per class and product) instead of searching the
  // ordered scheme tables each time. The index follows every change this
  // class makes to the tables, but it cannot see edits made to the protected
  // tables directly or through a FindActiveSchemeIDName pointer: turn it on
  // only in a process where no code edits them that way. Off by default;
  // turning it on or off empties it. Same threading rule as the tables.
  static void SetNameIndex(bool enabled);

 protected:
  // Class type code -> that class's schemes; product name -> product id.
  static std::map<eXOMDataType, sOneClassAllScheme> m_mapAllClassScheme;
  static std::map<std::wstring, unsigned char, WStringUtf16Less> m_mapAllProducutID;

 private:
  // Writes or reads the scheme flag, the product table and the class scheme.
  // Returns true.
  bool SerializePropertyScheme(GDbArchive& archive);
  void WritePropertyScheme(GDbArchive& archive);
  // Reads a scheme if one follows, into the owner's class (or, without an
  // owner, the class the file names, returned in `code`). False when the
  // scheme flag is 0.
  bool ReadPropertyScheme(GDbArchive& archive, eXOMDataType& code);
  // The id in this process of the file id `packed` of class `code`, read
  // from `archive` after a scheme of the class: the id its name has or is
  // given now, the id unchanged, or 0 to drop the property.
  static unsigned short TranslateLoadedID(GDbArchive& archive, eXOMDataType code, unsigned short packed);
  // AssignPropertyID on the class `code`. A new name takes the packed id
  // `preferred` when that is free and carries the product's id, a new
  // product the id `preferredProduct` when no product holds it; otherwise
  // both are numbered as AssignPropertyID and AssignProducutID number them.
  static sPropertyID AssignInClass(eXOMDataType code, const std::wstring& productName,
                                   const std::wstring& propertyName, unsigned short preferred = 0,
                                   unsigned char preferredProduct = 0);

  std::map<sPropertyID, CVariant> m_mapProperty;
  std::map<sPropertyID, CVariant>::iterator m_itNext;
  IBase* m_pObject;
  std::wstring m_strActiveProduct;
  unsigned char m_nActiveProductID;
};

}  // namespace hux
