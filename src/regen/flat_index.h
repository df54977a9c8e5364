// A hash index for the regeneration engine's hot paths: open addressing with
// linear probing and backward-shift deletion, so that inserting and erasing
// allocate nothing once the table has grown. Keys and values are small
// trivially copyable values (pointers, ids). Each slot keeps its key's hash,
// so a probe compares keys only when the hashes agree (keys may be pointers
// to atoms whose comparison reads strings), and the table is kept at most
// half full so that probe runs stay short.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace hux::regen_detail {

template <class Key, class Value, class Hash, class Equal>
class FlatIndex {
 public:
  // The value stored under `key`, or null.
  Value* Find(Key const& key) {
    if (m_nCount == 0) return nullptr;
    std::uint32_t const hash = HashOf(key);
    for (std::size_t i = hash & m_nMask;; i = (i + 1) & m_nMask) {
      Slot& slot = m_listSlots[i];
      if (!slot.used) return nullptr;
      if (slot.hash == hash && Equal()(slot.key, key)) return &slot.value;
    }
  }

  bool Contains(Key const& key) { return Find(key) != nullptr; }

  // Stores `value` under `key`, replacing an existing value.
  void Put(Key const& key, Value const& value) {
    if ((m_nCount + 1) * 2 > m_listSlots.size()) Grow();
    std::uint32_t const hash = HashOf(key);
    for (std::size_t i = hash & m_nMask;; i = (i + 1) & m_nMask) {
      Slot& slot = m_listSlots[i];
      if (!slot.used) {
        slot = Slot{key, hash, value, true};
        ++m_nCount;
        return;
      }
      if (slot.hash == hash && Equal()(slot.key, key)) {
        slot.value = value;
        return;
      }
    }
  }

  // Removes `key` if present. The entries after it in its probe run move
  // back, so lookups never need tombstones.
  void Erase(Key const& key) {
    if (m_nCount == 0) return;
    std::uint32_t const hash = HashOf(key);
    std::size_t i = hash & m_nMask;
    for (;; i = (i + 1) & m_nMask) {
      Slot const& slot = m_listSlots[i];
      if (!slot.used) return;
      if (slot.hash == hash && Equal()(slot.key, key)) break;
    }
    std::size_t hole = i;
    for (std::size_t j = (i + 1) & m_nMask; m_listSlots[j].used; j = (j + 1) & m_nMask) {
      std::size_t const home = m_listSlots[j].hash & m_nMask;
      // Move j into the hole unless its home lies cyclically in (hole, j].
      bool const stays = hole <= j ? (hole < home && home <= j) : (hole < home || home <= j);
      if (stays) continue;
      m_listSlots[hole] = m_listSlots[j];
      hole = j;
    }
    m_listSlots[hole].used = false;
    --m_nCount;
  }

  void Clear() {
    if (m_nCount == 0) return;
    for (Slot& slot : m_listSlots) slot.used = false;
    m_nCount = 0;
  }

  std::size_t Size() const { return m_nCount; }

 private:
  // The hash is kept in 32 bits (tables never reach 2^32 slots): with a
  // pointer key and a small value a slot takes 16 bytes, so large tables
  // touch half the cache lines.
  struct Slot {
    Key key;
    std::uint32_t hash;
    Value value;
    bool used;
  };

  static std::uint32_t HashOf(Key const& key) {
    // Fibonacci hashing spreads hash values that differ only in high bits.
    std::uint64_t const h = static_cast<std::uint64_t>(Hash()(key)) * 0x9E3779B97F4A7C15ull;
    return static_cast<std::uint32_t>(h >> 32 ^ h);
  }

  void Grow() {
    std::vector<Slot> old;
    old.swap(m_listSlots);
    std::size_t const capacity = old.empty() ? 16 : old.size() * 2;
    m_listSlots.assign(capacity, Slot{Key{}, 0, Value{}, false});
    m_nMask = capacity - 1;
    m_nCount = 0;
    for (Slot const& slot : old)
      if (slot.used) Put(slot.key, slot.value);
  }

  std::vector<Slot> m_listSlots;
  std::size_t m_nMask = 0;
  std::size_t m_nCount = 0;
};

}  // namespace hux::regen_detail
