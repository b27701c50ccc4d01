// The installer's elevation routines: an elevated copy that performs the whole
// run, the elevated folder-permission process, and the non-elevated user's
// tasks after an elevated run.
#include <windows.h>

#include <string>
#include <vector>

#include "base/command_line.h"
#include "base/files/file_util.h"
#include "base/files/path_registry.h"
#include "base/logging.h"
#include "base/process.h"
#include "base/string_number_conversions.h"
#include "base/string_printf.h"
#include "base/utf_string_conversions.h"
#include "base/win/scoped_handle.h"
#include "base/win/windows_version.h"
#include "desktop/windows/crash_reporter/crash_reporter_client.h"
#include "desktop/windows/installer/elevation.h"
#include "desktop/windows/installer/folder_installation.h"
#include "desktop/windows/installer/installer.h"
#include "desktop/windows/installer/installer_launcher_steps.h"
#include "desktop/windows/installer/installer_status.h"
#include "desktop/windows/installer/installer_switches.h"
#include "desktop/windows/installer/run_log.h"
#include "desktop/windows/installer/service/installation.h"
#include "desktop/windows/installer/service/kernel_object_name.h"
#include "desktop/windows/installer/service/user_name.h"
#include "desktop/windows/installer/settings.h"
#include "desktop/windows/installer/settings_switches.h"

