#include <hux/util/system.h>

#include <algorithm>

#include <hux/platform/process.h>

#include "util/native_path.h"

namespace hux {

GCoreSystem::~GCoreSystem() = default;

std::wstring GCoreSystem::GetExeFilePath() { return detail::NativePathToWide(platform::ExecutablePath()); }

void GCoreSystem::GetExeFilePath(std::wstring& out) { out = GetExeFilePath(); }

std::wstring GCoreSystem::GetExePath() {
  std::wstring path = GetExeFilePath();
  const size_t cut = path.find_last_of(L"\\/");
  if (cut != std::wstring::npos) path.resize(cut + 1);
  return path;
}

void GCoreSystem::GetExePath(std::wstring& out) { out = GetExePath(); }

void GCoreSystem::CurrentDirectory(std::wstring& out) {
  out = detail::NativePathToWide(platform::CurrentDirectory());
}

int GCoreSystem::GetParentProcessID() { return platform::ParentProcessId(); }

std::string GCoreSystem::GetProcessPath(int processId) { return platform::ProcessExecutablePath(processId); }

GCoreSystem* GCoreSystem::GetInstance() {
  static GCoreSystem instance;
  return &instance;
}

bool CSystemHelper::MakeDirectory(const std::wstring& path) {
  if (path.empty()) return false;
  // The Windows edition accepted both separators; on Linux '\' would be an
  // ordinary character of a name, so it is turned into '/' first.
  std::string native;
  if (!detail::WideToNativePath(path, native)) return false;
  std::replace(native.begin(), native.end(), '\\', '/');
  return platform::CreateDirectoryPath(native);
}

bool CSystemHelper::FileExists(const std::wstring& path) {
  std::string native;
  if (!detail::WideToNativePath(path, native)) return false;
  if (platform::PathExists(native)) return true;
  // A path written with Windows separators names what MakeDirectory made of
  // it; a Linux name that really contains '\' was tested above.
  if (native.find('\\') == std::string::npos) return false;
  std::replace(native.begin(), native.end(), '\\', '/');
  return platform::PathExists(native);
}

}  // namespace hux
