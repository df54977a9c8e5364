// The regeneration container: the base of a client's store of regenerable
// objects, which keeps their relations and runs regeneration over them.
//
// A client derives from IRegenObjectContainer, stores its objects, and
// supplies GetObject and DestroyObject. Callers announce changes with
// MarkAtom; Regenerate passes each change on to the changed object and to its
// dependants (who may announce further changes), asks the objects for the
// regeneration steps the changes require, orders the steps level by level
// with each step behind everything it depends on, runs each step once, and
// finally refreshes the relations of the objects that changed and reports
// removals. RemoveObject takes an object out of the graph and cascades to the
// objects that must go with it.
//
// The engine works on ids; it holds the client's objects only through the
// shared pointers GetObject hands out, and only while a call runs. Nothing is
// synchronised: a container is used by one thread at a time.
#pragma once

#include <cstdint>
#include <memory>

#include <hux/export.h>
#include <hux/regen/atom.h>
#include <hux/regen/relation.h>

namespace hux {

class GRegenScheduler;
class IRegenableObject;

// One regeneration step; owned by the object that hands it out.
class HUX_API IRegenStep {
 public:
  virtual ~IRegenStep();
  // The step's key: two step nodes are one step only if their keys are equal
  // (and their objects' ids too).
  virtual std::uint64_t GetStepId() = 0;
  // Performs the step on `object` for `atom`.
  virtual void Execute(IRegenableObject* object, GRegenAtom const& atom) = 0;
};

// An object that takes part in regeneration; implemented by the client.
class HUX_API IRegenableObject {
 public:
  virtual ~IRegenableObject();
  // The object's identity; step nodes of objects with equal ids (and steps
  // with equal keys) are the same step.
  virtual std::uint64_t GetObjectId() = 0;
  // Reports each relation as context.AddRelation(ownId, referredId, type).
  virtual void CollectRelations(IRelationContext& context) = 0;
  // Reacts to `atom` (a change of this object or of one it depends on) and
  // answers whether this object changed. May call MarkAtom on the container.
  virtual bool OnRegen(GRegenAtom const& atom) = 0;
  // The step `atom` requires on this object, or null. The object keeps
  // ownership; the engine uses the step only until Regenerate returns.
  virtual IRegenStep* GetRegenStep(GRegenAtom const& atom) = 0;
  // Called on a removed object and on each of its dependants; an object may
  // ask for further removals with context.MarkRemove(id).
  virtual void OnRemove(GRemoveObjectContext& context) = 0;
};

class HUX_API IRegenObjectContainer {
 public:
  // An empty relation database and an idle scheduler.
  IRegenObjectContainer();
  virtual ~IRegenObjectContainer();
  IRegenObjectContainer(IRegenObjectContainer const&) = delete;
  IRegenObjectContainer& operator=(IRegenObjectContainer const&) = delete;

  // Runs the atoms marked since the last run and adds what it did to
  // `context`: the targets of updated atoms, of executed steps and the ids
  // removed since the last run. Exceptions of client operations reach the
  // caller; the container is then idle again with its marked atoms dropped
  // (removed ids are kept for the next run). Calling Regenerate from inside
  // a running Regenerate throws std::logic_error.
  virtual void Regenerate(GRegenContext& context);
  // The object with `id`, or an empty pointer.
  virtual std::shared_ptr<IRegenableObject> GetObject(std::uint64_t id) = 0;
  // The client drops the object from its store; it normally calls
  // RemoveObject(id) from here or before, so that the removal cascades.
  virtual void DestroyObject(std::uint64_t id) = 0;

  // The container's relation database (owned by the container). The engine
  // adds relations only for updated objects at the end of a run; record
  // others through a GCollectRelationContext over this database.
  GRegenObjectRelationDb* GetRelationDb() const { return m_pRelationDb; }
  // Announces a change. Outside Regenerate the atom becomes a root of the
  // next run (an atom equal to a pending root is ignored); while changes are
  // being propagated it joins the atoms the current object announced; while
  // steps are built and executed it is ignored.
  void MarkAtom(GRegenAtom const& atom);
  // The same for an atom the caller no longer needs: it is moved, not copied.
  void MarkAtom(GRegenAtom&& atom);
  // Removes `id` from the regeneration graph: erases the relations it
  // reported and its own entry, tells it and its dependants (OnRemove), then
  // calls DestroyObject for every id they asked to remove. A second removal
  // of the same id before the next Regenerate, or of a missing object, does
  // nothing.
  void RemoveObject(std::uint64_t id);

  // The scheduling state, for inspection.
  GRegenScheduler const* GetScheduler() const { return m_pScheduler; }

 private:
  GRegenObjectRelationDb* m_pRelationDb;
  GRegenScheduler* m_pScheduler;
};

}  // namespace hux
