#include "desktop/windows/installer/installer_main.h"

#include "base/win/handle_verifier.h"
#include "desktop/windows/installer/run_installer.h"
#include "desktop/windows/installer/sse2_check.h"

namespace {

// Runs while the library loads, before RunInstaller can be called.
const bool g_sse2_checked = (installer::CheckSse2Support(), true);

}  // namespace

bool RunInstaller() { return installer::RunInstallerMain(); }

base::win::HandleVerifier* GetHandleVerifier() { return base::win::HandleVerifier::Get(); }
