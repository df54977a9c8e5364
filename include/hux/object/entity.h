// Entities: nodes of an ownership tree under a project, each carrying an
// object id, object flags and an implementation object that holds its data.
//
// An entity owns its children and its implementation object; it knows its
// parent without owning it. The root of a tree is normally an IBaseProject,
// which hands out the ids and owns the database device. Through the installed
// I/O facade an entity can write its data out and release it
// (SwapDataToDisk) and get it back on demand (GetBaseEntityImpl(true));
// deletions of entities marked EGOBJECT_RECORD_DELETE are recorded in the
// device's objects state.
//
// Entities are not copyable. A tree is used by one thread at a time.
#pragma once

#include <vector>

#include <hux/export.h>

namespace hux {

class GDbArchive;
class GDBDevice;
class IBaseEntity;
class IBaseProject;

// Object flag bits; an entity's flags are a combination of them.
enum EGOBJECT_FLAG : unsigned int {
  // Marked modified: set on new entities, cleared by SwapDataToDisk; setting
  // it clears EGOBJECT_SWAPPED (with a facade installed).
  EGOBJECT_MODIFIED = 1,
  // Data written out and released; setting it clears EGOBJECT_MODIFIED (with
  // a facade installed).
  EGOBJECT_SWAPPED = 2,
  // The entity's id is recorded in the device's objects state when its
  // parent deletes it.
  EGOBJECT_RECORD_DELETE = 4,
  // Inside a project with a device, SetObjectFlag does not set
  // EGOBJECT_MODIFIED (with a facade installed).
  EGOBJECT_NO_MODIFIED = 8,
};

inline constexpr EGOBJECT_FLAG operator|(EGOBJECT_FLAG a, EGOBJECT_FLAG b) {
  return static_cast<EGOBJECT_FLAG>(static_cast<unsigned int>(a) | static_cast<unsigned int>(b));
}

// The data of an entity. Entity classes derive their own implementation
// classes from it and create them in IBaseEntity::CreateBaseEntityImpl.
class HUX_API IBaseEntityImpl {
 public:
  IBaseEntityImpl();
  virtual ~IBaseEntityImpl();
  IBaseEntityImpl(const IBaseEntityImpl&) = delete;
  IBaseEntityImpl& operator=(const IBaseEntityImpl&) = delete;

  // Writes or reads the data according to the archive's mode. The default
  // writes (or skips) one empty object.
  virtual bool Serialize(GDbArchive& archive);

  // The entity this object belongs to (not owned), or null.
  IBaseEntity* GetBaseEntity() const { return m_pEntity; }
  void SetBaseEntity(IBaseEntity* entity) { m_pEntity = entity; }

 private:
  IBaseEntity* m_pEntity;
};

class HUX_API IBaseEntity {
 public:
  // No children, no parent, no implementation object, id 1 (none assigned),
  // flags EGOBJECT_MODIFIED.
  IBaseEntity();
  // Destroys the implementation object, then the children (recording their
  // deletion as DeleteAllChild does). Does not remove itself from its parent:
  // entities are destroyed by their parent or as roots.
  virtual ~IBaseEntity();
  IBaseEntity(const IBaseEntity&) = delete;
  IBaseEntity& operator=(const IBaseEntity&) = delete;

  // Appends `child` (which must not belong to another entity) and makes this
  // entity its parent. When the tree's root is a project that is not being
  // loaded, the child and its descendants without an id (id <= 1) get the
  // project's next ids in pre-order. A null child is ignored.
  virtual void AddChild(IBaseEntity* child);
  // Records the deletion of `child` (see EGOBJECT_RECORD_DELETE), destroys it
  // and removes it from the children, keeping the others' order. False when
  // `child` is not a child of this entity.
  virtual bool DeleteChild(IBaseEntity* child);
  // Records the deletion of each child in order and destroys it; the
  // children are empty afterwards.
  virtual void DeleteAllChild();
  // Clears (`on` false) or sets the bits of `flag`. With a facade installed,
  // setting follows the rules: EGOBJECT_MODIFIED is not set inside a project
  // with a device while the entity has EGOBJECT_NO_MODIFIED or the device is
  // loading; setting EGOBJECT_MODIFIED clears EGOBJECT_SWAPPED and setting
  // EGOBJECT_SWAPPED clears EGOBJECT_MODIFIED. Without a facade the bits are
  // added.
  virtual void SetObjectFlag(bool on, EGOBJECT_FLAG flag);
  // A new implementation object (owned by the caller); the default creates a
  // plain IBaseEntityImpl. Entity classes override it.
  virtual IBaseEntityImpl* CreateBaseEntityImpl();

  const std::vector<IBaseEntity*>& GetAllChild() const { return m_vecChildren; }
  IBaseEntity* GetParent() const { return m_pParent; }
  __int64 GetObjectID() const { return m_nObjectID; }
  void SetObjectID(__int64 id) { m_nObjectID = id; }
  // True when every bit of `flag` is set (so no bits is always true).
  bool HasObjectFlag(EGOBJECT_FLAG flag) const { return (m_nFlags & flag) == flag; }
  // All flag bits.
  unsigned int GetObjectFlags() const { return m_nFlags; }

  // The implementation object, created with CreateBaseEntityImpl when there
  // is none. When one is created, `load` is true, a facade is installed and
  // the entity is EGOBJECT_SWAPPED, the facade's LoadEntityData fills it; if
  // that throws, the new object is destroyed again and the exception passes.
  // An existing object is returned as it is. Null only when
  // CreateBaseEntityImpl returns null.
  IBaseEntityImpl* GetBaseEntityImpl(bool load);
  // Takes ownership of `impl`, destroying a different current object. Null
  // destroys the current object and leaves the entity without one.
  void SetImplObject(IBaseEntityImpl* impl);
  // With a facade installed: has the facade write the data out, marks the
  // entity EGOBJECT_SWAPPED (clearing EGOBJECT_MODIFIED) and destroys the
  // implementation object. Without a facade nothing happens, and an entity
  // already swapped out without data in memory stays as it is (its stored
  // data is not overwritten).
  void SwapDataToDisk();

  // The database device of the project at the root of this tree, or null.
  GDBDevice* GetDBDevice();
  // The project at the root of this tree, or null.
  IBaseProject* GetProject();

  // Appends `entity` and all its descendants in pre-order (the entity first,
  // then each child's subtree in child order). Inner nodes are included.
  static void GetAllLeafChild(IBaseEntity* entity, std::vector<IBaseEntity*>& out);

 private:
  IBaseEntity* GetRoot();
  static void RegisterDeleteObjectToDB(IBaseEntity* entity);
  void _DealWithObjectFlag(EGOBJECT_FLAG& flag, EGOBJECT_FLAG& clearMask);
  void _SetObjectFlagFunc(bool on, EGOBJECT_FLAG flag);

  std::vector<IBaseEntity*> m_vecChildren;
  IBaseEntity* m_pParent;
  IBaseEntityImpl* m_pImpl;
  __int64 m_nObjectID;
  unsigned int m_nFlags;
};

}  // namespace hux
