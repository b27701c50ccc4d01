// The engine's entry points, exported by name from the engine DLL.
#ifndef DESKTOP_WINDOWS_INSTALLER_INSTALLER_MAIN_H_
#define DESKTOP_WINDOWS_INSTALLER_INSTALLER_MAIN_H_

namespace base::win {
class HandleVerifier;
}

extern "C" {
// Runs one role of the installer to completion; the host turns the result
// into its exit code (true = 0).
__declspec(dllexport) bool RunInstaller();
// The process-wide handle verifier, shared with a host that asks for it.
__declspec(dllexport) base::win::HandleVerifier* GetHandleVerifier();
}

#endif  // DESKTOP_WINDOWS_INSTALLER_INSTALLER_MAIN_H_
