// The single-instance lock of the installer's interface: one interactive
// installer per download folder. The owner keeps "installer.lck" open with
// its UI thread's id in it; a second instance reads that id and brings the
// owner's window forward instead of showing a window of its own.
#ifndef DESKTOP_WINDOWS_INSTALLER_UI_INSTALLER_UI_LOCK_H_
#define DESKTOP_WINDOWS_INSTALLER_UI_INSTALLER_UI_LOCK_H_

#include <windows.h>

#include "base/files/file_path.h"
#include "base/win/scoped_handle.h"

namespace installer {

inline constexpr wchar_t kInstallerUILockFileName[] = L"installer.lck";

// Takes the lock of |folder|. On success |lock_file| holds the lock file
// (deleted when the handle closes) and the result is the calling thread's
// id; otherwise the result is the owner's UI thread id, or 0 when it cannot
// be told, in which case the run goes on without the lock.
DWORD AcquireInstallerUILock(const base::FilePath& folder, base::win::ScopedHandle* lock_file);

// Brings the first enabled and visible window of |thread_id| to the
// foreground. False when that thread has no such window.
bool ActivateThreadWindow(DWORD thread_id);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_UI_INSTALLER_UI_LOCK_H_
