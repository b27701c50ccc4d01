// What both hosts share: holders for the module and file handles they own,
// and the one place a start failure goes before the engine is there.
#ifndef DESKTOP_WINDOWS_INSTALLER_HOST_HOST_SUPPORT_H_
#define DESKTOP_WINDOWS_INSTALLER_HOST_HOST_SUPPORT_H_

#include <windows.h>

#include <string>

#include "base/scoped_generic.h"

namespace installer_host {

struct ModuleTraits {
  static HMODULE InvalidValue() { return nullptr; }
  static void Free(HMODULE& module) { ::FreeLibrary(module); }
};
using ScopedModule = base::ScopedGeneric<HMODULE, ModuleTraits>;

// The host does not link the base library (and its handle verifier): a file
// handle of its own is held here.
struct FileTraits {
  static HANDLE InvalidValue() { return INVALID_HANDLE_VALUE; }
  static void Free(HANDLE& file) { ::CloseHandle(file); }
};
using ScopedFile = base::ScopedGeneric<HANDLE, FileTraits>;

// The engine, which owns logging, is not there: the debugger is the only
// place a start failure can go without showing anything to the user. The
// last error is read before anything else can change it.
inline void ReportStartFailure(const wchar_t* what) {
  const DWORD error = ::GetLastError();
  std::wstring text = L"Installer start failed: ";
  text += what;
  text += L" (error " + std::to_wstring(error) + L")\n";
  ::OutputDebugStringW(text.c_str());
}

// The full path of this executable, or empty.
std::wstring ExecutablePath();

// Loads the installer engine the way this host variant keeps it; null (and
// reported) when it cannot.
HMODULE LoadInstallerEngine();

}  // namespace installer_host

#endif  // DESKTOP_WINDOWS_INSTALLER_HOST_HOST_SUPPORT_H_
