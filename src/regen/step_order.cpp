// The step nodes and the level-by-level ordering of a step tree.
//
// The ordering places the top-level steps, then the children of the steps
// placed on the level before, and so on. Placing a step that is already in
// the order moves it: the old node leaves the order together with the nodes
// placed after it that descend from it, the new node goes to the end, and the
// old node's children join the new node. Read literally that is a search of
// the whole order at every placement and a second scan for the descendants.
// Here the order is a linked list, each step (object id, step id) gets a
// dense index through one hash lookup when the tree is prepared, the node of
// a step that stands in the order is found by that index, and the
// descendants are found by walking down from the moved node. That gives the
// same order in time proportional to the work of the placements themselves.
//
// Read literally, a child of the old node for which the new node already has
// an equal child is dropped, and the steps placed beneath it leave the order
// for good: they were reached and never run. So when the order lacks a step
// of the tree, it is made again from the tree as built, with that child's
// children handed on to the equal child (joining it, or handed on again to
// its equal child, and so on down). Orders that lose nothing stay as the
// literal reading gives them.
#include <hux/regen/scheduler.h>

#include <atomic>
#include <cstddef>
#include <functional>
#include <stdexcept>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include <hux/regen/container.h>

#include "regen/flat_index.h"
#include "regen/step_order.h"
#include "regen/tree_release.h"

namespace hux {

namespace {

struct StepKey {
  std::uint64_t object = 0;
  std::uint64_t step = 0;
  bool operator==(StepKey const& other) const { return object == other.object && step == other.step; }
};

struct StepKeyHash {
  std::size_t operator()(StepKey const& key) const {
    // splitmix64 finalizer over both halves: ids are often small and dense.
    std::uint64_t x = key.object * 0x9E3779B97F4A7C15ull ^ (key.step + 0x632BE59BD9B4E019ull);
    x ^= x >> 30;
    x *= 0xBF58476D1CE4E5B9ull;
    x ^= x >> 27;
    x *= 0x94D049BB133111EBull;
    x ^= x >> 31;
    return static_cast<std::size_t>(x);
  }
};

StepKey KeyOf(GRegenStepNode const& node) { return {node.ObjectId(), node.StepId()}; }

// Below this many children a node's children are searched directly.
constexpr std::size_t kChildIndexThreshold = 8;

// Marks for searches: each search takes a value no node carries yet.
std::uint64_t NextMark() {
  static std::atomic<std::uint64_t> mark{0};
  return mark.fetch_add(1, std::memory_order_relaxed) + 1;
}

}  // namespace

struct GRegenStepNode::ChildIndex {
  // The first child of each step.
  std::unordered_map<StepKey, GRegenStepNode*, StepKeyHash> keys;
};

struct regen_detail::StepOrderWorkspace::Tables {
  FlatIndex<StepKey, std::size_t, StepKeyHash, std::equal_to<StepKey>> keys;
  std::vector<GRegenStepNode*> all, walk, inOrder, queue, taken;

  void Reset() {
    keys.Clear();
    all.clear();
    walk.clear();
    inOrder.clear();
    queue.clear();
    taken.clear();
  }
};

regen_detail::StepOrderWorkspace::StepOrderWorkspace() : tables(std::make_unique<Tables>()) {}
regen_detail::StepOrderWorkspace::~StepOrderWorkspace() = default;

GRegenStepNode::GRegenStepNode(IRegenStep* step, GRegenAtom const& atom, std::shared_ptr<IRegenableObject> object)
    : m_pStep(step), m_atom(atom), m_pObject(std::move(object)) {
  if (m_pStep == nullptr || m_pObject == nullptr)
    throw std::invalid_argument("GRegenStepNode needs a step and an object");
  m_nObjectId = m_pObject->GetObjectId();
  m_nStepId = m_pStep->GetStepId();
}

GRegenStepNode::~GRegenStepNode() {
  regen_detail::ReleaseTree(m_listChildren, [](GRegenStepNode& node) -> auto& { return node.m_listChildren; });
}

bool GRegenStepNode::HasChildEqualTo(GRegenStepNode const& node) const { return FindChildEqualTo(node) != nullptr; }

GRegenStepNode* GRegenStepNode::FindChildEqualTo(GRegenStepNode const& node) const {
  if (m_pChildIndex) {
    auto found = m_pChildIndex->keys.find(KeyOf(node));
    return found == m_pChildIndex->keys.end() ? nullptr : found->second;
  }
  for (auto const& child : m_listChildren)
    if (child->IsEqual(node)) return child.get();
  return nullptr;
}

void GRegenStepNode::AttachChild(std::shared_ptr<GRegenStepNode> const& child) {
  if (!child) throw std::invalid_argument("GRegenStepNode::AttachChild needs a node");
  m_listChildren.push_back(child);
  child->m_pParent = this;
  if (m_pChildIndex) {
    m_pChildIndex->keys.emplace(KeyOf(*child), child.get());
  } else if (m_listChildren.size() > kChildIndexThreshold) {
    m_pChildIndex = std::make_unique<ChildIndex>();
    for (auto const& c : m_listChildren) m_pChildIndex->keys.emplace(KeyOf(*c), c.get());
  }
}

// One ordering run over one step tree.
class GRegenStepOrderer {
 public:
  GRegenStepOrderer(std::vector<std::shared_ptr<GRegenStepNode>> const& topLevel,
                    regen_detail::StepOrderWorkspace::Tables& tables)
      : m_topLevel(topLevel),
        m_listAll(tables.all),
        m_listWalk(tables.walk),
        m_keys(tables.keys),
        m_listInOrder(tables.inOrder),
        m_listQueue(tables.queue),
        m_listTaken(tables.taken) {
    tables.Reset();
  }

