#include <hux/object/project.h>

#include <cxxabi.h>

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <typeinfo>
#include <vector>

#include <hux/io/archive.h>
#include <hux/object/dbdevice.h>
#include <hux/platform/debug.h>
#include <hux/value/variant.h>

namespace hux {

namespace {

// Shared by the three reports of Serialize: at most one reaches ErrorMsgBox
// per process. A plain integer, as projects are serialized by one thread at
// a time.
int g_nReportCount = 0;

constexpr unsigned char kCounterBlock = 1;
constexpr unsigned short kVersion = 1;

// Report texts name this source file without the build's directories.
std::string SourceFileName() {
  constexpr std::string_view path = __FILE__;
  const size_t slash = path.find_last_of('/');
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string Where(int line) { return "\nfile: " + SourceFileName() + ":" + std::to_string(line); }

// The readable (demangled) name of a class, or its raw name when it cannot
// be demangled.
std::string TypeName(const std::type_info& type) {
  int status = 0;
  std::unique_ptr<char, decltype(&std::free)> name(abi::__cxa_demangle(type.name(), nullptr, nullptr, &status),
                                                    &std::free);
  return status == 0 && name ? std::string(name.get()) : std::string(type.name());
}

// Runs `work` between the device's BeginAccess and EndAccess with context
// flag `flag` raised. If anything throws, the bracket is closed (when it was
// opened) and the flag lowered before the exception passes on: a flag left
// raised would make every later AddChild keep ids of "none assigned".
template <class Work>
void RunInAccess(GDBDevice& device, int flag, Work&& work) {
  IODeviceContext& context = device.GetContext();
  context.SetFlag(flag, true);
  try {
    device.BeginAccess();
  } catch (...) {
    context.SetFlag(flag, false);
    throw;
  }
  try {
    work();
  } catch (...) {
    try {
      device.EndAccess();
    } catch (...) {
      // The facade's exception is the one the caller needs to see.
    }
    context.SetFlag(flag, false);
    throw;
  }
  try {
    device.EndAccess();
  } catch (...) {
    context.SetFlag(flag, false);
    throw;
  }
  context.SetFlag(flag, false);
}

}  // namespace

IBaseProject::IBaseProject() : m_pDBDevice(nullptr), m_nUniqueID(1) {}

size_t IBaseProject::GetKeptByteCount() const { return m_strKeptObject.size() + m_keptBlocks.GetByteCount(); }

IBaseProject::~IBaseProject() {
  // The device goes first: without it the children's destruction below
  // records no deletions.
  delete m_pDBDevice;
  m_pDBDevice = nullptr;
}

__int64 IBaseProject::GetUniqueID() {
  // A counter read from a damaged archive may stand at the top already; the
  // next id would overflow into "none assigned".
  if (m_nUniqueID == LLONG_MAX) throw std::overflow_error("IBaseProject: no object ids are left");
  return ++m_nUniqueID;
}

void IBaseProject::SetProjectDBDevice(GDBDevice* device) { m_pDBDevice = device; }

eXOMDataType IBaseProject::GetObjectType() { return DT_PROJECT; }

void IBaseProject::Report(GDbArchive& archive, const char* caption, const std::string& text) {
  if (g_nReportCount >= 1) return;
  ++g_nReportCount;
  try {
    archive.ErrorMsgBox(caption, text);
  } catch (...) {
    // A failing report hook must not stop the rollback that follows it.
  }
}

// ---- archive form ----------------------------------------------------------

void IBaseProject::Store(GDbArchive& archive) {
  if (!m_strKeptObject.empty()) {
    // A newer version read whole goes back exactly as it came.
    archive.WriteRawData(m_strKeptObject.data(), static_cast<int>(m_strKeptObject.size()));
    return;
  }
  const void* key = reinterpret_cast<const void*>(static_cast<intptr_t>(archive.CreateNewObjectID()));
  archive.BeginWriteObject(key, kVersion);
  archive.BeginWriteBlock(kCounterBlock, key);
  archive << m_nUniqueID;
  archive.EndWriteBlock(kCounterBlock, key);
  archive.WriteKeptBlocks(key, m_keptBlocks);
  archive.EndWriteObject(key);
}

void IBaseProject::Load(GDbArchive& archive, int start) {
  m_strKeptObject.clear();
  m_keptBlocks.Clear();
  unsigned char count = 0;
  unsigned short version = 0;
  archive.ReadObject(count, version);
  if (version >= 2) {
    // A newer format: leave the counter alone and keep the whole object, to
    // be written back unchanged (one the input cuts short is skipped).
    // KeepObject reads the header again, so the version pushed above is
    // popped first.
    archive.EndReadObject();
    archive.SeekPos(start, GDbArchive::SEEKFROM_BEGIN);
    archive.KeepObject(m_strKeptObject);
    return;
  }
  for (unsigned int i = 0; i < count; ++i) {
    unsigned char id = 0;
    unsigned int size = 0;
    const __int64 header = archive.DevicePos();
    archive.ReadBlock(id, size);
    // A block header the input cuts short: the input has ended, and there
    // is no block to keep (its id and size are only the presets).
    if (archive.DevicePos() - header < 5) break;
    // SeekPos takes a signed 32-bit offset: a larger size is damage, and the
    // rollback skips the object by its unsigned sizes instead.
    if (size > static_cast<unsigned int>(INT_MAX)) throw std::length_error("project block size out of range");
    const __int64 dataStart = archive.DevicePos();
    const __int64 dataEnd = dataStart + size;
    if (id != kCounterBlock) {
      archive.KeepBlock(id, size, m_keptBlocks);
      continue;
    }
    // The counter is taken only when the block holds it and the device
    // delivered all 8 bytes; a shorter block would otherwise lend the
    // counter bytes of whatever follows it. A counter below 1 is damage too:
    // the ids it would hand out next mean "none assigned".
    bool taken = false;
    if (size >= sizeof(__int64)) {
      __int64 counter = m_nUniqueID;
      archive >> counter;
      if (archive.DevicePos() - dataStart == static_cast<__int64>(sizeof counter) && counter > 0) {
        m_nUniqueID = counter;
        taken = true;
      }
    }
    if (!taken || archive.DevicePos() != dataEnd) {
      Report(archive, "load data", "read block error :" + Where(__LINE__));
      // Relative to here: the end itself may lie past 2 GiB, beyond what an
      // absolute 32-bit position can say, while the distance never does.
      archive.SeekPos(static_cast<int>(dataEnd - archive.DevicePos()), GDbArchive::SEEKFROM_CURRENT);
    }
  }
  archive.EndReadObject();
}

bool IBaseProject::Serialize(GDbArchive& archive) {
  const bool loading = archive.IsLoading();
  // Positions are handed to SeekPos and the rollbacks as their low 32 bits.
  const int start = static_cast<int>(archive.DevicePos());
  if (!loading) {
    // A write the device loses while this object is stored fails the object
    // as an exception does; the result says whether the archive holds it.
    const bool wasGood = archive.IsAllWriteDataOK();
    bool stored = false;
    try {
      Store(archive);
      stored = !wasGood || archive.IsAllWriteDataOK();
    } catch (...) {
    }
    if (!stored) {
      Report(archive, "SAVE_DATA", "SAVE_DATA" + Where(__LINE__) + "\ntypename: " + TypeName(typeid(*this)));
      archive.RollbackWriteObject(start);
    }
    return archive.IsAllWriteDataOK();
  }
  try {
    Load(archive, start);
  } catch (...) {
    Report(archive, "LOAD_DATA", "LOAD_DATA" + Where(__LINE__) + "\ntypename: " + TypeName(typeid(*this)));
    archive.RollbackReadObject(start);
    m_keptBlocks.Clear();  // from an object that was not read
  }
  return true;
}

// ---- database --------------------------------------------------------------

void IBaseProject::SaveProject(const std::wstring& path) {
  GDBDevice* device = m_pDBDevice;
  if (!device) return;
  IDataIOFacade* facade = GetIOFacade();
  if (!facade) {
    platform::WriteDebugOutput("hux: SaveProject: no I/O facade is installed; the project was not saved\n");
    return;
  }
  device->OpenDB(path);
  facade->PrepareSave(device);
  RunInAccess(*device, IODeviceContext::FLAG_SAVING, [&] { facade->SaveProjectData(this, device); });
}

IBaseProject* IBaseProject::LoadProject(__int64 projectId, const std::wstring& path, GDBDevice* device) {
  if (!device) return nullptr;
  IDataIOFacade* facade = GetIOFacade();
  if (!facade) {
    platform::WriteDebugOutput("hux: LoadProject: no I/O facade is installed; nothing was loaded\n");
    return nullptr;
  }
  if (!device->OpenDB(path)) return nullptr;
  if (projectId == 0) {
    // The project is the entity without a parent.
    std::vector<CVariant> result;
    device->QueryTable("EntityTable", {"ID"}, "PID", 0, result);
    // No row (or a value that is no number): there is no project to load,
    // and nothing may be read that is not there.
    bool ok = false;
    if (!result.empty()) projectId = result.front().toInt64(&ok);
    if (!ok) return nullptr;
  }
  IBaseEntity* root = nullptr;
  try {
    RunInAccess(*device, IODeviceContext::FLAG_LOADING, [&] { root = facade->LoadProjectData(projectId, device); });
  } catch (...) {
    // Ending the access failed after the facade had built the tree: the
    // caller gets the exception and no pointer to free it through.
    delete root;
    throw;
  }
  if (auto* project = dynamic_cast<IBaseProject*>(root)) return project;
  // The caller would get null and could not free what the facade built.
  delete root;
  return nullptr;
}

}  // namespace hux
