// The step order against a plain reference of the ordering rule; no step of the tree may be lost.
#include <hux/regen/scheduler.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <set>
#include <unordered_map>
#include <utility>
#include <vector>

#include <hux/regen/container.h>

namespace hux {
namespace {

using StepKey = std::pair<std::uint64_t, std::uint64_t>;

struct Key : IRegenableObject, IRegenStep {
  Key(std::uint64_t object, std::uint64_t step) : object(object), step(step) {}
  std::uint64_t GetObjectId() override { return object; }
  std::uint64_t GetStepId() override { return step; }
  void CollectRelations(IRelationContext&) override {}
  bool OnRegen(GRegenAtom const&) override { return false; }
  IRegenStep* GetRegenStep(GRegenAtom const&) override { return this; }
  void OnRemove(GRemoveObjectContext&) override {}
  void Execute(IRegenableObject*, GRegenAtom const&) override {}
  std::uint64_t object, step;
};

// The rule read plainly; when it loses a step, the order is made again handing a
// dropped child's children on to the equal child. On a cycle: level order, last occurrences.
struct RefNode {
  StepKey key;
  int serial;
  RefNode* parent = nullptr;
  std::vector<RefNode*> children;
  std::size_t builtChildren = 0;
  RefNode* builtParent = nullptr;
};

class ReferenceOrder {
 public:
  std::vector<int> Run(std::vector<RefNode*> const& top) {
    std::vector<RefNode*> const all = Reach(top, nullptr).second;
    std::set<StepKey> steps;
    for (RefNode* n : all) {
      n->builtChildren = n->children.size();
      n->builtParent = n->parent;
      steps.insert(n->key);
    }
    std::vector<int> out = Pass(top);
    if (out.size() == steps.size()) return out;
    lost = true;
    for (RefNode* n : all) {
      n->children.resize(n->builtChildren);
      n->parent = n->builtParent;
    }
    handOn = true;
    return Pass(top);
  }

  bool cycled = false, dropped = false, joined = false, lost = false, handOn = false;

 private:
  struct Cycle {};

  std::vector<int> Pass(std::vector<RefNode*> const& top) {
    order.clear();
    try {
      std::vector<RefNode*> queue;
      for (RefNode* s : top) Place(s, queue);
      while (!queue.empty()) {
        std::vector<RefNode*> taken;
        taken.swap(queue);
        for (RefNode* w : taken)
          for (std::size_t i = 0; i < w->children.size(); ++i) Place(w->children[i], queue);
      }
    } catch (Cycle const&) {
      cycled = true;
      return LevelOrder(top);
    }
    std::vector<int> out;
    for (RefNode* n : order) out.push_back(n->serial);
    return out;
  }

  static std::pair<bool, std::vector<RefNode*>> Reach(std::vector<RefNode*> work, RefNode* target) {
    std::vector<RefNode*> all;
    std::set<RefNode*> seen;
    while (!work.empty()) {
      RefNode* n = work.back();
      work.pop_back();
      if (n == target) return {true, all};
      if (!seen.insert(n).second) continue;
      all.push_back(n);
      work.insert(work.end(), n->children.begin(), n->children.end());
    }
    return {false, all};
  }

  static bool HasAncestor(RefNode const* node, RefNode const* e) {
    for (RefNode const* p = node->parent; p != nullptr; p = p->parent)
      if (p == e) return true;
    return false;
  }

  void Place(RefNode* s, std::vector<RefNode*>& queue) {
    auto found = std::find_if(order.begin(), order.end(), [&](RefNode* n) { return n->key == s->key; });
    if (found != order.end()) {
      RefNode* e = *found;
      auto const rest = order.erase(found);
      auto firstDropped = std::stable_partition(rest, order.end(), [&](RefNode* n) { return !HasAncestor(n, e); });
      dropped |= firstDropped != order.end();
      order.erase(firstDropped, order.end());
      std::set<RefNode*> handedOn;
      order.push_back(s);
      HandChildren(e, s, handedOn);
    } else {
      order.push_back(s);
    }
    if (!s->children.empty()) queue.push_back(s);
  }