  std::vector<std::shared_ptr<GRegenStepNode>> Run() {
    if (!Prepare()) return LevelOrderOfBuiltTree();
    std::vector<std::shared_ptr<GRegenStepNode>> order = Pass();
    // Each step stands at most once: a shorter order has lost a step.
    if (order.size() == m_keys.Size()) return order;
    RestoreBuiltTree();
    m_bHandOn = true;
    return Pass();
  }

 private:
  struct CycleFound {};

  // One placement of the whole tree.
  std::vector<std::shared_ptr<GRegenStepNode>> Pass() {
    m_listInOrder.assign(m_keys.Size(), nullptr);
    m_pHead = m_pTail = nullptr;
    try {
      std::vector<GRegenStepNode*>& queue = m_listQueue;
      std::vector<GRegenStepNode*>& taken = m_listTaken;
      for (auto const& s : m_topLevel) {
        Place(s.get());
        if (!s->m_listChildren.empty()) queue.push_back(s.get());
      }
      while (!queue.empty()) {
        taken.swap(queue);
        queue.clear();
        for (GRegenStepNode* w : taken) {
          // A placement only adds children to the node being placed and
          // to nodes below it, never to `w` (that would need `w` to be its
          // own descendant), so the list is stable while it is walked.
          for (std::size_t i = 0; i < w->m_listChildren.size(); ++i) {
            GRegenStepNode* c = w->m_listChildren[i].get();
            Place(c);
            if (!c->m_listChildren.empty()) queue.push_back(c);
          }
        }
      }
    } catch (CycleFound const&) {
      return LevelOrderOfBuiltTree();
    }
    std::vector<std::shared_ptr<GRegenStepNode>> order;
    order.reserve(m_keys.Size());
    for (GRegenStepNode* n = m_pHead; n != nullptr; n = n->m_pNextInOrder) order.push_back(n->shared_from_this());
    return order;
  }

  // Takes back what a pass changed: the joined children, the parents, the
  // children's indexes and the places. (A pass that ends leaves its queue
  // empty, and its stamps are all older than those of the next pass.)
  void RestoreBuiltTree() {
    for (GRegenStepNode* n : m_listAll) {
      auto& children = n->m_listChildren;
      children.erase(children.begin() + static_cast<std::ptrdiff_t>(n->m_nBuiltChildren), children.end());
      n->m_pParent = n->m_pBuiltParent;
      if (n->m_pChildIndex) {
        n->m_pChildIndex.reset();
        if (children.size() > kChildIndexThreshold) {
          n->m_pChildIndex = std::make_unique<GRegenStepNode::ChildIndex>();
          for (auto const& c : children) n->m_pChildIndex->keys.emplace(KeyOf(*c), c.get());
        }
      }
      n->m_pPrevInOrder = n->m_pNextInOrder = nullptr;
      n->m_bInOrder = n->m_bPlaced = false;
    }
  }

