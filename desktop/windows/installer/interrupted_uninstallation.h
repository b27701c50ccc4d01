// The start of an uninstallation on an installation that a run ended from
// outside left changed. Such a run (an upgrade killed inside its
// transaction, say) leaves its journals, and the installation is whole again
// only once they are replayed: the uninstallation's front end replays them
// before it does anything else, so that it uninstalls the installation as it
// was before that run.
//
// The front end may run from that run's own files. The uninstall entry names
// the version the interrupted upgrade was installing, so the installer the
// user starts is the one in that version's folder, which the rollback takes
// away. The running program, its engine and the crash reporter started from
// them cannot be deleted while they run: the rollback leaves them, a clean-up
// batch file deletes them once this process and its crash reporter have
// ended, and the uninstallation itself is handed to the installer of the
// version that is installed again (the one the uninstall entry names after
// the rollback). That installer uninstalls its own version as it would have
// without the interrupted run, whatever its engine's age; this process waits
// for it and ends with its result.
#ifndef DESKTOP_WINDOWS_INSTALLER_INTERRUPTED_UNINSTALLATION_H_
#define DESKTOP_WINDOWS_INSTALLER_INTERRUPTED_UNINSTALLATION_H_

#include "base/files/file_path.h"

namespace base {
class CommandLine;
}

namespace installer {

enum class UninstallStart {
  // This process uninstalls, as it would have without an interrupted run.
  kUninstallHere,
  // The uninstallation is over: handed to the installed version's installer,
  // which has ended, or nothing was left to uninstall after the rollback.
  kDone,
};

// Run by the front end of an uninstallation (|command_line|, started from
// |exe_file|) on |install_folder| before anything else (see above). With
// kDone, |succeeded| is the run's result.
UninstallStart StartUninstallation(const base::CommandLine& command_line,
                                   const base::FilePath& install_folder,
                                   const base::FilePath& exe_file, bool* succeeded);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_INTERRUPTED_UNINSTALLATION_H_