  void HandChildren(RefNode* from, RefNode* to, std::set<RefNode*>& handedOn) {
    for (std::size_t i = 0; i < from->children.size(); ++i) {
      RefNode* c = from->children[i];
      auto equal = std::find_if(to->children.begin(), to->children.end(), [&](RefNode* x) { return x->key == c->key; });
      if (equal == to->children.end()) {
        if (Reach({c}, to).first) throw Cycle{};
        to->children.push_back(c);
        c->parent = to;
        joined = true;
      } else if (handOn && *equal != c && handedOn.insert(c).second) {
        HandChildren(c, *equal, handedOn);
      }
    }
  }

  static std::vector<int> LevelOrder(std::vector<RefNode*> const& top) {
    std::vector<RefNode*> sequence, level(top.begin(), top.end());
    while (!level.empty()) {
      std::vector<RefNode*> next;
      for (RefNode* n : level) {
        sequence.push_back(n);
        next.insert(next.end(), n->children.begin(), n->children.begin() + static_cast<long>(n->builtChildren));
      }
      level.swap(next);
    }
    std::vector<int> out;
    std::set<StepKey> seen;
    for (auto it = sequence.rbegin(); it != sequence.rend(); ++it)
      if (seen.insert((*it)->key).second) out.insert(out.begin(), (*it)->serial);
    return out;
  }

  std::vector<RefNode*> order;
};

class TwinTree {
 public:
  int Add(int parent, std::uint64_t object, std::uint64_t step = 0) {
    auto key = std::make_shared<Key>(object, step);
    auto node = std::make_shared<GRegenStepNode>(key.get(), GRegenAtom(object, L"p"), key);
    if (parent >= 0 && nodes[parent]->HasChildEqualTo(*node)) return -1;
    int const serial = static_cast<int>(nodes.size());
    keys.push_back(key);
    nodes.push_back(node);
    serialOf[node.get()] = serial;
    refs.push_back(std::make_unique<RefNode>(RefNode{{object, step}, serial}));
    if (parent < 0) {
      top.push_back(node);
      refTop.push_back(refs.back().get());
    } else {
      nodes[parent]->AttachChild(node);
      refs[parent]->children.push_back(refs.back().get());
      refs.back()->parent = refs[parent].get();
    }
    return serial;
  }

  std::vector<int> Ordered() {
    std::vector<int> out;
    for (auto const& node : GRegenScheduler::OrderSteps(top)) out.push_back(serialOf.at(node.get()));
    return out;
  }

