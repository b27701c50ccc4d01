// The host executable: loads the installer engine and enters it. It carries
// the resources the engine reads (strings, product configuration, dialogs)
// and the payload appended behind its image. Where the engine comes from is
// the variant's choice (engine_beside_executable.cc, embedded_engine.cc).
#include <windows.h>

#include "desktop/windows/installer/host/host_support.h"

namespace installer_host {

std::wstring ExecutablePath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length =
        ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0)
      return std::wstring();
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    if (path.size() >= 32768)
      return std::wstring();
    path.resize(path.size() * 2);
  }
}

}  // namespace installer_host

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  // Keep the current directory (often Downloads) out of DLL searches before
  // anything is loaded.
  ::SetDllDirectoryW(L"");

  installer_host::ScopedModule engine(installer_host::LoadInstallerEngine());
  if (!engine)
    return 1;
  using RunInstallerFunction = bool (*)();
  auto run_installer = reinterpret_cast<RunInstallerFunction>(
      reinterpret_cast<void*>(::GetProcAddress(engine.Get(), "RunInstaller")));
  if (!run_installer) {
    installer_host::ReportStartFailure(L"the installer engine has no RunInstaller");
    return 1;
  }
  const bool result = run_installer();
  // The engine stays loaded until the process ends: thread-exit callbacks
  // and thread-pool work it registered may still run after RunInstaller
  // returns, and must find its code in place.
  (void)engine.Release();
  return result ? 0 : 1;
}
