// The bytes of a custom object that a variant read but could not load, held
// for the variant (and its copies) until they are written back.
#pragma once

#include <atomic>
#include <string>
#include <utility>

#include <hux/object/referenced.h>

namespace hux::detail {

// Immutable once made, so copies of a variant share one: the count is atomic,
// unlike CReferenced's, so that copies may live on different threads.
class KeptContent final : public CReferenced {
 public:
  // What follows the variant's code: the present flag (1), the shared and
  // has-save flags, then the object's bytes.
  KeptContent(bool shared, bool hasSave, std::string object)
      : m_flags{1, static_cast<char>(shared), static_cast<char>(hasSave)}, m_strObject(std::move(object)) {}
  void Ref() override { m_nRefs.fetch_add(1, std::memory_order_relaxed); }
  void Unref() override {
    if (m_nRefs.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
  }
  const char* Flags() const { return m_flags; }
  const std::string& Object() const { return m_strObject; }

 private:
  ~KeptContent() override = default;
  std::atomic<int> m_nRefs{0};
  const char m_flags[3];
  const std::string m_strObject;
};

}  // namespace hux::detail
