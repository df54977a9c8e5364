// Release of deep trees of shared nodes without recursion.
//
// A long dependency chain makes the atom and step trees as deep as the
// chain; letting each node's destructor release its children recursively
// would exhaust the stack. The children of nodes owned only by the work list
// are moved onto it and released one at a time instead.
#pragma once

#include <memory>
#include <utility>
#include <vector>

namespace hux::regen_detail {

// Empties `children`; `childrenOf(node)` gives a node's own child list. Runs
// in destructors, so it never throws: should the work list fail to grow, what
// is left is released by the nodes' own destructors.
template <class Node, class ChildrenOf>
void ReleaseTree(std::vector<std::shared_ptr<Node>>& children, ChildrenOf childrenOf) noexcept {
  std::vector<std::shared_ptr<Node>> work;
  work.swap(children);
  try {
    while (!work.empty()) {
      std::shared_ptr<Node> node = std::move(work.back());
      work.pop_back();
      if (node.use_count() == 1) {
        std::vector<std::shared_ptr<Node>>& own = childrenOf(*node);
        for (auto& child : own) work.push_back(std::move(child));
        own.clear();
      }
    }
  } catch (...) {
  }
}

}  // namespace hux::regen_detail
