// Paths read from an install log, checked before anything is deleted.
//
// The install log lives in the install folder; for a per-user or stand-alone
// installation anyone who can write that folder can change it, and a damaged
// disk can too. So an entry of the log is never trusted to stay inside the
// installation: every file entry and the version subfolder must be a plain
// relative path, and the joined path must lie below the install folder.
#ifndef DESKTOP_WINDOWS_INSTALLER_INSTALL_LOG_PATH_H_
#define DESKTOP_WINDOWS_INSTALLER_INSTALL_LOG_PATH_H_

#include "base/files/file_path.h"

namespace installer {

// True when |entry| is a relative path made of plain names: not empty, not
// rooted, absolute, drive- or device-prefixed, without "/" (which some APIs
// read as a separator and others as a character), without an empty, "." or
// ".." component, and without a character that file names cannot hold
// (control characters and < > : " | ? *). Not logged: callers say what the
// entry was.
bool IsPlainRelativePath(const base::FilePath& entry);

// |install_folder| + |subfolder| + |entry| in |path|, when |subfolder| is
// empty or plain, |entry| is plain and the result lies below
// |install_folder|. False, with a log line naming the refused text,
// otherwise; |path| is then left alone.
bool ResolveInstallLogPath(const base::FilePath& install_folder, const base::FilePath& subfolder,
                           const base::FilePath& entry, base::FilePath* path);

// Whether |subfolder| (from an install log) may be joined to the install
// folder: empty or plain. Logs the refusal.
bool IsUsableVersionSubfolder(const base::FilePath& subfolder);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_INSTALL_LOG_PATH_H_
