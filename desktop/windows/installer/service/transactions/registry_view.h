// The registry view flags an operation accepts: 0 (the process's own view),
// KEY_WOW64_64KEY (0x100) or KEY_WOW64_32KEY (0x200), never both.
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_REGISTRY_VIEW_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_REGISTRY_VIEW_H_

#include <windows.h>

#include <cstdint>

namespace installer {

inline bool IsValidRegistryView(uint32_t view_flags) {
  return view_flags == 0 || view_flags == KEY_WOW64_64KEY || view_flags == KEY_WOW64_32KEY;
}

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_REGISTRY_VIEW_H_
