// The plain host: the engine is the installer_engine.dll in the folder of
// the executable, as in an unpacked package and an installation.
#include <windows.h>

#include <string>

#include "desktop/windows/installer/host/host_support.h"

namespace installer_host {

HMODULE LoadInstallerEngine() {
  std::wstring path = ExecutablePath();
  const size_t slash = path.find_last_of(L"\\/");
  if (slash == std::wstring::npos) {
    ReportStartFailure(L"cannot locate the executable");
    return nullptr;
  }
  path.resize(slash + 1);
  path += L"installer_engine.dll";
  HMODULE engine = ::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (!engine)
    ReportStartFailure(L"cannot load the installer engine", path);
  return engine;
}

}  // namespace installer_host
