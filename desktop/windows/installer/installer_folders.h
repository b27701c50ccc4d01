// Where the installer writes: its folder in the temporary directory, its log
// file, and the download folder that must allow running programs.
#ifndef DESKTOP_WINDOWS_INSTALLER_INSTALLER_FOLDERS_H_
#define DESKTOP_WINDOWS_INSTALLER_INSTALLER_FOLDERS_H_

#include <cstddef>

#include "base/files/file_path.h"
#include "base/time.h"

namespace base {
class CommandLine;
}

namespace installer {

// "<Product> Installer".
base::FilePath GetInstallerFolderName();

// "<TEMP>\<Product> Installer\<product>_installer_YYYYMMDDhhmmss.log" (local
// time), or the bare file name when the temporary folder is unusable.
base::FilePath ComputeLogFilePath();
// Creates the empty log file of a new run: |first_choice| when nothing of
// that name exists, else the first free name of "<name>_1.log",
// "<name>_2.log" ... beside it. An existing log is never opened, emptied or
// deleted: two runs started in the same second each keep their own. When no
// file can be made (an unwritable folder), |first_choice|: the logging then
// reports what fails there.
base::FilePath CreateNewLogFile(const base::FilePath& first_choice);
// Installer logs kept in their folder: the newest ones.
inline constexpr size_t kKeptInstallerLogs = 10;
// Deletes the installer logs beside |current_log| ("<product>_installer_*.log"),
// the oldest first, until |keep| are left counting |current_log|. Their names
// carry their start time, so the order of the names is that of the runs. A
// log another run still writes to may stay (logged at verbose level).
void PruneInstallerLogs(const base::FilePath& current_log, size_t keep);
// The log file name for a given local start time (tests).
base::FilePath LogFileNameForTime(int year, int month, int day, int hour, int minute, int second);

// The last argument of |command_line| as a path, kept only when absolute.
base::FilePath RecoverInstallFolderFromArgs(const base::CommandLine& command_line);

// Starts "k.bat" of |install_folder| hidden, without waiting, when it exists;
// false when it was not started (a failed start is logged).
bool RunUninstallBat(const base::FilePath& install_folder);

// Finds a folder named |folder_name| from which |program| can run: under the
// temporary folder, Downloads, the home folder or the executable's folder, in
// that order. An empty |program| only needs the folder to exist.
bool FindRunnableDirectory(const base::FilePath& folder_name, const base::FilePath& program,
                           base::FilePath* directory);
bool TryPathKeyDirectory(const base::FilePath& folder_name, const base::FilePath& program,
                         base::FilePath* directory, int path_key);
bool TryDownloadsFolder(const base::FilePath& folder_name, const base::FilePath& program,
                        base::FilePath* directory);
bool TryCreateRunnableDirectory(const base::FilePath& folder_name, const base::FilePath& program,
                                base::FilePath* directory);
// Copies |program| into a folder of this run's own in |directory| (see
// ProbeCopyFolder), runs the copy with "--version" and deletes it again, with
// that folder: true when the copy ran and ended within kProbeCopyTimeout.
bool CanRunFromDirectory(const base::FilePath& directory, const base::FilePath& program);

// Where this process puts its check copies in |directory|:
// "<product>_probe_<process id>". Runs that probe the same folder at once
// each copy, start and delete their own files (the plain host's copy needs
// its engine beside it under the engine's own name), never another's.
base::FilePath ProbeCopyFolder(const base::FilePath& directory);
// Removes from |directory| the check-copy folders of processes that have
// ended (a run ended from outside while it probed); those of running
// processes stay. Logs nothing: the early probe runs before the log opens.
void RemoveProbeCopiesOfEndedRuns(const base::FilePath& directory);

// A copy that runs at all answers "--version" in well under a second.
inline constexpr base::TimeSpan kProbeCopyTimeout = base::TimeSpan::FromSeconds(30);
// Runs |copy| with "--version", hidden, its output into a pipe of ours (never
// onto the run's console), and waits at most |limit| for it; a copy that has
// not ended by then is ended. True when it ran and ended in time. Logs
// nothing: the callers decide what a failure means.
bool RunProbeCopy(const base::FilePath& copy, base::TimeSpan limit);
// Called by RunProbeCopy right before it starts the copy, on the thread that
// starts it; null for none.
void SetProbeCopyStartObserverForTesting(void (*observer)());

// The engine that the plain host loads from its own folder.
inline constexpr wchar_t kEngineFileName[] = L"installer_engine.dll";
// A copy of the plain host starts as the host itself only with its engine
// beside it; without it the copy reports a start failure, into the log of
// the very run that probes. When |program|'s folder holds the engine, a copy
// of it is put beside |program_copy| and its path there returned; empty when
// there is none or it could not be copied. Logs nothing: the probe's own
// result tells.
base::FilePath PlaceEngineBesideCopy(const base::FilePath& program,
                                     const base::FilePath& program_copy);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_INSTALLER_FOLDERS_H_
