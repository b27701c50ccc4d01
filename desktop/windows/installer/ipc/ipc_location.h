// Task locations of the installer's mailslot code: each names the step it
// belongs to rather than the C++ function that posts it.
#ifndef DESKTOP_WINDOWS_INSTALLER_IPC_IPC_LOCATION_H_
#define DESKTOP_WINDOWS_INSTALLER_IPC_IPC_LOCATION_H_

#include "base/code_location.h"

#define IPC_LOCATION(name) \
  ::base::CodeLocation(name, __FILE__, __LINE__, ::base::GetProgramCounter())

#endif  // DESKTOP_WINDOWS_INSTALLER_IPC_IPC_LOCATION_H_