  // Resets the bookkeeping of every node and records how many children the
  // tree gave it. Answers false when the children lists already hold a cycle.
  // A node reachable along two paths (possible only in a tree assembled by
  // hand) switches off a shortcut of the descendant search that relies on
  // each node having been attached once.
  bool Prepare() {
    // A node carries `onPath` while the search is below it, then `done`.
    std::uint64_t const onPath = NextMark();
    std::uint64_t const done = NextMark();
    struct Frame {
      GRegenStepNode* node;
      std::size_t next;
    };
    std::vector<Frame> stack;
    bool acyclic = true;
    for (auto const& root : m_topLevel) {
      if (!root) throw std::invalid_argument("OrderSteps: null step node");
      if (root->m_nMark == onPath || root->m_nMark == done) {
        m_bTree = false;
        continue;
      }
      Enter(root.get(), onPath);
      stack.push_back({root.get(), 0});
      while (!stack.empty()) {
        Frame& f = stack.back();
        if (f.next == f.node->m_listChildren.size()) {
          f.node->m_nMark = done;
          stack.pop_back();
          continue;
        }
        GRegenStepNode* c = f.node->m_listChildren[f.next++].get();
        if (c->m_nMark == onPath || c->m_nMark == done) {
          m_bTree = false;
          if (c->m_nMark == onPath) acyclic = false;
          continue;
        }
        Enter(c, onPath);
        stack.push_back({c, 0});
      }
    }
    return acyclic;
  }

  void Enter(GRegenStepNode* n, std::uint64_t mark) {
    StepKey const key = KeyOf(*n);
    if (std::size_t* index = m_keys.Find(key)) {
      n->m_nKeyIndex = *index;
    } else {
      n->m_nKeyIndex = m_keys.Size();
      m_keys.Put(key, n->m_nKeyIndex);
    }
    n->m_nMark = mark;
    n->m_pPrevInOrder = n->m_pNextInOrder = nullptr;
    n->m_bInOrder = n->m_bPlaced = false;
    n->m_nStamp = 0;
    n->m_nBuiltChildren = n->m_listChildren.size();
    n->m_pBuiltParent = n->m_pParent;
    m_listAll.push_back(n);
  }

  void Append(GRegenStepNode* s) {
    s->m_pPrevInOrder = m_pTail;
    s->m_pNextInOrder = nullptr;
    if (m_pTail != nullptr)
      m_pTail->m_pNextInOrder = s;
    else
      m_pHead = s;
    m_pTail = s;
    s->m_nStamp = ++m_nStamp;
    s->m_bInOrder = true;
    s->m_bPlaced = true;
  }

  void Unlink(GRegenStepNode* n) {
    if (n->m_pPrevInOrder != nullptr)
      n->m_pPrevInOrder->m_pNextInOrder = n->m_pNextInOrder;
    else
      m_pHead = n->m_pNextInOrder;
    if (n->m_pNextInOrder != nullptr)
      n->m_pNextInOrder->m_pPrevInOrder = n->m_pPrevInOrder;
    else
      m_pTail = n->m_pPrevInOrder;
    n->m_pPrevInOrder = n->m_pNextInOrder = nullptr;
    n->m_bInOrder = false;
  }

  void Place(GRegenStepNode* s) {
    GRegenStepNode*& inOrder = m_listInOrder[s->m_nKeyIndex];
    if (inOrder == nullptr) {
      Append(s);
      inOrder = s;
      return;
    }
    GRegenStepNode* e = inOrder;
    std::uint64_t const formerStamp = e->m_nStamp;
    Unlink(e);
    RemovePlacedDescendants(e, formerStamp);
    Append(s);
    m_listInOrder[s->m_nKeyIndex] = s;
    if (e == s) return;
    HandChildren(e, s);
  }

  // Joins each child of `from` to `to` unless `to` has an equal child. When
  // handing on, such a child's children go to that equal child in turn,
  // depth first, each node's children at most once in one placement.
  void HandChildren(GRegenStepNode* from, GRegenStepNode* to) {
    std::uint64_t const handed = m_bHandOn ? NextMark() : 0;
    m_listHand.clear();
    m_listHand.push_back({from, to, 0});
    while (!m_listHand.empty()) {
      HandFrame& f = m_listHand.back();
      if (f.next == f.from->m_listChildren.size()) {
        m_listHand.pop_back();
        continue;
      }
      GRegenStepNode* c = f.from->m_listChildren[f.next++].get();
      GRegenStepNode* target = f.to;
      GRegenStepNode* equal = target->FindChildEqualTo(*c);
      if (equal == nullptr) {
        // Joining `c` under `target` when `target` is reachable from `c`
        // would close a cycle, and the level-by-level placement would then
        // never end.
        if (ReachesNode(c, target)) throw CycleFound{};
        target->AttachChild(c->shared_from_this());
        MayHoldPlaced(target);
      } else if (m_bHandOn && equal != c && c->m_nHandedOn != handed) {
        c->m_nHandedOn = handed;
        m_listHand.push_back({c, equal, 0});
      }
    }
  }

