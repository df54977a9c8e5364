// The regeneration run: propagation of marked atoms, the step tree, execution
// and the refresh of relations; and the removal cascade.
#include <hux/regen/scheduler.h>

#include <cstddef>
#include <stdexcept>
#include <utility>

#include <hux/regen/container.h>
#include <hux/regen/relation.h>

#include "regen/flat_index.h"
#include "regen/node_arena.h"
#include "regen/step_order.h"
#include "regen/tree_release.h"

namespace hux {

namespace {

// FNV-1a over the target id and the property's code points: property names
// are short, and this runs for every atom placed in the tree.
struct AtomPtrHash {
  std::size_t operator()(GRegenAtom const* atom) const {
    std::uint64_t h = 0xCBF29CE484222325ull ^ atom->TargetId();
    h *= 0x100000001B3ull;
    for (wchar_t c : atom->PropertyId()) {
      h ^= static_cast<std::uint32_t>(c);
      h *= 0x100000001B3ull;
    }
    return static_cast<std::size_t>(h ^ h >> 29);
  }
};

struct AtomPtrEqual {
  bool operator()(GRegenAtom const* a, GRegenAtom const* b) const { return a->IsEqual(*b); }
};

using AtomSet = regen_detail::FlatIndex<GRegenAtom const*, char, AtomPtrHash, AtomPtrEqual>;

}  // namespace

GRegenAtomNode::GRegenAtomNode(GRegenAtom atom, GRegenAtomNode* parent) : m_atom(std::move(atom)), m_pParent(parent) {}

GRegenAtomNode::~GRegenAtomNode() {
  regen_detail::ReleaseTree(m_listChildren, [](GRegenAtomNode& node) -> auto& { return node.m_listChildren; });
}

struct GRegenScheduler::Internals {
  // The pending roots' atoms.
  AtomSet atoms;
  // The atoms of the ancestors of the node being propagated.
  AtomSet path;
  // Working memory of the step ordering.
  regen_detail::StepOrderWorkspace ordering;
  // Where the nodes of the coming run are made.
  std::shared_ptr<regen_detail::NodeArena> arena = std::make_shared<regen_detail::NodeArena>();

  template <class Node, class... Args>
  std::shared_ptr<Node> Make(Args&&... args) {
    return std::allocate_shared<Node>(regen_detail::ArenaAllocator<Node>(arena), std::forward<Args>(args)...);
  }

