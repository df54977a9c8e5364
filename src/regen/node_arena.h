// Allocation of the nodes of one regeneration run from large blocks.
//
// A run builds an atom tree and a step tree of a node per reached object and
// drops both at its end. Taking the nodes (with their shared-pointer control
// blocks) from blocks keeps them together in memory in the order they are
// made and spares a call to the general allocator for each. Every node holds
// the arena through its allocator, so the blocks live as long as any node;
// the scheduler rewinds an arena for the next run once no node is left.
#pragma once

#include <cstddef>
#include <memory>
#include <new>
#include <vector>

namespace hux::regen_detail {

class NodeArena {
 public:
  void* Allocate(std::size_t bytes, std::size_t align) {
    std::size_t offset = (m_nUsed + align - 1) & ~(align - 1);
    if (m_nCurrent >= m_listBlocks.size() || offset + bytes > m_listBlocks[m_nCurrent].size) {
      NextBlock(bytes + align);
      offset = 0;
    }
    Block& block = m_listBlocks[m_nCurrent];
    m_nUsed = offset + bytes;
    return block.data.get() + offset;
  }

  // Makes the blocks free again; only when no node uses them. The blocks the
  // last run reached are kept for the next one (runs of a model tend to be
  // alike), those it did not reach go back to the system.
  void Rewind() {
    if (!m_listBlocks.empty()) m_listBlocks.resize(m_nCurrent + 1);
    m_nCurrent = 0;
    m_nUsed = 0;
  }

 private:
  static constexpr std::size_t kBlockBytes = 256 * 1024;

  struct Block {
    std::unique_ptr<std::byte[]> data;
    std::size_t size;
  };

  // Moves to the next block big enough (smaller ones wait for the rewind),
  // adding one when there is none.
  void NextBlock(std::size_t atLeast) {
    std::size_t next = m_listBlocks.empty() ? 0 : m_nCurrent + 1;
    while (next < m_listBlocks.size() && m_listBlocks[next].size < atLeast) ++next;
    if (next >= m_listBlocks.size()) {
      std::size_t const size = atLeast > kBlockBytes ? atLeast : kBlockBytes;
      m_listBlocks.push_back(Block{std::unique_ptr<std::byte[]>(new std::byte[size]), size});
      next = m_listBlocks.size() - 1;
    }
    m_nCurrent = next;
    m_nUsed = 0;
  }

  std::vector<Block> m_listBlocks;
  std::size_t m_nCurrent = 0;
  std::size_t m_nUsed = 0;
};

// A standard allocator over a shared arena; freeing is a no-op.
template <class T>
class ArenaAllocator {
 public:
  using value_type = T;

  explicit ArenaAllocator(std::shared_ptr<NodeArena> arena) : m_pArena(std::move(arena)) {}
  template <class U>
  ArenaAllocator(ArenaAllocator<U> const& other) : m_pArena(other.Arena()) {}

  T* allocate(std::size_t n) { return static_cast<T*>(m_pArena->Allocate(n * sizeof(T), alignof(T))); }
  void deallocate(T*, std::size_t) noexcept {}

  std::shared_ptr<NodeArena> const& Arena() const { return m_pArena; }
  template <class U>
  bool operator==(ArenaAllocator<U> const& other) const {
    return m_pArena == other.Arena();
  }

 private:
  std::shared_ptr<NodeArena> m_pArena;
};

}  // namespace hux::regen_detail
