// Helpers of the launcher, installer-preferences and user-profile steps.
#ifndef DESKTOP_WINDOWS_INSTALLER_INSTALLER_LAUNCHER_STEPS_H_
#define DESKTOP_WINDOWS_INSTALLER_INSTALLER_LAUNCHER_STEPS_H_

#include <string>
#include <string_view>

#include "base/files/file_path.h"
#include "desktop/windows/installer/installer_file_steps.h"
#include "desktop/windows/installer/service/install_log.h"

namespace installer {

// Files of the install folder and of the package that the steps write
// (kPrefDefaultOverridesFileName is in installer_file_steps.h).
inline constexpr wchar_t kInstallerPrefsIncludeFileName[] = L"installer_prefs_include.json";
// Switches the browser is started with at the end of an installation.
inline constexpr char kStartMaximizedSwitch[] = "start-maximized";

// An experiment's entry in the installer's preferences: the name, "@", then
// "1" when it is enabled and "2" when it is not.
std::string FormatExperimentEntry(std::string_view name, bool enabled);

// What the run installed: |run_log| when this process did the installation;
// otherwise (an elevated copy did it) the log saved in |install_folder|,
// empty when there is none.
InstallLog GetInstalledLog(const InstallLog& run_log, const base::FilePath& install_folder);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_INSTALLER_LAUNCHER_STEPS_H_
