// The installer log of a run. The front end makes a log of its own (never
// one that exists: a second run started in the same second gets a numbered
// name) and names it, through "log-file", to the installer processes of the
// run: its back end, and what the back end starts (the package's installer,
// an elevated copy, the folder-permission process). Every line of a run is
// then in one file, and none in another run's.
#ifndef DESKTOP_WINDOWS_INSTALLER_RUN_LOG_H_
#define DESKTOP_WINDOWS_INSTALLER_RUN_LOG_H_

#include "base/command_line.h"
#include "base/files/file_path.h"

namespace installer {

// Opens the log of this installer process. A back end adds to the log that
// "log-file" names when it may (see IsRunLogFile); every other process, and
// a back end without such a log (it says why in its own), makes a new log.
// When no log can be written at all, the lines go to standard error, the
// first of them saying why, and the result is false: the run goes on.
bool OpenRunLog(const base::CommandLine& command_line);

// For a process that writes no log of its own (the folder-permission
// process): adds to the log that "log-file" names when it may. False, and
// logging unchanged, when it names none or one that cannot be added to.
bool AddToNamedRunLog(const base::CommandLine& command_line);

// Names this process's log, through "log-file", on |command_line| of an
// installer process of the same run; nothing when this process has no log.
void AppendRunLogSwitch(base::CommandLine* command_line);

// Whether |path| may be added to as the log of a run: an absolute path to a
// file that exists and is named as the installer names its logs. A process
// that runs elevated must not be made to create or extend any other file
// through its command line.
bool IsRunLogFile(const base::FilePath& path);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_RUN_LOG_H_
