// The registry rows an installation writes: the browser's ProgId class, its
// file types, App Paths, the StartMenuInternet client with its capabilities
// and the uninstall entry. Placeholders in braces are filled by the
// installer's resolver when a row becomes an operation; "{Uninstall}" is the
// uninstall key the registry step chose.
#ifndef DESKTOP_WINDOWS_INSTALLER_REGISTRY_SETUP_TABLE_H_
#define DESKTOP_WINDOWS_INSTALLER_REGISTRY_SETUP_TABLE_H_

#include <cstddef>
#include <vector>

#include "desktop/windows/installer/service/registry_entry.h"

namespace installer {

// The feature that hides the uninstall entry from "Programs and Features".
inline constexpr char kHideFromProgramsFeature[] = "installer-hide-from-program-and-features";

// The key path of the rows that make up the uninstall entry.
inline constexpr wchar_t kUninstallPlaceholderKey[] = L"{Uninstall}";

inline constexpr size_t kRegistrySetUpRowCount = 57;
extern const RegistryRow kRegistrySetUpRows[kRegistrySetUpRowCount];
// "SystemComponent" = 1 in the uninstall entry.
extern const RegistryRow kHideFromProgramsRow;

// The rows to write, in order: the set-up rows, then the hiding row when
// |hide_from_programs|.
std::vector<RegistryRow> GetRegistrySetUpRows(bool hide_from_programs);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_REGISTRY_SETUP_TABLE_H_
