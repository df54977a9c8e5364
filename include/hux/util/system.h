// Queries about the running process and two file-system operations.
//
// GCoreSystem answers with wide-string paths (one code point per wchar_t);
// CSystemHelper takes them. On Linux a path is a byte string: wide paths are
// converted to UTF-8, and a byte of a system path that is not valid UTF-8 is
// carried as the lone surrogate U+DC80..U+DCFF so that it converts back to
// the same byte. Nothing here keeps state or takes a lock; every function may
// be called from any thread (GetInstance's first call excepted). Failures are
// reported only through the result: -1, an empty string or false.
#pragma once

#include <string>

#include <hux/export.h>

namespace hux {

class HUX_API GCoreSystem {
 public:
  GCoreSystem() = default;
  GCoreSystem(const GCoreSystem&) = default;
  GCoreSystem& operator=(const GCoreSystem&) = default;
  virtual ~GCoreSystem();

  // The full path of the process's executable file (not of this library), of
  // any length; empty if the system cannot tell it.
  static std::wstring GetExeFilePath();
  static void GetExeFilePath(std::wstring& out);
  // The executable's directory with its trailing separator: the executable
  // path cut after its last '/' or '\'; the whole path when it has neither.
  static std::wstring GetExePath();
  static void GetExePath(std::wstring& out);
  // The process's current directory (no trailing separator); empty when the
  // directory has been removed.
  static void CurrentDirectory(std::wstring& out);
  // The id of the process that started this one, or -1.
  static int GetParentProcessID();
  // The full path of the executable of process `processId`, as the system's
  // narrow (byte) path; empty when the process does not exist or cannot be
  // inspected.
  static std::string GetProcessPath(int processId);
  // The process-wide instance, created on the first call (which must not race
  // with another first call) and destroyed at unload.
  static GCoreSystem* GetInstance();
};

class HUX_API CSystemHelper {
 public:
  // Creates every missing directory along `path`; both '/' and '\' separate
  // components, and paths of any length are handled. A component that exists
  // is accepted whether it is a file or a directory (a file in the middle
  // makes the next level fail). True when the whole path exists afterwards;
  // false for an empty path or one containing NUL.
  static bool MakeDirectory(const std::wstring& path);
  // True when `path` exists, as a file or a directory. A path containing '\'
  // that does not exist as written is tested again with '/' in its place.
  static bool FileExists(const std::wstring& path);
};

}  // namespace hux
