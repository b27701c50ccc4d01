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

// The engine, which owns logging, is not there: a start failure is said on
// standard error (when the process has one), to the debugger, and as a line
// of its own log file in the installer's log folder (the engine's, in the
// temporary folder), so that a silent run that ends at once leaves a reason.
// |what| says what failed, |detail| (may be empty) names the file; the last
// error is read before anything else can change it.
void ReportStartFailure(const wchar_t* what, const std::wstring& detail = std::wstring());

// The full path of this executable, or empty.
std::wstring ExecutablePath();

// Loads the installer engine the way this host variant keeps it; null (and
// reported) when it cannot.
HMODULE LoadInstallerEngine();

}  // namespace installer_host

#endif  // DESKTOP_WINDOWS_INSTALLER_HOST_HOST_SUPPORT_H_
