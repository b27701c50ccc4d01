#include "desktop/windows/installer/folder_permission_helper.h"

#include <windows.h>

#include <accctrl.h>
#include <aclapi.h>
#include <sddl.h>

#include <string>
#include <vector>

#include "base/command_line.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/process.h"
#include "base/string_number_conversions.h"
#include "base/win/scoped_handle.h"
#include "base/win/scoped_local_alloc.h"
#include "desktop/windows/installer/backend_command_line.h"
#include "desktop/windows/installer/elevation.h"
#include "desktop/windows/installer/run_log.h"
#include "desktop/windows/installer/installer.h"
#include "desktop/windows/installer/installer_switches.h"
#include "desktop/windows/installer/service/kernel_object_name.h"
#include "desktop/windows/installer/settings_switches.h"

namespace installer {

namespace {

// The installer commits its transaction (which may still touch the folder)
// after it signalled Undo; this is how long it gets to end.
constexpr DWORD kDefaultUndoGracePeriodMs = 10000;

FolderAclWrittenHook g_acl_written_hook = nullptr;
DWORD g_undo_grace_period_ms = kDefaultUndoGracePeriodMs;

void ReportAclWritten(const base::FilePath& folder, PACL dacl, bool restore) {
  if (!g_acl_written_hook)
    return;
  SECURITY_DESCRIPTOR descriptor;
  std::wstring sddl;
  base::win::ScopedLocalAllocTyped<wchar_t*> text;
  if (::InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) &&
      ::SetSecurityDescriptorDacl(&descriptor, TRUE, dacl, FALSE) &&
      ::ConvertSecurityDescriptorToStringSecurityDescriptorW(
          &descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, text.Receive(), nullptr)) {
    sddl = text.Get();
  } else {
    PLOG(ERROR) << "Could not describe the access list written to " << folder;
  }
  g_acl_written_hook(folder, sddl, restore);
}

// Writes |dacl| to |folder|, keeping the folder's protection from
// inheritance as |control| gives it.
bool WriteFolderDacl(const base::FilePath& folder, PACL dacl, SECURITY_DESCRIPTOR_CONTROL control,
                     bool restore) {
  const SECURITY_INFORMATION info =
      DACL_SECURITY_INFORMATION |
      ((control & SE_DACL_PROTECTED) ? PROTECTED_DACL_SECURITY_INFORMATION
                                     : UNPROTECTED_DACL_SECURITY_INFORMATION);
  const DWORD error =
      ::SetNamedSecurityInfoW(const_cast<wchar_t*>(folder.value().c_str()), SE_FILE_OBJECT, info,
                              nullptr, nullptr, dacl, nullptr);
  if (error != ERROR_SUCCESS) {
    ELOG(ERROR, error) << "Could not write the access list of " << folder;
    return false;
  }
  ReportAclWritten(folder, dacl, restore);
  return true;
}

// The process of the pid |pid| read from the switch |name|, opened for
// waiting. False (logged) when the id is missing or unreadable or the
// process is gone.
bool OpenProcessOfSwitch(const BackendCommandLine::Value<uint32_t>& pid, const char* name,
                         base::Process* process) {
  if (!pid.ok()) {
    LOG(ERROR) << "No readable process id in " << name;
    return false;
  }
  *process = base::Process::Open(pid.value);
  if (!process->IsValid()) {
    PLOG(ERROR) << "Process " << pid.value << " of " << name << " cannot be opened";
    return false;
  }
  return true;
}

// While the package is still being fetched: waits for it, then lets the
// package's own installer grant the permission.
void GrantThroughPackageInstaller(const base::CommandLine& command_line,
                                  const base::FilePath& folder, const base::Process& requester) {
  const BackendCommandLine own(command_line);
  base::Process front_end;
  if (!OpenProcessOfSwitch(own.initial_pid(), kInitialPidSwitch, &front_end))
    return;
  base::win::ScopedHandle package_ready(::OpenEventW(
      SYNCHRONIZE, FALSE, GetKernelObjectName(folder, kPackageReadyEventName, true).c_str()));
  if (!package_ready.IsValid()) {
    PLOG(ERROR) << "Could not open the package ready event";
    return;
  }
  base::win::ScopedHandle interrupted(
      ::OpenEventW(SYNCHRONIZE, FALSE,
                   GetKernelObjectName(folder, kInstallationInterruptedEventName, true).c_str()));
  if (!interrupted.IsValid()) {
    PLOG(ERROR) << "Could not open the installation interrupted event";
    return;
  }
  std::vector<HANDLE> handles = {package_ready.Get(), interrupted.Get(), front_end.Handle()};
  if (requester.IsValid())
    handles.push_back(requester.Handle());
  const DWORD result =
      ::WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE, INFINITE);
  if (result != WAIT_OBJECT_0) {
    if (result == WAIT_FAILED)
      PLOG(ERROR) << "Waiting for the package failed";
    else
      LOG(INFO) << "The installation ended before its package was ready";
    return;
  }

  base::CommandLine package_installer(own.package_folder().Append(kPackageInstallerFileName));
  package_installer.CopySwitchesFrom(
      command_line, {kCrashReporterPidSwitch, kSetFolderPermissionSwitch, kPermissionsForUserSwitch,
                     kPermanentPermissionsSwitch, kPermissionRequesterPidSwitch});
  AppendRunLogSwitch(&package_installer);
  LOG(INFO) << "Granting the folder permission through "
            << package_installer.GetCommandLineString();
  base::LaunchOptions options;
  options.wait = true;
  base::Process process = base::LaunchProcess(package_installer, options);
  if (!process.IsValid())
    LOG(ERROR) << "The package's installer could not be started";
}

