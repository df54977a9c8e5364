// An observer that records what it is told, for the notification tests.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include <hux/notify/selection.h>
#include <hux/notify/subject.h>

namespace hux::test {

struct Notice {
  unsigned int code;
  std::vector<IBase*> objects;  // a copy of the vector sent with selection codes
  bool operator==(Notice const& other) const { return code == other.code && objects == other.objects; }
};

class Recorder : public IObserver {
 public:
  void Update(unsigned int code, void* data) override {
    Notice notice{code, {}};
    if ((code == NOTIFY_SELECT_ADD || code == NOTIFY_SELECT_REMOVE) && data != nullptr)
      notice.objects = *static_cast<std::vector<IBase*>*>(data);
    notices.push_back(notice);
    if (log != nullptr) log->push_back(this);
    if (onUpdate) onUpdate(code, data);
  }

  std::vector<Notice> notices;
  std::vector<IObserver*>* log = nullptr;  // shared record of the call order
  std::function<void(unsigned int, void*)> onUpdate;
};

}  // namespace hux::test