  std::vector<std::shared_ptr<Key>> keys;
  std::vector<std::shared_ptr<GRegenStepNode>> nodes, top;
  std::unordered_map<GRegenStepNode const*, int> serialOf;
  std::vector<std::unique_ptr<RefNode>> refs;
  std::vector<RefNode*> refTop;
};

// Keys from a small pool recur on levels, paths and branches; "layered" trees have no cycle.
TEST(StepOrder, MatchesTheReferenceAndLosesNoStepOnRandomTrees) {
  std::mt19937_64 random(35);
  int cycled = 0, dropped = 0, joined = 0, lost = 0;
  auto below = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
  for (int round = 0; round < 20000; ++round) {
    bool const layered = round % 2 == 0;
    int const objects = 2 + below(12), steps = 1 + below(2), maxDepth = 1 + below(9), maxNodes = 8 + below(90);
    TwinTree t;
    struct Pending {
      int serial, depth, keyIndex;
    };
    std::vector<Pending> work;
    for (int i = 0, roots = 1 + below(4); i < roots; ++i) {
      int const k = below(layered ? 3 : objects);
      work.push_back({t.Add(-1, 1 + static_cast<std::uint64_t>(k), random() % steps), 0, k});
    }
    for (std::size_t i = 0; i < work.size() && static_cast<int>(t.nodes.size()) < maxNodes; ++i) {
      Pending const p = work[i];
      if (p.serial < 0 || p.depth >= maxDepth) continue;
      for (int j = 0, children = below(4); j < children; ++j) {
        if (layered && p.keyIndex + 1 >= objects) break;
        int const k = layered ? p.keyIndex + 1 + below(objects - p.keyIndex - 1) : below(objects);
        bool const once = random() % 4 == 0;
        std::uint64_t const object = once ? 1000 + t.nodes.size() : 1 + static_cast<std::uint64_t>(k);
        int const s = t.Add(p.serial, object, layered ? 0 : random() % steps);
        work.push_back({s, p.depth + 1, once ? p.keyIndex : k});
      }
    }
    // A step with grandchildren again, below a chain of single steps, with only its first child: losable steps.
    for (int attempt = 0; round % 4 < 2 && attempt < 8; ++attempt) {
      Pending const x = work[random() % work.size()];
      if (x.serial < 0) continue;
      auto const& children = t.nodes[x.serial]->GetChildren();
      if (children.empty() || children.front()->GetChildren().empty()) continue;
      GRegenStepNode const& child = *children.front();
      int tail = -1;
      for (int depth = x.depth + below(4); depth >= 0; --depth) tail = t.Add(tail, 1000 + t.nodes.size());
      t.Add(t.Add(tail, t.nodes[x.serial]->ObjectId(), t.nodes[x.serial]->StepId()), child.ObjectId(), child.StepId());
      break;
    }
    ReferenceOrder reference;
    std::vector<int> const expected = reference.Run(t.refTop);
    ASSERT_EQ(t.Ordered(), expected) << "round " << round;
    std::set<StepKey> reached;
    for (auto const& n : t.refs) reached.insert(n->key);
    ASSERT_EQ(expected.size(), reached.size()) << "a step is lost in round " << round;
    ASSERT_FALSE(layered && reference.cycled);
    cycled += reference.cycled;
    bool const exact = !reference.cycled;
    dropped += reference.dropped && exact;
    joined += reference.joined && exact;
    lost += reference.lost && exact;
  }
  EXPECT_TRUE(cycled > 5000 && cycled < 15000 && dropped > 2000 && joined > 4000 && lost > 500);
}

// Descendants of a moved step leave by a walk down from it, not by scans of the order.
TEST(StepOrder, LongSubtreesMoveInLinearTime) {
  constexpr int kLength = 100000;
  TwinTree t;
  int const r = t.Add(-1, 1);
  int last = t.Add(r, 2);
  int detour = t.Add(r, 3);
  for (int i = 0; i < kLength; ++i) last = t.Add(last, 10 + static_cast<std::uint64_t>(i));
  for (int i = 0; i < kLength + 5; ++i) detour = t.Add(detour, 1000000 + static_cast<std::uint64_t>(i));
  int const a2 = t.Add(detour, 2);
  std::vector<int> const order = t.Ordered();
  ASSERT_EQ(order.size(), static_cast<std::size_t>(2 * kLength + 8));
  EXPECT_EQ(order[1], 2);
  EXPECT_EQ(order[kLength + 7], a2);
  EXPECT_EQ(order[kLength + 8], 3);  // the chain's first step
  EXPECT_EQ(order.back(), last);
}

// A hand-built tree may hold a top-level step below another one.
TEST(StepOrder, TopLevelStepReachedTwiceKeepsTheStepsAfterItAndDeepTreesAreReleased) {
  TwinTree t;
  int const b = t.Add(-1, 1);
  int const a = t.Add(-1, 2);
  t.nodes[b]->AttachChild(t.nodes[a]);
  int const c = t.Add(-1, 3);
  int const d = t.Add(c, 4);
  std::vector<int> order = t.Ordered();
  std::sort(order.begin(), order.end());
  EXPECT_EQ(order, (std::vector<int>{b, a, c, d}));
  // Deep trees are released without recursion; nodes need a step and an object.
  auto key = std::make_shared<Key>(1, 1);
  auto root = std::make_shared<GRegenStepNode>(key.get(), GRegenAtom(1, L"p"), key);
  auto atoms = std::make_shared<GRegenAtomNode>(GRegenAtom(1, L"p"));
  GRegenStepNode* tail = root.get();
  GRegenAtomNode* end = atoms.get();
  for (std::uint64_t i = 0; i < 1000000; ++i) {
    auto next = std::make_shared<GRegenStepNode>(key.get(), GRegenAtom(i, L"p"), key);
    tail->AttachChild(next);
    tail = next.get();
    end->m_listChildren.push_back(std::make_shared<GRegenAtomNode>(GRegenAtom(i, L"p"), end));
    end = end->m_listChildren.back().get();
  }
  root.reset();
  atoms.reset();

  EXPECT_THROW(GRegenStepNode(nullptr, GRegenAtom(1, L"p"), key), std::invalid_argument);
  EXPECT_THROW(GRegenStepNode(key.get(), GRegenAtom(1, L"p"), nullptr), std::invalid_argument);
  EXPECT_TRUE(GRegenScheduler::OrderSteps({}).empty());
}

}  // namespace
}  // namespace hux