void GrantFolderPermission(const base::CommandLine& command_line, const base::FilePath& folder,
                           const std::wstring& user, const base::Process& requester) {
  base::win::ScopedHandle give_event(
      ::OpenEventW(EVENT_ALL_ACCESS, FALSE,
                   GetKernelObjectName(folder, kGiveInstallPermissionEventName, false).c_str()));
  if (!give_event.IsValid()) {
    PLOG(ERROR) << "Could not open the event of the folder permission";
    return;
  }
  base::win::ScopedHandle undo_event(::OpenEventW(
      EVENT_ALL_ACCESS, FALSE,
      GetKernelObjectName(folder, kGiveInstallPermissionUndoEventName, false).c_str()));
  if (!undo_event.IsValid()) {
    PLOG(ERROR) << "Could not open the undo event of the folder permission";
    return;
  }
  if (!base::DirectoryExists(folder) && !base::CreateDirectoryTree(folder)) {
    LOG(ERROR) << "Could not create " << folder;
    return;
  }

  PACL old_dacl = nullptr;
  base::win::ScopedLocalAllocTyped<PSECURITY_DESCRIPTOR> old_descriptor;
  DWORD error =
      ::GetNamedSecurityInfoW(folder.value().c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                              nullptr, nullptr, &old_dacl, nullptr, old_descriptor.Receive());
  if (error != ERROR_SUCCESS) {
    ELOG(ERROR, error) << "Could not read the access list of " << folder;
    return;
  }
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  if (!::GetSecurityDescriptorControl(old_descriptor.Get(), &control, &revision)) {
    PLOG(ERROR) << "Could not read the security descriptor control of " << folder;
    return;
  }

  EXPLICIT_ACCESSW access = {};
  ::BuildExplicitAccessWithNameW(&access, const_cast<wchar_t*>(user.c_str()), GENERIC_ALL,
                                 GRANT_ACCESS, SUB_CONTAINERS_AND_OBJECTS_INHERIT);
  base::win::ScopedLocalAllocTyped<PACL> new_dacl;
  error = ::SetEntriesInAclW(1, &access, old_dacl, new_dacl.Receive());
  if (error != ERROR_SUCCESS) {
    ELOG(ERROR, error) << "Could not add an entry for " << user << " to the access list";
    return;
  }
  if (!WriteFolderDacl(folder, new_dacl.Get(), control, /*restore=*/false))
    return;
  LOG(INFO) << "Granted " << user << " access to " << folder;

  if (command_line.HasSwitch(kPermanentPermissionsSwitch)) {
    if (!::SetEvent(give_event.Get()))
      PLOG(ERROR) << "Could not signal the folder permission";
    return;
  }

  if (!::SetEvent(give_event.Get())) {
    PLOG(ERROR) << "Could not signal the folder permission; taking it back";
  } else {
    std::vector<HANDLE> handles = {undo_event.Get()};
    if (requester.IsValid())
      handles.push_back(requester.Handle());
    const DWORD result = ::WaitForMultipleObjects(static_cast<DWORD>(handles.size()),
                                                  handles.data(), FALSE, INFINITE);
    if (result == WAIT_OBJECT_0) {
      VLOG(1) << "The installation asked to undo the folder permission";
      // Give the installer the time to commit; it may end sooner.
      if (requester.IsValid())
        ::WaitForSingleObject(requester.Handle(), g_undo_grace_period_ms);
      else
        ::Sleep(g_undo_grace_period_ms);
    } else if (result == WAIT_OBJECT_0 + 1) {
      LOG(WARNING) << "The installer that asked for the folder permission ended without "
                      "undoing it";
    } else {
      PLOG(ERROR) << "Waiting for the end of the installation failed";
    }
  }
  if (WriteFolderDacl(folder, old_dacl, control, /*restore=*/true))
    LOG(INFO) << "Restored the access list of " << folder;
}

}  // namespace

bool RunFolderPermissionHelper() {
  const base::CommandLine& command_line = *base::CommandLine::ForCurrentProcess();
  if (!command_line.HasSwitch(kPermissionsForUserSwitch)) {
    LOG(WARNING) << "No user named to give the folder permission to";
    return true;
  }
  const base::FilePath folder = command_line.GetSwitchValuePath(kSetFolderPermissionSwitch);
  const std::wstring user = command_line.GetSwitchValueNative(kPermissionsForUserSwitch);
  if (folder.empty() || user.empty()) {
    LOG(ERROR) << "The folder permission needs a folder and a user";
    return true;
  }
  // Opened first: a requester already gone could never undo the grant.
  const BackendCommandLine own(command_line);
  base::Process requester;
  if (own.permission_requester_pid().given &&
      !OpenProcessOfSwitch(own.permission_requester_pid(), kPermissionRequesterPidSwitch,
                           &requester)) {
    return true;
  }
  if (own.waits_for_package())
    GrantThroughPackageInstaller(command_line, folder, requester);
  else
    GrantFolderPermission(command_line, folder, user, requester);
  return true;
}

void SetFolderAclWrittenHookForTesting(FolderAclWrittenHook hook) { g_acl_written_hook = hook; }

void SetUndoGracePeriodForTesting(DWORD milliseconds) { g_undo_grace_period_ms = milliseconds; }

}  // namespace installer