namespace installer {

namespace {

// The component that may ship its installer under the assistant's name.
constexpr char kSuiteComponentName[] = "suite";
constexpr char kAssistantComponentName[] = "assistant";
constexpr char kComponentInstallerSuffix[] = "_installer.exe";

}  // namespace

int Installer::RunElevated() {
  LOG(INFO) << "Running the installer elevated.";
  if (!CanElevate()) {
    LOG(ERROR) << "Cannot elevate with UAC disabled";
    return kElevationNotStarted;
  }
  // The elevated copy installs; the browser is started afterwards by this
  // process, as the user who asked for it.
  base::CommandLine command_line;
  settings_->ToCommandLine(&command_line, /*suppress_launch=*/true);
  command_line.AppendSwitchASCII(
      kParentPidSwitch,
      base::NumberToString(static_cast<unsigned long long>(base::GetCurrentProcId())));
  const bool wait_for_package = own_command_line_.waits_for_package();
  if (wait_for_package)
    command_line.AppendSwitchPath(kWaitForPackageSwitch, own_command_line_.package_folder());
  AppendRunLogSwitch(&command_line);
  base::FilePath program;
  if (!base::PathRegistry::Get(base::kPathExeFile, &program)) {
    LOG(ERROR) << "Failed to obtain installer exe file path";
    return kElevationSetUpError;
  }

  observers_.Notify(&InstallerDelegate::OnStartingNewMainProcess, false);
  base::Process process;
  if (!LaunchElevatedProcess(program, command_line, &process)) {
    const DWORD error = ::GetLastError();
    ELOG(ERROR, error) << "Failed to run the elevated process";
    return kElevationNotStarted;
  }
  const DWORD wait = ::WaitForSingleObject(process.Handle(), INFINITE);
  const DWORD wait_error = ::GetLastError();
  observers_.Notify(&InstallerDelegate::OnReturnedToPreviousMainProcess);
  if (wait == WAIT_FAILED) {
    ELOG(ERROR, wait_error) << "Failed wait for the elevated installer";
    return kElevationFailed;
  }
  if (wait != WAIT_OBJECT_0) {
    LOG(ERROR) << "Unexpected result when waiting for the elevated installer";
    return kElevationFailed;
  }
  DWORD exit_code = 0;
  if (!::GetExitCodeProcess(process.Handle(), &exit_code)) {
    PLOG(ERROR) << "Could not read the exit code of the elevated installer";
    return kElevationFailed;
  }
  if (exit_code != 0) {
    LOG(ERROR) << "The elevated installer ended with exit code " << exit_code;
    return kElevationFailed;
  }
  if (wait_for_package)
    WaitForPackage(/*post_elevation=*/true);
  else
    RunPostElevationTasks();
  return kElevationSucceeded;
}

int Installer::ObtainFolderPermission(const base::FilePath& folder, bool permanent) {
  LOG(INFO) << "Run an elevated process in order to " << (permanent ? "permanently" : "temporarily")
            << " give permissions on the"
            << "install folder to this process";
  if (!CanElevate()) {
    LOG(ERROR) << "Cannot elevate with UAC disabled";
    return kElevationNotStarted;
  }
  std::wstring user_name;
  if (!GetCurrentUserName(&user_name)) {
    LOG(ERROR) << "Failed to obtain user name";
    return kElevationSetUpError;
  }
  VLOG(1) << "User name is " << user_name;

  const base::CommandLine& own_command_line = settings_->command_line();
  base::CommandLine command_line;
  command_line.AppendSwitchPath(kSetFolderPermissionSwitch, folder);
  command_line.AppendSwitchNative(kPermissionsForUserSwitch, user_name);
  if (permanent)
    command_line.AppendSwitch(kPermanentPermissionsSwitch);
  if (settings_->GetOperation() == Settings::kOperationUninstall)
    command_line.AppendSwitch(kRunUninstallBatSwitch);
  command_line.AppendSwitchASCII(kCrashReporterPidSwitch,
                                 base::FormatString("%u", crash_reporter::GetCrashReporterPid()));
  AppendRunLogSwitch(&command_line);
  if (own_command_line_.waits_for_package())
    command_line.AppendSwitchPath(kWaitForPackageSwitch, own_command_line_.package_folder());
  // The front end's id goes on as this process was given it.
  command_line.CopySwitchesFrom(own_command_line, {kInitialPidSwitch});
  command_line.AppendSwitchASCII(
      kPermissionRequesterPidSwitch,
      base::NumberToString(static_cast<unsigned long long>(base::GetCurrentProcId())));

  base::FilePath program;
  if (!base::PathRegistry::Get(base::kPathExeFile, &program)) {
    LOG(ERROR) << "Failed to obtain installer exe file path";
    return kElevationSetUpError;
  }

  base::win::ScopedHandle give_event(
      ::CreateEventW(nullptr, FALSE, FALSE,
                     GetKernelObjectName(folder, kGiveInstallPermissionEventName, false).c_str()));
  base::win::ScopedHandle undo_event;
  if (give_event.IsValid()) {
    undo_event.Reset(::CreateEventW(
        nullptr, FALSE, FALSE,
        GetKernelObjectName(folder, kGiveInstallPermissionUndoEventName, false).c_str()));
  }
  if (!give_event.IsValid() || !undo_event.IsValid()) {
    PLOG(ERROR) << "Failed to create event for communicating with "
                << "the elevated process";
    return kElevationSetUpError;
  }
  if (base::win::GetWindowsVersion() < base::win::VERSION_VISTA &&
      (!FixEventACL(give_event.Get()) || !FixEventACL(undo_event.Get()))) {
    return kElevationSetUpError;
  }

  base::Process process;
  if (!LaunchElevatedProcess(program, command_line, &process)) {
    PLOG(ERROR) << "Failed to run the elevated process";
    return kElevationNotStarted;
  }
  const HANDLE handles[] = {process.Handle(), give_event.Get()};
  const DWORD wait = ::WaitForMultipleObjects(2, handles, FALSE, INFINITE);
  if (wait != WAIT_OBJECT_0 + 1) {
    PLOG(ERROR) << "Failed to run the elevated process";
    return kElevationFailed;
  }
  folder_permission_undo_event_ = std::move(undo_event);
  second_installer_pid_ = process.Pid();
  return kElevationSucceeded;
}

void Installer::RunPostElevationTasks() {
  VLOG(1) << "Running post elevation installation tasks.";
  const Settings* settings = settings_;
  const int32_t operation = settings->GetOperation();
  const base::FilePath& install_folder = settings->GetInstallFolder();

  if (operation != Settings::kOperationUninstall && !settings->IsFlagSet(Settings::COPY_ONLY)) {
    // From Windows 10 on the user chooses the default browser in the system's
    // settings; a silent run or a browser that already handles "http" leaves
    // the registration alone.
    const bool skip =
        base::win::GetWindowsVersion() >= base::win::VERSION_WIN10 &&
        (settings->IsFlagSet(Settings::SILENT) || settings->GetStatus().is_http_handler());
    if (!skip) {
      FolderInstallation installation(install_folder);
      VLOG(1) << "Ensuring Velmo is registered for the current user.";
      if (settings->IsFlagSet(Settings::DEFAULT_BROWSER)) {
        LOG(INFO) << "Making Velmo the default browser for the current user.";
        if (!installation.SavePreviousDefaultBrowser(false))
          LOG(WARNING) << "Could not keep the previous default browser";
        if (!installation.RegisterAsDefaultBrowser(false))
          LOG(WARNING) << "Could not register the default browser for the current user";
      } else {
        LOG(INFO) << "Setting up file handlers for the current user.";
        if (!installation.RegisterProgIdClasses(false))
          LOG(WARNING) << "Could not register the file handlers for the current user";
      }
    }
  }

  // This process installed nothing itself when an elevated copy did the run:
  // what the run installed is in the log that copy saved in the folder.
  const InstallLog installed = GetInstalledLog(install_log_, install_folder);
  for (const InstallLogComponent& component : installed.components) {
    base::FilePath program = component.path.AppendASCII(component.name + kComponentInstallerSuffix);
    if (component.name == kSuiteComponentName && !base::PathExists(program)) {
      program = component.path.AppendASCII(std::string(kAssistantComponentName) +
                                           kComponentInstallerSuffix);
    }
    base::CommandLine command_line(program);
    command_line.AppendSwitch(kPostElevatedInstallTasksSwitch);
    VLOG(1) << "Post elevation tasks of component " << component.name << ": "
            << command_line.GetCommandLineString();
    if (!base::LaunchProcess(command_line, base::LaunchOptions()).IsValid())
      LOG(WARNING) << "Could not start the post elevation tasks of " << component.name;
  }

  if (operation != Settings::kOperationUninstall)
    FinalizeSuccessfulInstallation();
}

}  // namespace installer
