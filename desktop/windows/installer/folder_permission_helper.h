// The elevated folder-permission process: grants a user full access to an
// install folder, temporarily or for good, on behalf of an installer that
// cannot write there and cannot elevate the installation itself.
#ifndef DESKTOP_WINDOWS_INSTALLER_FOLDER_PERMISSION_HELPER_H_
#define DESKTOP_WINDOWS_INSTALLER_FOLDER_PERMISSION_HELPER_H_

#include <windows.h>

#include <string>

#include "base/files/file_path.h"

namespace installer {

// Runs the helper from the process's command line:
//   --set-folder-permission=<folder> --permissions-for-user=<logon name>
//   [--permanent-permissions] [--permission-requester-pid=<id>]
//   [--wait-for-package=<package folder> --initial-pid=<front end id>]
//   [--crash-reporter-pid=<id>]
// Without "permissions-for-user" nothing is done. While the package is still
// being fetched, the package's own installer is run to grant the access once
// it is there. Otherwise the access is granted, the requester is told through
// the GiveInstallPermission event, and (unless permanent) the folder's old
// access list is written back once the requester signals Undo or ends.
// Always true: the helper reports through the events alone; every failure
// is logged and ends it without signalling, which the requester sees as the
// helper's end.
bool RunFolderPermissionHelper();

// Tests. Wine keeps no folder DACLs, so tests watch what the helper writes:
// |hook| is called after each successful write of the folder's access list
// (|restore| false for the grant, true for the old list written back) with
// the list in SDDL form.
using FolderAclWrittenHook = void (*)(const base::FilePath& folder, const std::wstring& dacl_sddl,
                                      bool restore);
void SetFolderAclWrittenHookForTesting(FolderAclWrittenHook hook);
// How long the helper gives a requester that signalled Undo to end before it
// restores the folder (10 s by default).
void SetUndoGracePeriodForTesting(DWORD milliseconds);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_FOLDER_PERMISSION_HELPER_H_
