#include <hux/notify/selection.h>

namespace hux {

GSelection::GSelection(ISubject* subject) : m_bSingleMode(false), m_pCondition(nullptr), m_pSubject(subject) {}

GSelection::~GSelection() {
  m_setMaskTypes.clear();
  m_setSelection.clear();
}

void GSelection::Destroy() { delete this; }

void GSelection::Update(unsigned int code, void* data) {
  if (code != NOTIFY_OBJECTS_REMOVED || data == nullptr) return;
  // A copy: an observer of the removals may change the sender's vector.
  std::vector<IBase*> const objects = *static_cast<std::vector<IBase*>*>(data);
  for (IBase* object : objects) Remove(object);
}

void GSelection::ResetMask() { m_setMaskTypes.clear(); }
void GSelection::AddMaskType(unsigned int type) { m_setMaskTypes.insert(type); }
void GSelection::RemoveMaskType(unsigned int type) { m_setMaskTypes.erase(type); }
std::set<unsigned int> const& GSelection::GetMaskTypes() { return m_setMaskTypes; }
void GSelection::SetCondition(ICheckCondition* condition) { m_pCondition = condition; }
void GSelection::SetMode(bool single) { m_bSingleMode = single; }

bool GSelection::Add(IBase* object) {
  if (object == nullptr || IsIn(object)) return false;
  if (m_pCondition != nullptr) {
    if (!m_pCondition->Check(object)) return false;
    if (!m_setMaskTypes.empty() && !IsAccepted(m_pCondition->GetMaskType(object))) return false;
  }
  if (m_bSingleMode) RemoveAll();
  Push(object);
  std::vector<IBase*> added{object};
  Announce(NOTIFY_SELECT_ADD, added);
  return true;
}

bool GSelection::Add(std::vector<IBase*> const& objects) {
  if (objects.empty()) return false;
  if (m_bSingleMode) {
    IBase* first = objects.front();
    if (IsIn(first)) return false;
    // A null first object (a pick on empty space) clears the selection: the
    // removal is announced, nothing is added, and the answer is true.
    RemoveAll();
    if (Push(first)) {
      std::vector<IBase*> added{first};
      Announce(NOTIFY_SELECT_ADD, added);
    }
    return true;
  }
  // Null entries are skipped: observers are never told that null was added.
  std::vector<IBase*> added;
  for (IBase* object : objects) {
    if (object == nullptr || IsIn(object)) continue;
    Push(object);
    added.push_back(object);
  }
  if (!added.empty()) Announce(NOTIFY_SELECT_ADD, added);
  return false;
}

bool GSelection::Remove(IBase* object) {
  if (!Pop(object)) return false;
  std::vector<IBase*> removed{object};
  Announce(NOTIFY_SELECT_REMOVE, removed);
  return true;
}

bool GSelection::Remove(std::vector<IBase*> const& objects) {
  if (objects.empty()) return false;
  std::vector<IBase*> removed;
  for (IBase* object : objects)
    if (Pop(object)) removed.push_back(object);
  if (!removed.empty()) Announce(NOTIFY_SELECT_REMOVE, removed);
  return false;
}

void GSelection::RemoveAll() {
  if (m_setSelection.empty()) return;
  std::vector<IBase*> removed(m_setSelection.begin(), m_setSelection.end());
  m_setSelection.clear();
  Announce(NOTIFY_SELECT_REMOVE, removed);
}

bool GSelection::IsIn(IBase* object) { return m_setSelection.count(object) != 0; }

bool GSelection::IsAccepted(unsigned int type) { return m_setMaskTypes.empty() || m_setMaskTypes.count(type) != 0; }

bool GSelection::IsEmpty() { return m_setSelection.empty(); }

unsigned int GSelection::GetCount() { return static_cast<unsigned int>(m_setSelection.size()); }

std::set<IBase*> const& GSelection::GetAllSelectedOBj() { return m_setSelection; }

bool GSelection::Push(IBase* object) {
  if (object == nullptr) return false;
  m_setSelection.insert(object);
  return true;
}

bool GSelection::Pop(IBase* object) {
  if (object == nullptr) return false;
  return m_setSelection.erase(object) != 0;
}

void GSelection::Announce(unsigned int code, std::vector<IBase*>& objects) {
  if (m_pSubject != nullptr) m_pSubject->Notify(code, &objects);
}

}  // namespace hux
