#include <hux/object/dbdevice.h>

// ---- GObjectsState ---------------------------------------------------------

GObjectsState::GObjectsState() = default;
GObjectsState::GObjectsState(const GObjectsState& other) = default;
GObjectsState& GObjectsState::operator=(const GObjectsState& other) = default;
GObjectsState::~GObjectsState() = default;

void GObjectsState::RegisterDeleteObject(__int64 id) { m_vecDeleteID.push_back(id); }

void GObjectsState::ClearAllList() { m_vecDeleteID.clear(); }

void GObjectsState::GetDeleteList(std::vector<__int64>& ids) { ids = m_vecDeleteID; }

namespace hux {

// ---- IODeviceContext -------------------------------------------------------

IODeviceContext::IODeviceContext() : m_bFlags{false, false, false, false, false, true, false, false, true, false, true, true}, m_nMode(2) {}

void IODeviceContext::SetNeedLazyCaculateModified() {
  if (m_nMode == 0) m_nMode = 2;
}

bool IODeviceContext::GetFlag(int index) const { return index >= 0 && index < FLAG_COUNT && m_bFlags[index]; }

void IODeviceContext::SetFlag(int index, bool on) {
  if (index >= 0 && index < FLAG_COUNT) m_bFlags[index] = on;
}

// ---- GDBDevice -------------------------------------------------------------

GDBDevice::GDBDevice() = default;
GDBDevice::GDBDevice(const GDBDevice& other) = default;
GDBDevice& GDBDevice::operator=(const GDBDevice& other) = default;
GDBDevice::~GDBDevice() = default;

// ---- IDataIOFacade ---------------------------------------------------------

IDataIOFacade::~IDataIOFacade() = default;

namespace {
// Set once by the host at start-up and read without a lock.
IDataIOFacade* g_pIOFacade = nullptr;
}  // namespace

IDataIOFacade* GetIOFacade() { return g_pIOFacade; }

void SetIOFacade(IDataIOFacade* facade) { g_pIOFacade = facade; }

}  // namespace hux