  // A child handed on may have been placed, and joins a node that may not
  // have been: the walk for placed descendants must pass through that node
  // and the unplaced nodes above it.
  static void MayHoldPlaced(GRegenStepNode* n) {
    for (; n != nullptr && !n->m_bPlaced; n = n->m_pParent) n->m_bPlaced = true;
  }

  // Takes out of the order every node placed after `e`'s former place (stamp)
  // whose chain of parents leads to `e`. The walk goes down from `e` along
  // children that name their parent as parent. A node never placed in this
  // run has no placed descendants: its children were attached when the tree
  // was built and are only placed through it, so the walk stops there (a
  // node that took handed-on children counts as placed).
  void RemovePlacedDescendants(GRegenStepNode* e, std::uint64_t formerStamp) {
    m_listWalk.clear();
    m_listWalk.push_back(e);
    while (!m_listWalk.empty()) {
      GRegenStepNode* x = m_listWalk.back();
      m_listWalk.pop_back();
      for (auto const& child : x->m_listChildren) {
        GRegenStepNode* c = child.get();
        if (c->m_pParent != x) continue;
        if (m_bTree && !c->m_bPlaced) continue;
        if (c->m_bInOrder && c->m_nStamp > formerStamp) {
          Unlink(c);
          m_listInOrder[c->m_nKeyIndex] = nullptr;
        }
        m_listWalk.push_back(c);
      }
    }
  }

  // Whether `target` can be reached from `from` along children lists. A path
  // between two nodes maps to a path between their steps in the graph of
  // steps (an edge for each parent and child), and joins never add edges to
  // that graph; so only steps in one strongly connected component with both
  // ends can lie on such a path, and the search stays inside that component.
  bool ReachesNode(GRegenStepNode* from, GRegenStepNode* target) {
    if (from == target) return true;
    if (!m_bComponentsKnown) ComputeStepComponents();
    std::size_t const component = m_listComponent[from->m_nKeyIndex];
    if (component != m_listComponent[target->m_nKeyIndex] || !m_listCyclic[component]) return false;
    std::uint64_t const seen = NextMark();
    m_listWalk.clear();
    m_listWalk.push_back(from);
    from->m_nMark = seen;
    while (!m_listWalk.empty()) {
      GRegenStepNode* x = m_listWalk.back();
      m_listWalk.pop_back();
      for (auto const& child : x->m_listChildren) {
        GRegenStepNode* c = child.get();
        if (c == target) return true;
        if (c->m_nMark == seen || m_listComponent[c->m_nKeyIndex] != component) continue;
        c->m_nMark = seen;
        m_listWalk.push_back(c);
      }
    }
    return false;
  }

