// Access checks and temporary access grants on files, folders and registry
// keys for the current user.
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_ACCESS_CONTROL_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_ACCESS_CONTROL_H_

#include <windows.h>

#include <accctrl.h>

#include <cstdint>
#include <string>
#include <vector>

#include "base/files/file_path.h"

namespace installer {

// What GrantCurrentUserAccess replaced: the object's owner and DACL, kept as
// a self-relative security descriptor.
struct SavedPermissions {
  std::wstring path;
  SE_OBJECT_TYPE object_type = SE_UNKNOWN_OBJECT_TYPE;
  std::vector<uint8_t> security_descriptor;
};

// True when the current token (the thread's impersonation token, else the
// process token) is granted every right of |access_mask| (generic rights are
// mapped) on |path|. |object_type| is SE_FILE_OBJECT (1) for files and
// folders or SE_REGISTRY_KEY for keys named like "CURRENT_USER\Software\X".
bool HasAccess(const base::FilePath& path, SE_OBJECT_TYPE object_type, DWORD access_mask);

// Adds an explicit entry granting |access_mask| on |path| to the current
// user (inherited by sub-folders and files when |inherit|). When the DACL
// may not be written, the user first takes ownership (with the take-ownership
// and restore privileges enabled for the call). |saved| receives the owner
// and DACL as they were, for RestorePermissions. False (logged) on failure.
bool GrantCurrentUserAccess(const base::FilePath& path, SE_OBJECT_TYPE object_type,
                            DWORD access_mask, bool inherit, SavedPermissions* saved);

// Writes the saved owner and DACL back (with the restore privilege enabled,
// which setting another account as owner needs). False (logged) on failure.
bool RestorePermissions(const SavedPermissions& saved);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_ACCESS_CONTROL_H_
