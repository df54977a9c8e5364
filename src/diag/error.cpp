// Per-thread error codes, the message table, the parameter streams and the
// error exception.
//
// What the Windows edition did in its module's attach and detach handlers is
// done here by static initialisation (the table with its five defaults, the
// report mode) and by a thread-local holder whose destructor frees a thread's
// stream when the thread ends.
#include <hux/diag/error.h>

#include <atomic>
#include <climits>
#include <cstring>
#include <memory>
#include <mutex>
#include <unordered_map>

#include <hux/diag/logmanager.h>
#include <hux/platform/debug.h>

#include "diag/valist_format.h"
#include "diag/widen.h"

namespace hux {

namespace {

constexpr size_t kMessageSize = 2048;
const char kUnknownCode[] = "Can't understand error code";

// Formats are immutable once stored: a reader takes its own reference under
// the lock and formats after releasing it, so the lock is only ever held for a
// lookup or a store and a thread changing a format never waits behind threads
// that keep formatting.
using Format = std::shared_ptr<const std::string>;

struct MessageTable {
  std::mutex mutex;
  std::unordered_map<int, Format> formats;

  MessageTable() {
    Set(err_ok, "err_ok");
    Set(err_null_pointer, "err_null_pointer:%s");
    Set(err_bad_argument, "err_bad_argument: parameter %d");
    Set(err_failed, "err_failed: %s");
    Set(err_dont_support, "err_dont_support: %s");
  }
  void Set(int code, char const* format) {
    Format text = std::make_shared<const std::string>(format ? format : "");
    std::lock_guard<std::mutex> lock(mutex);
    formats[code] = std::move(text);
  }
  Format Find(int code) {
    std::lock_guard<std::mutex> lock(mutex);
    auto it = formats.find(code);
    return it == formats.end() ? nullptr : it->second;
  }
};

// Never destroyed: threads that the host leaves running may still format
// messages while the process exits.
MessageTable& Table() {
  static MessageTable* table = new MessageTable;
  return *table;
}

std::atomic<int> g_reportMode{REPORT_SILENT};

// Load time: the table exists with its defaults before any client call, and
// the report mode follows the presence of a debugger at this moment.
const bool g_loaded = [] {
  Table();
  g_reportMode.store(platform::IsDebuggerAttached() ? REPORT_DEBUGBREAK : REPORT_SILENT);
  return true;
}();

thread_local int t_errorCode = 0;
thread_local char t_message[kMessageSize];

// The thread's stream; freed when the thread ends.
struct StreamSlot {
  ValistStream* stream = nullptr;
  ~StreamSlot() { delete stream; }
};
thread_local StreamSlot t_stream;

}  // namespace

// ---- report mode and error code ----

ErrorReportMode SetErrorReportMode(ErrorReportMode mode) {
  return static_cast<ErrorReportMode>(g_reportMode.exchange(mode));
}

void ErrorCode::SetError(int code) {
  t_errorCode = code;
  // The platform's break only raises the trap while a debugger is attached,
  // so the mode cannot end a process that has none.
  if (code != 0 && g_reportMode.load(std::memory_order_relaxed) == REPORT_DEBUGBREAK)
    platform::DebugBreakIfAttached();
}

int GetError() { return t_errorCode; }

// ---- messages ----

void SetErrorMessage(int code, char const* format) { Table().Set(code, format); }

char const* GetErrorMessage(int code) {
  const Format format = Table().Find(code);
  if (!format) return kUnknownCode;
  ValistStream& args = GetErrorParamStream();
  args.Resolve();
  detail::FormatFromStream(format->c_str(), args, t_message, kMessageSize);
  return t_message;
}

char const* GetErrorMessage() { return GetErrorMessage(GetError()); }

// ---- parameter streams ----

ValistStream::ValistStream() : m_bResolved(false) {}

ValistStream::ValistStream(ValistStream const& other)
    : m_argBlock(other.m_argBlock),
      m_textPool(other.m_textPool),
      m_stringSlots(other.m_stringSlots),
      m_bResolved(other.m_bResolved) {
  if (m_bResolved) RebaseStrings(other.m_textPool.data());
}

ValistStream& ValistStream::operator=(ValistStream const& other) {
  if (this != &other) {
    m_argBlock = other.m_argBlock;
    m_textPool = other.m_textPool;
    m_stringSlots = other.m_stringSlots;
    m_bResolved = other.m_bResolved;
    if (m_bResolved) RebaseStrings(other.m_textPool.data());
  }
  return *this;
}

void ValistStream::RebaseStrings(char const* oldBase) {
  const char* newBase = m_textPool.data();
  if (newBase == oldBase) return;
  for (int slot : m_stringSlots) {
    unsigned long long bits;
    std::memcpy(&bits, m_argBlock.data() + slot, 8);
    if (bits != 0) bits = bits - reinterpret_cast<uintptr_t>(oldBase) + reinterpret_cast<uintptr_t>(newBase);
    std::memcpy(m_argBlock.data() + slot, &bits, 8);
  }
}

void ValistStream::AppendSlot(unsigned long long bits) {
  char bytes[8];
  std::memcpy(bytes, &bits, 8);
  m_argBlock.append(bytes, 8);
}

ValistStream& ValistStream::AppendInt(long long value) {
  AppendSlot(static_cast<unsigned long long>(value));
  return *this;
}

ValistStream& ValistStream::AppendDouble(double value) {
  unsigned long long bits;
  std::memcpy(&bits, &value, 8);
  AppendSlot(bits);
  return *this;
}

ValistStream& ValistStream::AppendString(char const* text) {
  const size_t length = text ? std::strlen(text) : 0;
  // A pool offset must fit the slot's low 32 bits; a null text (or one that
  // would not fit) is stored as the offset -1, which resolves to null.
  long long offset = -1;
  if (text && m_textPool.size() + length + 1 <= static_cast<size_t>(INT_MAX)) {
    offset = static_cast<long long>(m_textPool.size());
    const char* oldBase = m_textPool.data();
    m_textPool.append(text, length + 1);
    // A resolved stream holds addresses: move them with the pool.
    if (m_bResolved) RebaseStrings(oldBase);
  }
  m_stringSlots.push_back(static_cast<int>(m_argBlock.size()));
  if (m_bResolved) {
    AppendSlot(offset < 0 ? 0 : reinterpret_cast<uintptr_t>(m_textPool.data() + offset));
  } else {
    // Low 32 bits: the signed pool offset; high 32 bits: zero.
    AppendSlot(static_cast<unsigned int>(static_cast<int>(offset)));
  }
  return *this;
}

void ValistStream::Resolve() {
  if (m_bResolved) return;
  for (int slot : m_stringSlots) {
    int offset;
    std::memcpy(&offset, m_argBlock.data() + slot, 4);
    const unsigned long long address =
        offset < 0 ? 0 : reinterpret_cast<uintptr_t>(m_textPool.data() + offset);
    std::memcpy(m_argBlock.data() + slot, &address, 8);
  }
  m_bResolved = true;
}

ValistStream& GetErrorParamStream() {
  if (!t_stream.stream) t_stream.stream = new ValistStream;
  return *t_stream.stream;
}

void ReleaseErrorParamStream() {
  delete t_stream.stream;
  t_stream.stream = nullptr;
}

// ---- the exception ----

CErrorException::CErrorException(std::wstring const& description, char const* file, long line)
    : m_strDescription(description), m_strFile(file ? file : ""), m_nLine(line) {
  std::wstring text = m_strDescription;
  text += L" - [FILE]: ";
  text += detail::WidenBytes(m_strFile.c_str());
  text += L" [LINE]: ";
  text += std::to_wstring(m_nLine);
  CSingleton<CLogManager>::GetInstance().Log(text, CLogManager::LOG_CRITICAL);
}

CErrorException::CErrorException(CErrorException const& other)
    : std::exception(other),
      m_strDescription(other.m_strDescription),
      m_strFile(other.m_strFile),
      m_nLine(other.m_nLine) {}

void CErrorException::operator=(CErrorException const& other) {
  m_strDescription = other.m_strDescription;
  m_strFile = other.m_strFile;
  m_nLine = other.m_nLine;
}

CErrorException::~CErrorException() = default;

}  // namespace hux

char const* hux_err() { return hux::GetErrorMessage(); }
