#include <hux/notify/subject.h>

#include <vector>

namespace hux {

GSubject::GSubject() : m_bNotifyEnabled(true) {}

struct GSubject::NotifyFrame {
  bool subjectDestroyed;
  NotifyFrame* outer;
};

// The running notifications belong to the subject they run on, so they are
// neither copied nor overwritten.
GSubject::GSubject(GSubject const& other)
    : m_bNotifyEnabled(other.m_bNotifyEnabled), m_mapObservers(other.m_mapObservers) {}

GSubject& GSubject::operator=(GSubject const& other) {
  m_bNotifyEnabled = other.m_bNotifyEnabled;
  m_mapObservers = other.m_mapObservers;
  return *this;
}

GSubject::~GSubject() {
  for (NotifyFrame* frame = m_pNotifyFrames; frame != nullptr; frame = frame->outer) frame->subjectDestroyed = true;
  DetachAll();
}

bool GSubject::Attach(IObserver* observer) {
  if (observer == nullptr) return false;
  m_mapObservers.emplace(observer, observer);
  return true;
}

bool GSubject::Detach(IObserver* observer) { return m_mapObservers.erase(observer) != 0; }

// The walk goes over a copy taken when the notification starts, so that an
// observer may detach itself or others, or attach new ones, from Update. A
// copied observer is called only while it is still attached.
void GSubject::Notify(unsigned int code, void* data) {
  if (!IsNotifyEnable()) return;
  if (m_mapObservers.empty()) return;
  std::vector<IObserver*> snapshot;
  snapshot.reserve(m_mapObservers.size());
  for (auto const& entry : m_mapObservers) snapshot.push_back(entry.second);
  NotifyFrame frame{false, m_pNotifyFrames};
  m_pNotifyFrames = &frame;
  try {
    for (IObserver* observer : snapshot) {
      if (m_mapObservers.count(observer) == 0) continue;
      observer->Update(code, data);
      if (frame.subjectDestroyed) return;
    }
  } catch (...) {
    if (!frame.subjectDestroyed) m_pNotifyFrames = frame.outer;
    throw;
  }
  m_pNotifyFrames = frame.outer;
}

bool GSubject::IsNotifyEnable() const { return m_bNotifyEnabled; }

void GSubject::EnableNotify(bool enable) { m_bNotifyEnabled = enable; }

bool GSubject::Exist(IObserver* observer) { return m_mapObservers.count(observer) != 0; }

int GSubject::ObserverCount() const { return static_cast<int>(m_mapObservers.size()); }

void GSubject::DetachAll() {
  m_bNotifyEnabled = true;
  m_mapObservers.clear();
}

}  // namespace hux
