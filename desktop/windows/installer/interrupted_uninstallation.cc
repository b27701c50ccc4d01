#include "desktop/windows/installer/interrupted_uninstallation.h"

#include <windows.h>

#include <string>
#include <vector>

#include "base/command_line.h"
#include "base/files/file_util.h"
#include "base/files/path_registry.h"
#include "base/logging.h"
#include "base/process.h"
#include "base/string_number_conversions.h"
#include "desktop/windows/crash_reporter/crash_reporter_client.h"
#include "desktop/windows/installer/cleanup_batch_file.h"
#include "desktop/windows/installer/install_log_path.h"
#include "desktop/windows/installer/installer.h"
#include "desktop/windows/installer/installer_folders.h"
#include "desktop/windows/installer/interrupted_installation.h"
#include "desktop/windows/installer/service/install_log.h"
#include "desktop/windows/installer/service/installation.h"

namespace installer {

namespace {

// The batch file's name in the installer's temporary folder: one per
// process, so that two uninstallers never write each other's.
constexpr wchar_t kBatchFilePrefix[] = L"rollback_cleanup_";

// Hands the uninstallation of |install_folder| to |installer| (the installed
// version's) with this run's switches and waits for its end; its result is
// the run's.
bool UninstallWith(const base::FilePath& installer, const base::FilePath& install_folder,
                   const base::CommandLine& command_line) {
  base::CommandLine handed_over(command_line);
  handed_over.SetProgram(installer);
  base::LaunchOptions options;
  // Outside the installation: never this process's working folder, which
  // may lie in the folder being removed, nor the installer's own, which the
  // uninstallation removes.
  options.current_directory = install_folder.DirName();
  LOG(INFO) << "This installer belongs to the interrupted run that was rolled back; the "
               "installed version's installer uninstalls: "
            << handed_over.GetCommandLineString();
  base::Process process = base::LaunchProcess(handed_over, options);
  if (!process.IsValid()) {
    LOG(ERROR) << "Could not start the installed version's installer " << installer;
    return false;
  }
  if (!base::WaitForProcessAnsweringSentMessages(process.Handle(), INFINITE)) {
    PLOG(ERROR) << "Could not wait for the installed version's installer " << installer;
    return false;
  }
  DWORD exit_code = 1;
  if (!::GetExitCodeProcess(process.Handle(), &exit_code)) {
    PLOG(ERROR) << "Cannot read the exit code of " << installer;
    return false;
  }
  if (exit_code != 0) {
    LOG(ERROR) << "The uninstallation by " << installer << " failed with exit code " << exit_code
               << "; its own log says why";
    return false;
  }
  LOG(INFO) << "The installed version's installer has uninstalled it";
  return true;
}

// Writes and starts a batch file (in the installer's temporary folder) that
// waits until this process and its crash reporter have ended, then deletes
// |files| and the folders that held them below |install_folder| once empty,
// and |install_folder| too when nothing is left in it. When it cannot be
// started (logged), the files stay.
void RemoveFilesOfThisProcessLater(const std::vector<base::FilePath>& files,
                                   const base::FilePath& install_folder) {
  CleanupBatchContents batch;
  batch.pid1 = base::GetCurrentProcId();
  // Started from this process's program, it holds the same files.
  batch.pid2 = crash_reporter::GetCrashReporterPid();
  batch.install_folder = install_folder;
  batch.remove_install_folder = true;
  for (const base::FilePath& file : files) {
    batch.leftover_files.push_back(file);
    AddLeftoverFolders(file, install_folder, &batch.leftover_folders);
  }
  base::FilePath folder;
  if (!TryPathKeyDirectory(GetInstallerFolderName(), base::FilePath(), &folder,
                           base::kPathTempDirectory)) {
    LOG(ERROR) << "No temporary folder for the batch file that removes what this process holds; "
               << files.size() << " file(s) of the rolled-back run stay below " << install_folder;
    return;
  }
  const base::FilePath path =
      folder.Append(kBatchFilePrefix + base::NumberToString16(batch.pid1) + L".bat");
  const std::string text = BuildCleanupBatchText(batch);
  if (base::WriteFileBytes(path, text.data(), static_cast<int>(text.size())) !=
      static_cast<int>(text.size())) {
    LOG(ERROR) << "Could not write " << path << "; " << files.size()
               << " file(s) of the rolled-back run stay below " << install_folder;
    return;
  }
  if (!RunCleanupBatchFile(path))
    return;
  LOG(INFO) << "Started " << path << ": it removes " << files.size()
            << " file(s) of the rolled-back run once this process has ended";
}

}  // namespace

UninstallStart StartUninstallation(const base::CommandLine& command_line,
                                   const base::FilePath& install_folder,
                                   const base::FilePath& exe_file, bool* succeeded) {
  *succeeded = false;
  if (install_folder.empty())
    return UninstallStart::kUninstallHere;
  TransactionJournal::ReplayReport report;
  RollBackInterruptedInstallations(install_folder, /*wait_ms=*/0, &report);
  if (report.replayed == 0)
    return UninstallStart::kUninstallHere;
  LOG(INFO) << "Rolled back " << report.replayed << " interrupted run(s) on " << install_folder
            << " before uninstalling";
  // Whatever follows, the files the rollback could not delete go once this
  // process has ended (the replay named each one).
  if (!report.files_in_use.empty())
    RemoveFilesOfThisProcessLater(report.files_in_use, install_folder);

  const base::FilePath log_path = install_folder.Append(Installation::kInstallLogFileName);
  if (!base::PathExists(log_path)) {
    // The interrupted run was the first installation: nothing is left.
    LOG(INFO) << "No installation is left in " << install_folder
              << " after the rollback: nothing to uninstall";
    *succeeded = true;
    return UninstallStart::kDone;
  }
  // A record that does not read, or names an unusable folder, is the
  // ordinary uninstallation's to report.
  InstallLog log;
  if (!log.Load(log_path) || !IsUsableVersionSubfolder(log.subfolder) || log.subfolder.empty())
    return UninstallStart::kUninstallHere;
  const base::FilePath version_folder = install_folder.Append(log.subfolder);
  if (base::FilePath::CompareEqualIgnoreCase(exe_file.DirName().StripTrailingSeparators().value(),
                                             version_folder.StripTrailingSeparators().value())) {
    return UninstallStart::kUninstallHere;
  }
  const base::FilePath installer = version_folder.Append(kPackageInstallerFileName);
  if (!base::PathExists(installer)) {
    LOG(ERROR) << "The installed version " << log.version
               << " cannot be uninstalled: its installer " << installer << " is missing";
    return UninstallStart::kDone;
  }
  *succeeded = UninstallWith(installer, install_folder, command_line);
  return UninstallStart::kDone;
}

}  // namespace installer
