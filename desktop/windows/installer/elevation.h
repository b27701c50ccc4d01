// Elevation through the system's prompt: whether this user can be elevated,
// starting an elevated process with the "runas" verb, the names shared with
// the elevated folder-permission process, and opening a named event to
// administrators on Windows versions before Vista.
#ifndef DESKTOP_WINDOWS_INSTALLER_ELEVATION_H_
#define DESKTOP_WINDOWS_INSTALLER_ELEVATION_H_

#include <windows.h>

#include <string>

#include "base/command_line.h"
#include "base/files/file_path.h"
#include "base/process.h"
#include "desktop/windows/installer/service/kernel_object_name.h"

namespace installer {

// Switches of the folder-permission process (besides "set-folder-permission",
// "permissions-for-user" and "run-uninstall-bat" of installer_switches.h).
inline constexpr char kPermanentPermissionsSwitch[] = "permanent-permissions";
// The id of the installer that asked for the permission. The helper also
// waits for that process, so that a requester that crashes or is killed does
// not leave the grant in place for good.
inline constexpr char kPermissionRequesterPidSwitch[] = "permission-requester-pid";

// True when this user can be elevated through the system's prompt: an
// administrator whose elevated token is at hand, any user before Vista, and
// otherwise unless User Account Control is switched off ("EnableLUA" 0).
bool CanElevate();

// Starts |program| with |arguments| (their switches and loose arguments;
// the program of |arguments| is ignored) through the "runas" verb, shown.
// On success |process| holds the new process. False when it was not started
// (the user declined the prompt included), with the system's error left in
// GetLastError(); the caller logs it.
bool LaunchElevatedProcess(const base::FilePath& program, const base::CommandLine& arguments,
                           base::Process* process);

// Adds an entry granting GENERIC_ALL to BUILTIN\Administrators to the DACL
// of |event|. False (logged) on failure.
bool FixEventACL(HANDLE event);

// Tests. Wine's user is always an elevated administrator whose "runas" starts
// at once without a prompt, and UAC is off there.
class ScopedElevationForTesting {
 public:
  ScopedElevationForTesting();
  ScopedElevationForTesting(const ScopedElevationForTesting&) = delete;
  ScopedElevationForTesting& operator=(const ScopedElevationForTesting&) = delete;
  ~ScopedElevationForTesting();

  // The user declines the prompt: LaunchElevatedProcess fails with
  // ERROR_CANCELLED, as ShellExecuteExW does then, without starting anything.
  void DeclinePrompt();
  // Switches appended to every elevated process's command line (a test
  // executable runs its child main instead of the installer's code).
  void AddSwitches(const base::CommandLine& switches);
  // CanElevate reads "EnableLUA" from |path| under |root| instead of the
  // system's policy key.
  void SetUacPolicyKey(HKEY root, const std::wstring& path);
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_ELEVATION_H_
