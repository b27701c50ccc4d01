// The host executable: loads the installer engine from its own folder and
// enters it. It carries the resources the engine reads (strings, product
// configuration, dialogs) and the payload appended behind its image.
#include <windows.h>

#include <string>

#include "base/scoped_generic.h"

namespace {

constexpr wchar_t kEngineDllName[] = L"installer_engine.dll";

struct ModuleTraits {
  static HMODULE InvalidValue() { return nullptr; }
  static void Free(HMODULE& module) { ::FreeLibrary(module); }
};
using ScopedModule = base::ScopedGeneric<HMODULE, ModuleTraits>;

void ReportStartFailure(const wchar_t* what) {
  // The engine, which owns logging, is not there: the debugger is the only
  // place this can go without showing anything to the user.
  std::wstring text = L"Installer start failed: ";
  text += what;
  text += L" (error " + std::to_wstring(::GetLastError()) + L")\n";
  ::OutputDebugStringW(text.c_str());
}

// The path of |name| in the folder of this executable, or empty.
std::wstring PathBesideExecutable(const wchar_t* name) {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0)
      return std::wstring();
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    if (path.size() >= 32768)
      return std::wstring();
    path.resize(path.size() * 2);
  }
  size_t slash = path.find_last_of(L"\\/");
  if (slash == std::wstring::npos)
    return std::wstring();
  path.resize(slash + 1);
  return path + name;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  // Keep the current directory (often Downloads) out of DLL searches before
  // anything is loaded.
  ::SetDllDirectoryW(L"");

  std::wstring engine_path = PathBesideExecutable(kEngineDllName);
  if (engine_path.empty()) {
    ReportStartFailure(L"cannot locate the executable");
    return 1;
  }
  ScopedModule engine(
      ::LoadLibraryExW(engine_path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
  if (!engine) {
    ReportStartFailure(L"cannot load the installer engine");
    return 1;
  }
  using RunInstallerFunction = bool (*)();
  auto run_installer = reinterpret_cast<RunInstallerFunction>(
      reinterpret_cast<void*>(::GetProcAddress(engine.Get(), "RunInstaller")));
  if (!run_installer) {
    ReportStartFailure(L"the installer engine has no RunInstaller");
    return 1;
  }
  bool result = run_installer();
  // The engine stays loaded until the process ends: thread-exit callbacks
  // and thread-pool work it registered may still run after RunInstaller
  // returns, and must find its code in place.
  (void)engine.Release();
  return result ? 0 : 1;
}
