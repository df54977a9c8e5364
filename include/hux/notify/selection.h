// Selection sets: the objects an editing front end has selected, with
// filters, single and multiple selection, and change notifications.
//
// A GSelection holds IBase pointers it does not own, ascending by address. It
// filters single additions through an optional ICheckCondition and a set of
// accepted mask types, announces every change through the subject given at
// construction (none when that is null), and, as an observer, drops objects
// when it is told that they went away. The vector sent with a notification
// lives only during the Notify call. One thread at a time.
#pragma once

#include <set>
#include <vector>

#include <hux/export.h>
#include <hux/notify/subject.h>
#include <hux/object/base.h>

namespace hux {

// Sent after objects were added; data: std::vector<IBase*>* of the added ones.
constexpr unsigned int NOTIFY_SELECT_ADD = 0x100;
// Sent after objects were removed; data: std::vector<IBase*>* of the removed.
constexpr unsigned int NOTIFY_SELECT_REMOVE = 0x200;
// Received: data is a std::vector<IBase*>* of objects to drop.
constexpr unsigned int NOTIFY_OBJECTS_REMOVED = 0x4000;

// The client's filter of what may be selected.
class HUX_API ICheckCondition {
 public:
  // Whether `object` may be selected.
  virtual bool Check(IBase* object) = 0;
  // The mask type of `object`, tested against the selection's mask types.
  virtual unsigned int GetMaskType(IBase* object) = 0;

 protected:
  ~ICheckCondition() = default;
};

class HUX_API GSelection : public IObserver {
 public:
  // No mask types, empty, multiple selection, no condition. The selection
  // does not attach itself to any subject; `subject` (not owned, may be null)
  // only carries its own announcements.
  explicit GSelection(ISubject* subject);

  // With NOTIFY_OBJECTS_REMOVED, removes each object of the vector `data`
  // points to through Remove(IBase*), each removal announced on its own.
  // Every other code is ignored.
  void Update(unsigned int code, void* data) override;
  // Empties the masks and the selection without announcing anything.
  virtual ~GSelection();
  // Destroys the selection (`delete this`).
  virtual void Destroy();

  virtual void ResetMask();
  virtual void AddMaskType(unsigned int type);
  virtual void RemoveMaskType(unsigned int type);
  virtual std::set<unsigned int> const& GetMaskTypes();
  // Stores the filter (not owned); null removes it.
  virtual void SetCondition(ICheckCondition* condition);
  // True for single selection, false for multiple.
  virtual void SetMode(bool single);

  // Adds several objects without consulting the condition or the masks. In
  // single mode only the first one counts: unless it is already selected
  // (false), it replaces the selection (true); a null first object only
  // empties the selection. In multiple mode every object not yet selected,
  // except null, is added and all of them are announced at once; the answer
  // is always false.
  virtual bool Add(std::vector<IBase*> const& objects);
  // Adds one object if it is not null, not selected, passes the condition
  // and, when there are mask types and a condition, its mask type is
  // accepted. In single mode the previous selection is removed first.
  virtual bool Add(IBase* object);
  // Removes the selected ones among `objects` and announces them at once;
  // the answer is always false.
  virtual bool Remove(std::vector<IBase*> const& objects);
  // Removes one selected object; false for null or an object not selected.
  virtual bool Remove(IBase* object);
  // Removes everything, announced as one removal (nothing when empty).
  virtual void RemoveAll();
  virtual bool IsIn(IBase* object);
  // True when there are no mask types or `type` is one of them.
  virtual bool IsAccepted(unsigned int type);
  virtual bool IsEmpty();
  virtual unsigned int GetCount();
  virtual std::set<IBase*> const& GetAllSelectedOBj();

 protected:
  // Insert and erase without checks or announcements; false for null, and
  // Pop also for an object that is not selected.
  bool Push(IBase* object);
  bool Pop(IBase* object);

 private:
  void Announce(unsigned int code, std::vector<IBase*>& objects);

  std::set<unsigned int> m_setMaskTypes;
  std::set<IBase*> m_setSelection;
  bool m_bSingleMode;
  ICheckCondition* m_pCondition;
  ISubject* m_pSubject;
};

}  // namespace hux
