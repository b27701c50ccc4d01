// The switches of the installer's command line: the documented options and
// those its own processes pass to each other.
#ifndef DESKTOP_WINDOWS_INSTALLER_INSTALLER_SWITCHES_H_
#define DESKTOP_WINDOWS_INSTALLER_INSTALLER_SWITCHES_H_

namespace installer {

inline constexpr char kVersionSwitch[] = "version";
inline constexpr char kInternalVersionSwitch[] = "internal-version";
inline constexpr char kStreamSwitch[] = "stream";
inline constexpr char kHelpSwitch[] = "help";
inline constexpr char kHelpShortSwitch[] = "?";
inline constexpr char kCrashReporterParentIdSwitch[] = "crash-reporter-parent-id";
inline constexpr char kCrashReporterExceptionInfoSwitch[] = "crash-reporter-exception-info";
// A self-report that embeds a minidump instead of attaching to the crashed
// reporter.
inline constexpr char kCrashReporterMinidumpSwitch[] = "crash-reporter-minidump";
// The browser profile folder the reporter keeps its files under.
inline constexpr char kUserDataDirSwitch[] = "user-data-dir";
inline constexpr char kSetFolderPermissionSwitch[] = "set-folder-permission";
inline constexpr char kPermissionsForUserSwitch[] = "permissions-for-user";
inline constexpr char kRunUninstallBatSwitch[] = "run-uninstall-bat";
inline constexpr char kBackendSwitch[] = "backend";
inline constexpr char kUninstallSwitch[] = "uninstall";
inline constexpr char kSilentSwitch[] = "silent";
inline constexpr char kRunImmediatelySwitch[] = "runimmediately";
inline constexpr char kAutoupdateSwitch[] = "autoupdate";
inline constexpr char kReplaceTarselInstallationSwitch[] = "replacetarselinstallation";
inline constexpr char kInstallFolderSwitch[] = "installfolder";
inline constexpr char kRegisterAsProtocolHandlerSwitch[] = "register-velmo-as-protocol-handler";
inline constexpr char kTempFolderSwitch[] = "temp-folder";
inline constexpr char kServerTrackingBlobSwitch[] = "server-tracking-blob";

// Between the engine's own processes.
// Only the tasks of the non-elevated user after an elevated run.
inline constexpr char kPostElevatedInstallTasksSwitch[] = "post-elevated-install-tasks";
// The id of the installer process that started this elevated copy.
inline constexpr char kParentPidSwitch[] = "parent-pid";
// The package is still being fetched into the named folder.
inline constexpr char kWaitForPackageSwitch[] = "wait-for-package";
// The crash reporter serving the installer's processes.
inline constexpr char kCrashReporterPidSwitch[] = "crash-reporter-pid";
// The log of the run's front end, which the run's other installer processes
// add their lines to.
inline constexpr char kLogFileSwitch[] = "log-file";

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_INSTALLER_SWITCHES_H_
