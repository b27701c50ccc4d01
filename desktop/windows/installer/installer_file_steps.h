// Names and helpers of the installer's file steps (the step functions
// themselves are members of Installer).
#ifndef DESKTOP_WINDOWS_INSTALLER_INSTALLER_FILE_STEPS_H_
#define DESKTOP_WINDOWS_INSTALLER_INSTALLER_FILE_STEPS_H_

#include <vector>

#include "base/files/file_path.h"
#include "base/time.h"
#include "desktop/windows/installer/service/install_log.h"

namespace installer {

// The folder of the install folder that keeps the status files of replaced
// versions until the next upgrade removes their files.
inline constexpr wchar_t kOldStatusFolderName[] = L"old_status";
// The preference defaults the front end fetched, kept in the install folder.
inline constexpr wchar_t kPrefDefaultOverridesFileName[] = L"pref_default_overrides";
// The installer preference counting failed runs of the autoupdate task.
inline constexpr char kAutoupdateTaskErrorCountPref[] = "au_task_error_count";

// Where a status file preserved at |time| goes: "old_status" of
// |install_folder|, "installation_status.xml" with the seconds since 1970
// added as an extension.
base::FilePath GetPreservedStatusPath(const base::FilePath& install_folder, base::Time time);

// A status file of "old_status": an earlier version whose files an upgrade
// kept (a browser may still run from them).
struct PreservedGeneration {
  base::FilePath status_file;
  // False when the file is no install log (the cause is logged).
  bool loaded = false;
  InstallLog log;
};

// The preserved generations of the installation in |install_folder|, in the
// order their status files are found; none without "old_status". COM must be
// initialised on the calling thread.
std::vector<PreservedGeneration> LoadPreservedGenerations(const base::FilePath& install_folder);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_INSTALLER_FILE_STEPS_H_