  // Called once the run's trees are gone: the blocks are used again unless
  // a node is still held somewhere, in which case the next run takes new
  // ones.
  void RecycleArena() {
    if (arena.use_count() == 1)
      arena->Rewind();
    else
      arena = std::make_shared<regen_detail::NodeArena>();
  }
};

GRegenScheduler::GRegenScheduler(IRegenObjectContainer* container)
    : m_pContainer(container), m_pInternals(std::make_unique<Internals>()) {}

GRegenScheduler::~GRegenScheduler() = default;

void GRegenScheduler::MarkAtom(GRegenAtom const& atom) {
  // The copy is made only where the atom is kept.
  if (m_bBuildingSteps || (!m_bRegenerating && m_pInternals->atoms.Contains(&atom))) return;
  MarkAtom(GRegenAtom(atom));
}

void GRegenScheduler::MarkAtom(GRegenAtom&& atom) {
  if (m_bBuildingSteps) return;
  if (m_bRegenerating) {
    m_listDeferredAtoms.push_back(std::move(atom));
    return;
  }
  if (m_pInternals->atoms.Contains(&atom)) return;
  auto node = m_pInternals->Make<GRegenAtomNode>(std::move(atom));
  m_listPendingAtoms.push_back(node);
  m_pInternals->atoms.Put(&node->m_atom, 0);
}

void GRegenScheduler::Regenerate(GRegenContext& context) {
  if (m_bRunning) throw std::logic_error("Regenerate called while the container is regenerating");
  m_bRunning = true;
  try {
    // Phase 1: pass the marked atoms on to their objects and dependants.
    m_bRegenerating = true;
    Propagate(context);
    m_bRegenerating = false;
    m_listDeferredAtoms.clear();

    // Phase 2: build, order and execute the steps. Atoms marked from here
    // until the phase ends are dropped.
    m_bBuildingSteps = true;
    {
      std::vector<std::shared_ptr<GRegenStepNode>> topLevel;
      BuildSteps(topLevel);
      std::vector<std::shared_ptr<GRegenStepNode>> order = regen_detail::OrderSteps(topLevel, m_pInternals->ordering);
      for (auto const& node : order) {
        std::uint64_t const target = node->GetAtom().TargetId();
        // A step whose object an earlier step removed is not run: the atom
        // of a removed object gives no step.
        if (m_setRemovedIds.count(target) != 0) continue;
        node->GetStep()->Execute(node->GetObject().get(), node->GetAtom());
        context.MarkRegened(target);
      }
    }
    m_bBuildingSteps = false;
    m_listPendingAtoms.clear();
    m_pInternals->atoms.Clear();
    m_listDeferredAtoms.clear();
    m_pInternals->RecycleArena();

    // Phase 3: relations of updated objects, then the removal report.
    RefreshRelations(context);
  } catch (...) {
    ResetAfterFailure();
    throw;
  }
  m_bRunning = false;
}

// A client operation threw: leave the scheduler idle with no atoms, so that
// the next MarkAtom and Regenerate start afresh. Removed ids stay to be
// reported by the next run.
void GRegenScheduler::ResetAfterFailure() {
  m_bRegenerating = false;
  m_bBuildingSteps = false;
  m_pInternals->atoms.Clear();
  m_listPendingAtoms.clear();
  m_listDeferredAtoms.clear();
  m_pInternals->RecycleArena();
  m_bRunning = false;
}

// Depth first over the atom tree, without recursion: a node's children are
// propagated completely before its next sibling. `path` holds the atoms of
// the ancestors of the node being processed, so that an atom equal to one of
// them (a cycle) is found without walking up the tree.
void GRegenScheduler::Propagate(GRegenContext& context) {
  GRegenObjectRelationDb& db = *m_pContainer->GetRelationDb();
  struct Frame {
    std::vector<std::shared_ptr<GRegenAtomNode>>* list;
    std::size_t next;
    GRegenAtomNode* owner;
  };
  std::vector<Frame> stack{{&m_listPendingAtoms, 0, nullptr}};
  AtomSet& path = m_pInternals->path;
  path.Clear();
  std::vector<std::pair<GRegenObjectRelation::RelationType, std::uint64_t>> dependants;
  GRegenObjectRelation::RelationMap stale;
  GQueryRelationContext query;

  while (!stack.empty()) {
    Frame& frame = stack.back();
    if (frame.next == frame.list->size()) {
      if (frame.owner != nullptr) path.Erase(&frame.owner->m_atom);
      stack.pop_back();
      continue;
    }
    GRegenAtomNode* node = (*frame.list)[frame.next++].get();
    GRegenAtom const& atom = node->m_atom;
    std::uint64_t const target = atom.TargetId();

    if (m_setRemovedIds.count(target) != 0) continue;
    std::shared_ptr<IRegenableObject> object = m_pContainer->GetObject(target);
    if (!object) continue;
    if (object->OnRegen(atom)) context.MarkUpdated(target);

    GRegenObjectRelation* entry = db.GetRelations(target);
    if (entry == nullptr) continue;

    // The dependants are copied first: the calls below run client code that
    // may change the database.
    dependants.clear();
    for (auto const& [type, ids] : *entry)
      for (std::uint64_t id : ids) dependants.emplace_back(type, id);
    stale.clear();
    for (auto const& [type, id] : dependants) {
      std::shared_ptr<IRegenableObject> dependant = m_pContainer->GetObject(id);
      if (!dependant) {
        stale[type].insert(id);
        continue;
      }
      query.Clear();
      dependant->CollectRelations(query);
      if (!query.IsIdExist(target)) {
        stale[type].insert(id);
        continue;
      }
      if (dependant->OnRegen(atom)) context.MarkUpdated(target);
    }
    if (!stale.empty()) {
      entry = db.GetRelations(target);
      if (entry != nullptr) entry->Remove(stale);
    }

    if (m_listDeferredAtoms.empty()) continue;
    for (GRegenAtom& deferred : m_listDeferredAtoms) {
      if (deferred.IsEqual(atom) || path.Contains(&deferred)) continue;
      node->m_listChildren.push_back(m_pInternals->Make<GRegenAtomNode>(std::move(deferred), node));
    }
    m_listDeferredAtoms.clear();
    if (!node->m_listChildren.empty()) {
      path.Put(&node->m_atom, 0);
      stack.push_back({&node->m_listChildren, 0, node});
    }
  }
}

// Visits the atom tree depth first and makes a step node for every atom whose
// object gives a step. A node joins its parent step unless the parent already
// has an equal child; such a node still collects the steps beneath it, and
// they are dropped with it.
void GRegenScheduler::BuildSteps(std::vector<std::shared_ptr<GRegenStepNode>>& topLevel) {
  struct Frame {
    GRegenAtomNode* atom;
    std::size_t next;
    std::shared_ptr<GRegenStepNode> made;
    GRegenStepNode* parentOfChildren;
  };
  std::vector<Frame> stack;
  auto enter = [&](GRegenAtomNode* atomNode, GRegenStepNode* parent) {
    GRegenAtom const& atom = atomNode->m_atom;
    std::shared_ptr<GRegenStepNode> made;
    if (m_setRemovedIds.count(atom.TargetId()) == 0) {
      std::shared_ptr<IRegenableObject> object = m_pContainer->GetObject(atom.TargetId());
      if (object) {
        if (IRegenStep* step = object->GetRegenStep(atom))
          made = m_pInternals->Make<GRegenStepNode>(step, atom, object);
      }
    }
    if (made) {
      if (parent == nullptr)
        topLevel.push_back(made);
      else if (!parent->HasChildEqualTo(*made))
        parent->AttachChild(made);
    }
    GRegenStepNode* parentOfChildren = made ? made.get() : parent;
    stack.push_back({atomNode, 0, std::move(made), parentOfChildren});
  };
  for (auto const& root : m_listPendingAtoms) {
    enter(root.get(), nullptr);
    while (!stack.empty()) {
      Frame& frame = stack.back();
      if (frame.next == frame.atom->m_listChildren.size()) {
        stack.pop_back();
        continue;
      }
      GRegenAtomNode* child = frame.atom->m_listChildren[frame.next++].get();
      enter(child, frame.parentOfChildren);
    }
  }
}

void GRegenScheduler::RefreshRelations(GRegenContext& context) {
  std::vector<std::uint64_t> updated;
  for (std::uint64_t id : context.GetUpdatedIds())
    if (m_setRemovedIds.count(id) == 0) updated.push_back(id);
  GCollectRelationContext collect(*m_pContainer->GetRelationDb());
  for (std::uint64_t id : updated) {
    std::shared_ptr<IRegenableObject> object = m_pContainer->GetObject(id);
    if (object) object->CollectRelations(collect);
  }
  for (std::uint64_t id : m_setRemovedIds) context.MarkDelete(id);
  m_setRemovedIds.clear();
}

void GRegenScheduler::RemoveObject(std::uint64_t id) {
  if (m_setRemovedIds.count(id) != 0) return;
  std::shared_ptr<IRegenableObject> object = m_pContainer->GetObject(id);
  if (!object) return;

  GRegenObjectRelationDb& db = *m_pContainer->GetRelationDb();
  std::set<std::uint64_t> dependants;
  GRemoveRelationContext erase(db, dependants);
  object->CollectRelations(erase);
  if (GRegenObjectRelation* entry = db.GetRelations(id)) {
    entry->GetAllRelations(dependants);
    db.RemoveRelation(id);
  }
  // Recorded before any client code below can come back here, so that a
  // cascade reaching `id` again stops at once.
  m_setRemovedIds.insert(id);

  GRemoveObjectContext context(id);
  object->OnRemove(context);
  for (std::uint64_t dependantId : dependants) {
    std::shared_ptr<IRegenableObject> dependant = m_pContainer->GetObject(dependantId);
    if (dependant) dependant->OnRemove(context);
  }
  std::set<std::uint64_t> const toRemove = context.GetIdsToRemove();
  for (std::uint64_t removeId : toRemove) m_pContainer->DestroyObject(removeId);
}

}  // namespace hux
