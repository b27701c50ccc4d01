// The reports of a run live with the mailslot transport that carries them
// between the processes, below the engine; this name stays for code that
// includes it from here.
#ifndef DESKTOP_WINDOWS_INSTALLER_INSTALLER_DELEGATE_H_
#define DESKTOP_WINDOWS_INSTALLER_INSTALLER_DELEGATE_H_

#include "desktop/windows/installer/ipc/installer_delegate.h"

#endif  // DESKTOP_WINDOWS_INSTALLER_INSTALLER_DELEGATE_H_
