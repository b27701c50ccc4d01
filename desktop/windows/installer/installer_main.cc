#include "desktop/windows/installer/installer_main.h"

#include "base/logging.h"
#include "base/win/scoped_handle.h"

bool RunInstaller() {
  // The roles (back end, silent and interactive front ends, folder-permission
  // helper, crash reporter) are not part of this build yet.
  LOG(ERROR) << "No installer role is available in this build";
  return false;
}

base::win::HandleVerifier* GetHandleVerifier() {
  return base::win::HandleVerifier::Get();
}
