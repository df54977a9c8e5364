#include <hux/regen/container.h>

#include <utility>

#include <hux/regen/scheduler.h>

namespace hux {

IRegenStep::~IRegenStep() = default;
IRegenableObject::~IRegenableObject() = default;

IRegenObjectContainer::IRegenObjectContainer()
    : m_pRelationDb(new GRegenObjectRelationDb()), m_pScheduler(nullptr) {
  try {
    m_pScheduler = new GRegenScheduler(this);
  } catch (...) {
    delete m_pRelationDb;
    throw;
  }
}

IRegenObjectContainer::~IRegenObjectContainer() {
  delete m_pScheduler;
  delete m_pRelationDb;
}

void IRegenObjectContainer::Regenerate(GRegenContext& context) { m_pScheduler->Regenerate(context); }

void IRegenObjectContainer::MarkAtom(GRegenAtom const& atom) { m_pScheduler->MarkAtom(atom); }
void IRegenObjectContainer::MarkAtom(GRegenAtom&& atom) { m_pScheduler->MarkAtom(std::move(atom)); }

void IRegenObjectContainer::RemoveObject(std::uint64_t id) { m_pScheduler->RemoveObject(id); }

}  // namespace hux
