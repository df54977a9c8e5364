// Subjects and observers: a subject forwards notifications (a 32-bit code and
// an untyped data pointer) to the observers attached to it.
//
// The meaning of codes and data is agreed between a sender and its observers;
// the subject passes both on unchanged. A subject does not own its observers
// and nobody deletes an observer or a subject through these interfaces. An
// observer may attach or detach observers (itself included) while it is being
// notified: a notification goes to the observers attached when it started,
// minus those detached before their turn; an observer may even destroy the
// subject, which ends the notification. Nothing is synchronised: one thread
// at a time.
#pragma once

#include <map>

#include <hux/export.h>

namespace hux {

class HUX_API IObserver {
 public:
  // Receives one notification.
  virtual void Update(unsigned int code, void* data) = 0;

 protected:
  ~IObserver() = default;
};

class HUX_API ISubject {
 public:
  virtual bool Attach(IObserver* observer) = 0;
  virtual bool Detach(IObserver* observer) = 0;
  virtual void Notify(unsigned int code, void* data) = 0;

 protected:
  ~ISubject() = default;
};

// The library's subject. Copying copies the enabled flag and the observers
// (both subjects then notify the same observers).
class HUX_API GSubject : public ISubject {
 public:
  // Notification enabled, no observers.
  GSubject();
  GSubject(GSubject const& other);
  GSubject& operator=(GSubject const& other);

  // Adds `observer`; true also when it was already attached. False for null.
  bool Attach(IObserver* observer) override;
  // Removes `observer`; false when it was not attached.
  bool Detach(IObserver* observer) override;
  // Unless IsNotifyEnable() says no, calls Update(code, data) on every
  // attached observer in ascending order of address. Observers attached
  // during the walk are not called this time; observers detached before
  // their turn are skipped.
  void Notify(unsigned int code, void* data) override;
  // Detaches every observer without telling them.
  virtual ~GSubject();
  virtual bool IsNotifyEnable() const;
  // Notifications sent while disabled are dropped, not queued.
  virtual void EnableNotify(bool enable);

  // Whether `observer` is attached.
  bool Exist(IObserver* observer);
  int ObserverCount() const;

 private:
  struct NotifyFrame;
  void DetachAll();

  bool m_bNotifyEnabled;
  std::map<IObserver*, IObserver*> m_mapObservers;
  // The notifications running on this subject, innermost first; the
  // destructor tells them that the subject is gone.
  NotifyFrame* m_pNotifyFrames = nullptr;
};

}  // namespace hux
