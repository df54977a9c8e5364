// The regeneration container's scheduling state: the atom tree built while
// changes propagate, the step tree, and the ordering of steps.
//
// GRegenScheduler belongs to one IRegenObjectContainer and does its work;
// callers reach it through the container. The node classes and OrderSteps are
// public so that the ordering can be inspected and checked on its own. Nodes
// are held by shared pointer; a parent owns its children through its list and
// a child points back to its parent without owning it. Deep trees (long
// dependency chains) are released without recursion. One thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <set>
#include <vector>

#include <hux/export.h>
#include <hux/regen/atom.h>

namespace hux {

class IRegenObjectContainer;
class IRegenStep;
class IRegenableObject;

// One node of the atom tree: an announced change and the changes it caused.
class HUX_API GRegenAtomNode {
 public:
  explicit GRegenAtomNode(GRegenAtom atom, GRegenAtomNode* parent = nullptr);
  ~GRegenAtomNode();
  GRegenAtomNode(GRegenAtomNode const&) = delete;
  GRegenAtomNode& operator=(GRegenAtomNode const&) = delete;

  GRegenAtom m_atom;
  // Children in the order they were attached.
  std::vector<std::shared_ptr<GRegenAtomNode>> m_listChildren;
  // The parent node, null for a root.
  GRegenAtomNode* m_pParent;
};

// One node of the step tree: a step, the atom that asked for it and the
// object that gave it. Two nodes are the same step when their objects'
// GetObjectId() and their steps' GetStepId() are equal; both values are read
// once, when the node is made.
class HUX_API GRegenStepNode : public std::enable_shared_from_this<GRegenStepNode> {
 public:
  // `step` and `object` must not be null (std::invalid_argument).
  GRegenStepNode(IRegenStep* step, GRegenAtom const& atom, std::shared_ptr<IRegenableObject> object);
  ~GRegenStepNode();
  GRegenStepNode(GRegenStepNode const&) = delete;
  GRegenStepNode& operator=(GRegenStepNode const&) = delete;

  IRegenStep* GetStep() const { return m_pStep; }
  GRegenAtom const& GetAtom() const { return m_atom; }
  std::shared_ptr<IRegenableObject> const& GetObject() const { return m_pObject; }
  GRegenStepNode* GetParent() const { return m_pParent; }
  std::vector<std::shared_ptr<GRegenStepNode>> const& GetChildren() const { return m_listChildren; }
  std::uint64_t ObjectId() const { return m_nObjectId; }
  std::uint64_t StepId() const { return m_nStepId; }

  bool IsEqual(GRegenStepNode const& other) const {
    return m_nObjectId == other.m_nObjectId && m_nStepId == other.m_nStepId;
  }
  // Whether a child equal to `node` is attached (a lookup, not a scan).
  bool HasChildEqualTo(GRegenStepNode const& node) const;
  // Appends `child` to the children and makes this node its parent.
  void AttachChild(std::shared_ptr<GRegenStepNode> const& child);

 private:
  friend class GRegenStepOrderer;
  struct ChildIndex;

  IRegenStep* m_pStep;
  GRegenAtom m_atom;
  std::shared_ptr<IRegenableObject> m_pObject;
  GRegenStepNode* m_pParent = nullptr;
  std::vector<std::shared_ptr<GRegenStepNode>> m_listChildren;

  std::uint64_t m_nObjectId;
  std::uint64_t m_nStepId;
  // Keys of the children, kept once a node has more than a few of them.
  std::unique_ptr<ChildIndex> m_pChildIndex;

  // The first child equal to `node`, or null.
  GRegenStepNode* FindChildEqualTo(GRegenStepNode const& node) const;

  // Bookkeeping of one ordering run: the node's links in the step order, its
  // place stamp (larger means later), whether it stands in the order now and
  // whether it has been placed (or may hold placed descendants), the number
  // of children and the parent the step tree gave it, a mark for searches
  // and one for handing on children.
  GRegenStepNode* m_pPrevInOrder = nullptr;
  GRegenStepNode* m_pNextInOrder = nullptr;
  std::uint64_t m_nStamp = 0;
  bool m_bInOrder = false;
  bool m_bPlaced = false;
  std::size_t m_nBuiltChildren = 0;
  GRegenStepNode* m_pBuiltParent = nullptr;
  std::uint64_t m_nMark = 0;
  std::uint64_t m_nHandedOn = 0;
  std::size_t m_nKeyIndex = 0;
};

// The scheduling state and work of one container.
class HUX_API GRegenScheduler {
 public:
  explicit GRegenScheduler(IRegenObjectContainer* container);
  ~GRegenScheduler();
  GRegenScheduler(GRegenScheduler const&) = delete;
  GRegenScheduler& operator=(GRegenScheduler const&) = delete;

  // See IRegenObjectContainer.
  void MarkAtom(GRegenAtom const& atom);
  void MarkAtom(GRegenAtom&& atom);
  void Regenerate(GRegenContext& context);
  void RemoveObject(std::uint64_t id);

  // True only while changes propagate (the first phase of Regenerate).
  bool IsRegenerating() const { return m_bRegenerating; }
  // True only while steps are built, ordered and executed.
  bool IsBuildingSteps() const { return m_bBuildingSteps; }
  // The roots of the atom tree, in marking order.
  std::vector<std::shared_ptr<GRegenAtomNode>> const& GetPendingAtoms() const { return m_listPendingAtoms; }
  // Atoms announced during propagation and not yet placed in the tree.
  std::vector<GRegenAtom> const& GetDeferredAtoms() const { return m_listDeferredAtoms; }
  // Ids removed since the last Regenerate finished.
  std::set<std::uint64_t> const& GetRemovedIds() const { return m_setRemovedIds; }

  // Orders a step tree into the list of steps to execute, level by level:
  // each top-level step, then the children of the steps placed on the level
  // before. A step that occurs again is moved to its new place together with
  // the steps already placed beneath it, and the children of its former node
  // join the new one, so each step stands once, at its last occurrence. A
  // child for which the new node already has an equal child does not join,
  // and the steps beneath it could then be lost; when that happens, the
  // order is made again from the tree as built, with such a child's children
  // handed on to the equal child the same way, and so on down. Every
  // step of the tree stands in the result. The tree is changed on the way
  // (children join moved steps). Equal steps are found through an index, so
  // the cost grows with the number of placements, not with their square. If
  // the steps depend on each other in a cycle (which would make that
  // placement go on for ever), the steps of the tree as built are taken
  // level by level instead, each at its last occurrence.
  static std::vector<std::shared_ptr<GRegenStepNode>> OrderSteps(
      std::vector<std::shared_ptr<GRegenStepNode>> const& topLevel);

 private:
  struct Internals;

  void Propagate(GRegenContext& context);
  void BuildSteps(std::vector<std::shared_ptr<GRegenStepNode>>& topLevel);
  void RefreshRelations(GRegenContext& context);
  void ResetAfterFailure();

  bool m_bRegenerating = false;
  bool m_bBuildingSteps = false;
  std::vector<std::shared_ptr<GRegenAtomNode>> m_listPendingAtoms;
  std::vector<GRegenAtom> m_listDeferredAtoms;
  IRegenObjectContainer* m_pContainer;
  std::set<std::uint64_t> m_setRemovedIds;

  // An index of the pending roots' atoms, so that MarkAtom finds an equal
  // root at once, and the memory the run's nodes are made in.
  std::unique_ptr<Internals> m_pInternals;
  // True for the whole of a Regenerate call (re-entry is refused).
  bool m_bRunning = false;
};

}  // namespace hux