  // Strongly connected components of the graph of steps (Tarjan's algorithm
  // without recursion). A component is cyclic when it has more than one step
  // or a step that is its own child.
  void ComputeStepComponents() {
    m_bComponentsKnown = true;
    std::size_t const count = m_keys.Size();
    // The edges in one array, grouped by their source step.
    std::vector<std::size_t> first(count + 1, 0), edges;
    std::vector<bool> selfLoop(count, false);
    for (GRegenStepNode* n : m_listAll) first[n->m_nKeyIndex + 1] += n->m_listChildren.size();
    for (std::size_t i = 0; i < count; ++i) first[i + 1] += first[i];
    edges.resize(first[count]);
    std::vector<std::size_t> fill(first.begin(), first.end() - 1);
    for (GRegenStepNode* n : m_listAll)
      for (auto const& c : n->m_listChildren) {
        edges[fill[n->m_nKeyIndex]++] = c->m_nKeyIndex;
        if (c->m_nKeyIndex == n->m_nKeyIndex) selfLoop[n->m_nKeyIndex] = true;
      }

    std::size_t const none = static_cast<std::size_t>(-1);
    std::vector<std::size_t> index(count, none), low(count, 0), next(count, 0), stack, calls;
    std::vector<bool> onStack(count, false);
    m_listComponent.assign(count, none);
    m_listCyclic.clear();
    std::size_t counter = 0;
    for (std::size_t start = 0; start < count; ++start) {
      if (index[start] != none) continue;
      index[start] = low[start] = counter++;
      next[start] = first[start];
      stack.push_back(start);
      onStack[start] = true;
      calls.push_back(start);
      while (!calls.empty()) {
        std::size_t const v = calls.back();
        if (next[v] < first[v + 1]) {
          std::size_t const w = edges[next[v]++];
          if (index[w] == none) {
            index[w] = low[w] = counter++;
            next[w] = first[w];
            stack.push_back(w);
            onStack[w] = true;
            calls.push_back(w);
          } else if (onStack[w] && index[w] < low[v]) {
            low[v] = index[w];
          }
          continue;
        }
        if (low[v] == index[v]) {
          std::size_t const component = m_listCyclic.size();
          std::size_t size = 0;
          std::size_t w;
          do {
            w = stack.back();
            stack.pop_back();
            onStack[w] = false;
            m_listComponent[w] = component;
            ++size;
          } while (w != v);
          m_listCyclic.push_back(size > 1 || selfLoop[v]);
        }
        calls.pop_back();
        if (!calls.empty() && low[v] < low[calls.back()]) low[calls.back()] = low[v];
      }
    }
  }

  // The order used when the steps form a cycle: the tree as it was built,
  // level by level, each step at its last occurrence.
  std::vector<std::shared_ptr<GRegenStepNode>> LevelOrderOfBuiltTree() {
    std::uint64_t const expanded = NextMark();
    std::vector<GRegenStepNode*> sequence, level, next;
    for (auto const& s : m_topLevel) level.push_back(s.get());
    while (!level.empty()) {
      next.clear();
      for (GRegenStepNode* n : level) {
        sequence.push_back(n);
        if (n->m_nMark == expanded) continue;
        n->m_nMark = expanded;
        for (std::size_t i = 0; i < n->m_nBuiltChildren && i < n->m_listChildren.size(); ++i)
          next.push_back(n->m_listChildren[i].get());
      }
      level.swap(next);
    }
    std::unordered_set<StepKey, StepKeyHash> seen;
    std::vector<std::shared_ptr<GRegenStepNode>> order;
    for (auto it = sequence.rbegin(); it != sequence.rend(); ++it)
      if (seen.insert(KeyOf(**it)).second) order.push_back((*it)->shared_from_this());
    return std::vector<std::shared_ptr<GRegenStepNode>>(order.rbegin(), order.rend());
  }

  std::vector<std::shared_ptr<GRegenStepNode>> const& m_topLevel;
  std::vector<GRegenStepNode*>& m_listAll;
  std::vector<GRegenStepNode*>& m_listWalk;
  // Every step of the tree gets a dense index when the tree is prepared; the
  // node of each step that stands in the order is then found by that index.
  regen_detail::FlatIndex<StepKey, std::size_t, StepKeyHash, std::equal_to<StepKey>>& m_keys;
  std::vector<GRegenStepNode*>& m_listInOrder;
  std::vector<GRegenStepNode*>& m_listQueue;
  std::vector<GRegenStepNode*>& m_listTaken;
  struct HandFrame {
    GRegenStepNode* from;
    GRegenStepNode* to;
    std::size_t next;
  };
  std::vector<HandFrame> m_listHand;
  bool m_bHandOn = false;
  GRegenStepNode* m_pHead = nullptr;
  GRegenStepNode* m_pTail = nullptr;
  std::uint64_t m_nStamp = 0;
  bool m_bTree = true;
  bool m_bComponentsKnown = false;
  std::vector<std::size_t> m_listComponent;
  std::vector<bool> m_listCyclic;
};

std::vector<std::shared_ptr<GRegenStepNode>> regen_detail::OrderSteps(
    std::vector<std::shared_ptr<GRegenStepNode>> const& topLevel, StepOrderWorkspace& workspace) {
  return GRegenStepOrderer(topLevel, *workspace.tables).Run();
}

std::vector<std::shared_ptr<GRegenStepNode>> GRegenScheduler::OrderSteps(
    std::vector<std::shared_ptr<GRegenStepNode>> const& topLevel) {
  regen_detail::StepOrderWorkspace workspace;
  return regen_detail::OrderSteps(topLevel, workspace);
}

}  // namespace hux
