// The installer's file steps: copying the package into the install folder,
// keeping the record of what was installed ("installation_status.xml"),
// removing the files of earlier versions, and at the end of an
// uninstallation the clean-up batch file for what was still in use.
#include <windows.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "base/bind.h"
#include "base/code_location.h"
#include "base/command_line.h"
#include "base/files/directory_enumerator.h"
#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/files/path_registry.h"
#include "base/logging.h"
#include "base/process.h"
#include "base/string_number_conversions.h"
#include "base/string_util.h"
#include "base/time.h"
#include "base/utf_string_conversions.h"
#include "base/values.h"
#include "base/win/windows_version.h"
#include "components/prefs/json_pref_store.h"
#include "components/prefs/prefs_task_pool.h"
#include "desktop/windows/installer/association_change_notice.h"
#include "desktop/windows/installer/cleanup_batch_file.h"
#include "desktop/windows/installer/folder_installation.h"
#include "desktop/windows/installer/install_log_path.h"
#include "desktop/windows/installer/installer.h"
#include "desktop/windows/installer/installer_file_steps.h"
#include "desktop/windows/installer/installer_folders.h"
#include "desktop/windows/installer/installer_launcher_steps.h"
#include "desktop/windows/installer/interrupted_installation.h"
#include "desktop/windows/installer/installer_registry_steps.h"
#include "desktop/windows/installer/installer_shortcuts.h"
#include "desktop/windows/installer/installer_status.h"
#include "desktop/windows/installer/product_config.h"
#include "desktop/windows/installer/service/transactions/delete_file_operation.h"
#include "desktop/windows/installer/settings.h"
#include "desktop/windows/installer/settings_switches.h"
#include "desktop/windows/installer/service/install_log.h"
#include "desktop/windows/installer/service/installation.h"
#include "desktop/windows/installer/service/registry_names.h"
#include "desktop/windows/installer/service/scheduled_task_info.h"
#include "desktop/windows/installer/service/task_scheduler.h"
#include "desktop/windows/installer/service/transactions/copy_file_operation.h"
#include "desktop/windows/installer/service/transactions/create_folder_operation.h"
#include "desktop/windows/installer/service/transactions/move_file_operation.h"
#include "desktop/windows/installer/service/transactions/rename_operation.h"
#include "desktop/windows/installer/service/transactions/transaction.h"
#include "desktop/windows/installer/service/user_admin.h"
#include "desktop/windows/rc_l10n_handler/installer_string_ids.h"
#include "desktop/windows/rc_l10n_handler/localized_string.h"

namespace installer {

namespace {

constexpr char kScheduledAutoupdateSwitch[] = "scheduledautoupdate";
constexpr wchar_t kTaskArgumentPlaceholder[] = L"$(Arg0)";
constexpr uint32_t kAutoupdateTaskTimeLimitSeconds = 3600;
constexpr wchar_t kAutoupdateTaskNamePrefix[] = L"Autoupdate ";

// Executes a deletion of |path| in |transaction|; emptied folders are
// removed up to, never including, |install_folder|.
bool DeleteInTransaction(Transaction* transaction, const base::FilePath& path, bool check_in_use,
                         bool remove_empty_parents, const base::FilePath& install_folder) {
  return transaction->Execute(std::make_unique<DeleteFileOperation>(
      path, check_in_use, remove_empty_parents, install_folder));
}

// One less autoupdate task error in the installer's preferences: the task
// was just made anew.
void DecrementAutoupdateTaskErrorCount(const base::FilePath& install_folder) {
  base::SharedRef<prefs::JsonPrefStore> store = prefs::OpenJsonPrefStore(
      prefs::GetPrefsTaskPool(), install_folder.Append(Installation::kInstallerPrefsFileName));
  if (!store)
    return;
  const base::Value* value = nullptr;
  int count = 0;
  if (!store->GetValue(kAutoupdateTaskErrorCountPref, &value) || !value->GetAsInteger(&count) ||
      count <= 0) {
    return;
  }
  store->SetValueWithoutNotify(kAutoupdateTaskErrorCountPref,
                               std::make_unique<base::ScalarValue>(count - 1),
                               prefs::JsonPrefStore::kDefaultWriteFlags);
  VLOG(1) << "Setting autoupdate task error counter to : " << (count - 1);
  // The store writes the change when its last reference goes, here.
}

// True when both folders lie on the same volume (a rename can join them).
bool OnOneVolume(const base::FilePath& a, const base::FilePath& b) {
  wchar_t volume_a[MAX_PATH] = {}, volume_b[MAX_PATH] = {};
  if (!::GetVolumePathNameW(a.c_str(), volume_a, MAX_PATH) ||
      !::GetVolumePathNameW(b.c_str(), volume_b, MAX_PATH)) {
    return false;
  }
  return ::CompareStringOrdinal(volume_a, -1, volume_b, -1, TRUE) == CSTR_EQUAL;
}

// What the package did wrong when line |index| of its list |list_name|
// could not be copied from |source|, in words that follow the failure's
// detail (which the front end's log ends with): the package lacks the
// file, or the list names it on many lines (each copies it anew and sets
// the copy before aside, until no name for that is left). Empty when
// neither: the step's own error lines tell the rest.
std::string PackageFaultOfCopy(const base::FilePath& source, const wchar_t* list_name,
                               const std::vector<std::string>& list, size_t index) {
  const std::string where =
      base::WideToUTF8(list_name) + " line " + base::NumberToString(index + 1);
  if (::GetFileAttributesW(source.c_str()) == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
      return ": the package lacks " + list[index] + " (" + where + ")";
    return std::string();
  }
  const std::wstring key = PackageFilePlacement::Key(base::FilePath::FromUTF8Unsafe(list[index]));
  size_t count = 0;
  size_t first = 0;
  size_t second = 0;
  for (size_t i = 0; i < list.size(); ++i) {
    if (PackageFilePlacement::Key(base::FilePath::FromUTF8Unsafe(list[i])) != key)
      continue;
    if (count == 0)
      first = i;
    else if (count == 1)
      second = i;
    ++count;
  }
  if (count < 2)
    return std::string();
  return ": " + base::WideToUTF8(list_name) + " names it on " + base::NumberToString(count) +
         " lines (first on lines " + base::NumberToString(first + 1) + " and " +
         base::NumberToString(second + 1) + "), and each line copies it again";
}

}  // namespace

base::FilePath GetPreservedStatusPath(const base::FilePath& install_folder, base::Time time) {
  return install_folder.Append(kOldStatusFolderName)
      .Append(Installation::kInstallLogFileName)
      .AddExtension(base::NumberToString16(static_cast<long long>(time.ToTimeT())));
}

std::vector<PreservedGeneration> LoadPreservedGenerations(const base::FilePath& install_folder) {
  std::vector<PreservedGeneration> generations;
  const base::FilePath old_status = install_folder.Append(kOldStatusFolderName);
  if (!base::DirectoryExists(old_status))
    return generations;
  base::DirectoryEnumerator enumerator(old_status, /*recursive=*/false,
                                       base::DirectoryEnumerator::FILES, L"*.xml.*");
  for (base::FilePath path = enumerator.Next(); !path.empty(); path = enumerator.Next()) {
    PreservedGeneration generation;
    generation.status_file = path;
    generation.loaded = generation.log.Load(path);
    generations.push_back(std::move(generation));
  }
  return generations;
}

void Installer::CopyPackageFiles(int32_t index) {
  StepCopyFile(index, files_list_, &Installer::CopyPackageFiles, &install_log_.files,
               /*root=*/false);
}

void Installer::CopyRootFiles(int32_t index) {
  StepCopyFile(index, root_files_list_, &Installer::CopyRootFiles, &install_log_.root_files,
               /*root=*/true);
}

bool Installer::MayMovePackageFiles() const {
  if (settings_->IsFlagSet(Settings::ALL_USERS_FLAG)) {
    // Moved files would keep the security of the user's own folders.
    return false;
  }
  if (own_command_line().parent_pid().given)
    return false;
  // Only a package the front end unpacked for this run into its download
  // folder is used up by it (and deleted afterwards); a package anywhere
  // else, a version folder of an installation above all, stays whole.
  const std::wstring own = base::ToLowerASCII(own_folder_.StripTrailingSeparators().value());
  const std::wstring install =
      base::ToLowerASCII(settings_->GetInstallFolder().StripTrailingSeparators().value());
  if (own == install || base::StartsWith(own, install + L"\\", base::CompareCase::SENSITIVE))
    return false;
  return base::ToLowerASCII(own_folder_.StripTrailingSeparators().DirName().BaseName().value()) ==
         base::ToLowerASCII(GetInstallerFolderName().value());
}

void Installer::PlanPackageFilePlacement() {
  // What later steps read from the package stays there.
  std::set<std::wstring> kept = {kLauncherFileName,
                                 kPrefDefaultOverridesFileName,
                                 kInstallerPrefsIncludeFileName,
                                 kServerTrackingDataFileName,
                                 kFilesListFileName,
                                 kRootFilesListFileName};
  for (const std::string& entry : root_files_list_)
    kept.insert(base::FilePath::FromUTF8Unsafe(entry).value());
  const base::CommandLine& command_line = settings_->command_line();
  if (command_line.HasSwitch(kServerTrackingDataSwitch))
    kept.insert(command_line.GetSwitchValuePath(kServerTrackingDataSwitch).value());
  // The running installer's own program and engine stay where they were
  // started from: moved, they would go on running, but every later look at
  // the program's own path (the signer check of component installers, a
  // restart of itself) would find nothing there.
  for (int key : {base::kPathExeFile, base::kPathModuleFile}) {
    base::FilePath running;
    base::FilePath relative;
    if (base::PathRegistry::Get(key, &running) &&
        own_folder_.AppendRelativePath(running, &relative))
      kept.insert(relative.value());
  }
  const base::FilePath destination = settings_->GetInstallFolder().Append(install_log_.subfolder);
  if (!MayMovePackageFiles() || !OnOneVolume(own_folder_, destination)) {
    VLOG(1) << "Copying the package files";
    package_placement_ = PackageFilePlacement::CopyAll(files_list_.size());
    return;
  }
  package_placement_ = PackageFilePlacement::Plan(own_folder_, files_list_, kept, destination);
}

void Installer::StepCopyFile(int32_t index, const std::vector<std::string>& list,
                             CopyStep continuation, std::vector<base::FilePath>* target,
                             bool root) {
  if (root && index == 0 && list.empty()) {
    VLOG(2) << "Skipping copying of root files since list is empty.";
    ScheduleNextStep();
    return;
  }
  if (index < 0 || static_cast<size_t>(index) >= list.size()) {
    Fail(IDS_ERROR_INSTALL_FAILED, std::wstring(),
         "Invalid index " + base::NumberToString(index) + " passed to StepCopyFile (max: " +
             base::NumberToString(static_cast<unsigned long long>(list.size())) + ")");
    return;
  }
  const size_t at = static_cast<size_t>(index);
  if (!root && (index == 0 || !package_placement_.covers(at)))
    PlanPackageFilePlacement();
  const std::string& entry = list[at];
  const base::FilePath relative = base::FilePath::FromUTF8Unsafe(entry);
  base::FilePath destination_root = settings_->GetInstallFolder();
  if (!root)
    destination_root = destination_root.Append(install_log_.subfolder);

  // How many entries this task places: a whole folder of the package is
  // one rename, anything else one file.
  size_t placed = 0;
  bool other_volume = false;
  if (!root && package_placement_.folder_run(at) > 0) {
    const base::FilePath& folder = package_placement_.folder_at(at);
    const size_t run = package_placement_.folder_run(at);
    VLOG(1) << "Moving folder " << folder << " (" << run << " files)";
    if (transaction_.Execute(std::make_unique<RenameOperation>(
            own_folder_.Append(folder), destination_root.Append(folder), &other_volume))) {
      for (size_t i = at; i < at + run; ++i)
        target->push_back(base::FilePath::FromUTF8Unsafe(list[i]));
      placed = run;
    } else if (!other_volume) {
      Fail(IDS_ERROR_COPY_FILE, destination_root.Append(folder).value(),
           "Failed copying " + folder.AsUTF8Unsafe());
      return;
    }
  }
  if (!placed) {
    const base::FilePath source = own_folder_.Append(relative);
    const base::FilePath destination = destination_root.Append(relative);
    bool ok = false;
    if (!root && !other_volume && !package_placement_.must_copy(at)) {
      VLOG(1) << "Moving file " << entry;
      ok = transaction_.Execute(
          std::make_unique<RenameOperation>(source, destination, &other_volume));
    }
    if (other_volume) {
      LOG(INFO) << "The package lies on another volume than the installation: copying";
      package_placement_.CopyEverything();
    }
    if (root || other_volume || package_placement_.must_copy(at)) {
      VLOG(1) << "Copying " << (root ? "root " : "") << "file " << entry;
      ok = transaction_.Execute(std::make_unique<CopyFileOperation>(source, destination));
    }
    if (!ok) {
      Fail(IDS_ERROR_COPY_FILE, destination.value(),
           "Failed copying " + entry +
               PackageFaultOfCopy(source, root ? kRootFilesListFileName : kFilesListFileName, list,
                                  at));
      return;
    }
    target->push_back(relative);
    placed = 1;
  }

  // Every file placed counts one progress step; the last file of the list
  // is counted by ScheduleNextStep.
  const size_t next = at + placed;
  for (size_t i = at; i + 1 < next; ++i)
    NotifyStep();
  if (next >= list.size()) {
    VLOG(1) << "Done copying " << (root ? "root " : "") << "files";
    ScheduleNextStep();
    return;
  }
  NotifyStep();
  PostTask(base::CodeLocation("CopyFileW", __FILE__, __LINE__, base::GetProgramCounter()),
           base::Bind(continuation, base::Unretained(this), static_cast<int32_t>(next)));
}

void Installer::FinalizeInstallation() {
  VLOG(1) << "Finalizing the installation";
  Settings* settings = settings_;
  const base::FilePath& install_folder = settings->GetInstallFolder();

  // The record of this installation, for the next upgrade and the
  // uninstallation. Written to a temporary file and copied through the
  // transaction, so that a run that fails or is ended from here on does not
  // leave a record of an installation that is not there.
  base::FilePath temp_folder, saved_log;
  const bool saved = base::GetTempDirectory(&temp_folder) &&
                     base::CreateTemporaryFileInDirectory(temp_folder, &saved_log) &&
                     install_log_.Save(saved_log);
  const bool copied =
      saved && transaction_.Execute(std::make_unique<CopyFileOperation>(
                   saved_log, install_folder.Append(Installation::kInstallLogFileName)));
  if (!saved_log.empty())
    base::DeletePath(saved_log, false);
  if (!copied) {
    Fail(IDS_ERROR_INSTALL_FAILED, std::wstring(), "Failed saving the installation status");
    return;
  }

  // From Windows 10 on, the user chooses the default browser in the
  // system's settings; an elevated copy, a silent run or an installation
  // that is the handler already leaves that choice alone.
  const bool copy_only = settings->IsFlagSet(Settings::COPY_ONLY);
  const bool all_users = settings->IsFlagSet(Settings::ALL_USERS_FLAG);
  bool skip_default_browser = false;
  if (base::win::GetWindowsVersion() >= base::win::VERSION_WIN10) {
    skip_default_browser = own_command_line().parent_pid().given ||
                           settings->IsFlagSet(Settings::SILENT) ||
                           settings->GetStatus().is_http_handler();
  }
  if (!skip_default_browser && settings->IsFlagSet(Settings::DEFAULT_BROWSER) && !copy_only) {
    // Each call logs its own failures; none of them stops the installation.
    FolderInstallation installation(install_folder, install_log_);
    if (all_users && JournalRegistration(&transaction_, HKEY_LOCAL_MACHINE, install_folder)) {
      VLOG(1) << "Storing old default browser settings for all users";
      installation.SavePreviousDefaultBrowser(true);
      installation.RegisterAsDefaultBrowser(true);
    }
    if (JournalRegistration(&transaction_, HKEY_CURRENT_USER, install_folder)) {
      VLOG(1) << "Storing old default browser settings for current users";
      installation.SavePreviousDefaultBrowser(false);
      installation.RegisterAsDefaultBrowser(false);
    }
  }

  AnnounceAssociationChange();

  // An installation made through a folder-permission process belongs to
  // a user who cannot manage the installation's task.
  if (!copy_only && (all_users || !folder_permission_undo_event_.IsValid())) {
    std::unique_ptr<TaskScheduler> scheduler = TaskScheduler::Create();
    LOG(INFO) << "Creating scheduled task";
    if (!scheduler || !scheduler->Init()) {
      LOG(ERROR) << "Could not initialize task scheduler";
    } else {
      scheduler->DeleteStaleTasks();
      const bool scheduled = ShouldScheduleAutoupdateTask();
      ScheduledTaskInfo info;
      info.command_line = base::CommandLine(install_folder.Append(kLauncherFileName));
      info.command_line.AppendSwitch(kScheduledAutoupdateSwitch);
      info.command_line.AppendArg(kTaskArgumentPlaceholder);
      info.description = GetLocalizedString(IDS_AUTOUPDATE_TASK_DESCRIPTION);
      info.execution_time_limit_seconds = kAutoupdateTaskTimeLimitSeconds;
      info.name_suffix = kAutoupdateTaskNamePrefix + base::UTF8ToWide(install_log_.app_id);
      info.all_users = all_users;
      info.trigger_kind =
          scheduled ? ScheduledTaskInfo::kTriggerDaily : ScheduledTaskInfo::kTriggerNone;
      info.boot_or_logon_trigger = scheduled;
      info.run_only_if_network_available = true;
      // A new installation's task is new too (its name holds the new app
      // id): undoing the run deletes it. An upgrade replaces the task of the
      // installation it keeps.
      if (settings->GetOperation() == Settings::kOperationInstall &&
          !transaction_.Journal(CreatedTaskEntry(info.name_suffix))) {
        LOG(ERROR) << "Could not create scheduled task";
      } else if (!scheduler->CreateTask(info))
        LOG(ERROR) << "Could not create scheduled task";
      else
        DecrementAutoupdateTaskErrorCount(install_folder);
    }
  }

  if (IsUserAdmin(/*linked_token=*/false)) {
    UpdateFirewallRules(install_folder.Append(install_log_.subfolder).Append(GetBrowserExeName()),
                        /*remove=*/false);
  }

  // It may end the run itself.
  FinalizeSuccessfulInstallation();
  if (!running_)
    return;

  NotifyStep();
  Succeed();
}

void Installer::PreserveInstallerStatus() {
  LOG(INFO) << "Preserving previous installer status.";
  const base::FilePath& install_folder = settings_->GetInstallFolder();
  base::FilePath status_file = install_folder.Append(Installation::kInstallLogFileName);
  if (!base::PathExists(status_file))
    status_file = install_folder.Append(kTarselInstallLogFileName);
  if (!base::PathExists(status_file)) {
    LOG(WARNING) << "No previous status file found.";
    ScheduleNextStep();
    return;
  }

  const base::FilePath old_status = install_folder.Append(kOldStatusFolderName);
  if (!base::DirectoryExists(old_status)) {
    VLOG(1) << "Creating folder for ald status files.";
    // The operation logs why it failed; the old status then stays where it
    // is and the installation goes on.
    if (!transaction_.Execute(std::make_unique<CreateFolderOperation>(old_status))) {
      ScheduleNextStep();
      return;
    }
  }

  VLOG(1) << "Moving old status file.";
  // A failed move is logged by the operation and leaves the file in place.
  transaction_.Execute(std::make_unique<MoveFileOperation>(
      status_file, GetPreservedStatusPath(install_folder, base::Time::Now())));
  ScheduleNextStep();
}

void Installer::RemoveInstalledFiles() {
  LOG(INFO) << "Removing installed files.";
  const base::FilePath& install_folder = settings_->GetInstallFolder();
  const base::FilePath old_status = install_folder.Append(kOldStatusFolderName);
  if (!base::DirectoryExists(old_status)) {
    VLOG(1) << "No old status files found.";
    ScheduleNextStep();
    return;
  }

  const bool uninstalling = settings_->GetOperation() == Settings::kOperationUninstall;
  const bool admin = IsUserAdmin(/*linked_token=*/false);
  // Listed first: the deletions below change the folder being walked. The
  // uninstallation read them already, for its check of running browsers.
  std::vector<PreservedGeneration> generations = preserved_generations_
                                                     ? std::move(*preserved_generations_)
                                                     : LoadPreservedGenerations(install_folder);
  preserved_generations_.reset();

  for (const PreservedGeneration& preserved : generations) {
    const base::FilePath& status_file = preserved.status_file;
    const base::FilePath name = status_file.BaseName();
    const InstallLog& log = preserved.log;
    if (!preserved.loaded) {
      VLOG(1) << "Found invalid old status file: " << name;
      continue;
    }
    VLOG(1) << "Found old status file: " << name;
    // A generation whose subfolder leads elsewhere is not ours to delete; its
    // status file stays, like one that does not load.
    if (!IsUsableVersionSubfolder(log.subfolder)) {
      LOG(WARNING) << "Keeping the old status file " << name;
      continue;
    }
    const base::FilePath version_folder = install_folder.Append(log.subfolder);

    // Committed at the end of this generation: what it moved aside goes then.
    Transaction generation;
    bool rolled_back = false;
    for (const base::FilePath& entry : log.files) {
      base::FilePath path;
      // An entry that would lead out of the installation is skipped (logged).
      if (!ResolveInstallLogPath(install_folder, log.subfolder, entry, &path))
        continue;
      if (DeleteInTransaction(&generation, path, /*check_in_use=*/true,
                              /*remove_empty_parents=*/true, install_folder) ||
          uninstalling) {
        continue;
      }
      // The generation stays whole, to be tried again at the next upgrade.
      LOG(WARNING) << "Keeping the files of " << name << " for a later upgrade";
      if (!generation.Rollback())
        LOG(ERROR) << "Some files of " << name << " could not be put back";
      rolled_back = true;
      break;
    }
    if (admin)
      UpdateFirewallRules(version_folder.Append(GetBrowserExeName()), /*remove=*/true);
    if (!rolled_back) {
      VLOG(1) << "Deleting " << name;
      base::DeletePath(status_file, /*recursive=*/false);
    }
  }

  // Stays while a preserved status file is left in it.
  if (!::RemoveDirectoryW(old_status.c_str()))
    PLOG(INFO) << "Keeping " << old_status;
  RemoveMessageCenterShortcuts();
  ScheduleNextStep();
}

void Installer::RemoveOldRootFiles() {
  LOG(INFO) << "Removing old files from installation root";
  const base::FilePath& install_folder = settings_->GetInstallFolder();
  for (const base::FilePath& entry : settings_->GetStatus().root_files) {
    base::FilePath path;
    if (!ResolveInstallLogPath(install_folder, base::FilePath(), entry, &path))
      continue;
    // A root file that stays is overwritten (moved aside) by the copy that
    // follows; the operation logs why it could not be deleted.
    DeleteInTransaction(&transaction_, path, /*check_in_use=*/false,
                        /*remove_empty_parents=*/true, install_folder);
  }
  ScheduleNextStep();
}

void Installer::FinalizeUninstallation() {
  VLOG(1) << "Finalizing the uninstallation";
  const base::FilePath install_folder = settings_->GetInstallFolder();
  if (!DeleteInTransaction(&transaction_, install_folder.Append(Installation::kInstallLogFileName),
                           /*check_in_use=*/false, /*remove_empty_parents=*/true, install_folder)) {
    Fail(IDS_ERROR_UNINSTALL_FAILED, std::wstring(), "Failed to remove installation status file");
    return;
  }
  // It may end the run itself.
  RestoreDefaultBrowserAndShowSurvey(install_folder);
  if (!running_)
    return;
  ScheduleNextStep();
}

void Installer::CleanUpAfterUninstallation() {
  LOG(INFO) << "Cleaning up files after uninstallation";
  Settings* settings = settings_;
  const InstallerStatus& status = settings->GetStatus();
  const base::FilePath install_folder = settings->GetInstallFolder();

  if (!settings->IsFlagSet(Settings::COPY_ONLY)) {
    VLOG(1) << "Removing scheduled task";
    std::string app_id = status.app_id;
    DeleteAutoupdateTask(&app_id);
  }

  // What cannot be deleted now is left to the batch file.
  CleanupBatchContents batch;
  batch.install_folder = install_folder;
  batch.remove_install_folder = true;
  // A program or library is moved aside even while it runs (this
  // uninstaller's own among them), and then its temporary cannot be deleted
  // when the run commits: the batch file deletes it once the installer's
  // processes have ended.
  std::vector<DeleteFileOperation*> handed_over;
  auto remove = [&](const base::FilePath& path, bool check_in_use, bool remove_empty_parents) {
    auto operation = std::make_unique<DeleteFileOperation>(path, check_in_use, remove_empty_parents,
                                                           install_folder);
    DeleteFileOperation* deletion = operation.get();
    if (!transaction_.Execute(std::move(operation)))
      return false;
    // The transaction keeps the operation until the run ends.
    const std::wstring extension = base::ToLowerASCII(path.Extension());
    if (!deletion->temporary_path().empty() && (extension == L".exe" || extension == L".dll")) {
      batch.leftover_files.push_back(deletion->temporary_path());
      if (remove_empty_parents)
        AddLeftoverFolders(path, install_folder, &batch.leftover_folders);
      handed_over.push_back(deletion);
    }
    return true;
  };
  // Only entries below the install folder are deleted, and only they can
  // reach the batch file; a version subfolder that leads elsewhere takes
  // every entry with it (logged once here).
  const std::vector<base::FilePath> no_files;
  const std::vector<base::FilePath>& files =
      IsUsableVersionSubfolder(status.subfolder) ? status.files : no_files;
  for (const base::FilePath& entry : files) {
    base::FilePath path;
    if (!ResolveInstallLogPath(install_folder, status.subfolder, entry, &path))
      continue;
    if (!remove(path, /*check_in_use=*/true, /*remove_empty_parents=*/true)) {
      batch.leftover_files.push_back(path);
      AddLeftoverFolders(path, install_folder, &batch.leftover_folders);
    }
  }
  const base::FilePath launcher = install_folder.Append(kLauncherFileName);
  if (!remove(launcher, /*check_in_use=*/true, /*remove_empty_parents=*/true))
    batch.leftover_files.push_back(launcher);
  if (!IsWhiteLabeled()) {
    const base::FilePath old_exe =
        install_folder.Append(GetBrowserExeName()).ReplaceExtension(L".old");
    if (base::PathExists(old_exe))
      remove(old_exe, /*check_in_use=*/false, /*remove_empty_parents=*/false);
  }
  const base::FilePath overrides = install_folder.Append(kPrefDefaultOverridesFileName);
  if (!remove(overrides, /*check_in_use=*/false, /*remove_empty_parents=*/true))
    batch.leftover_files.push_back(overrides);
  for (const base::FilePath& entry : status.root_files) {
    base::FilePath path;
    if (!ResolveInstallLogPath(install_folder, base::FilePath(), entry, &path))
      continue;
    remove(path, /*check_in_use=*/true, /*remove_empty_parents=*/true);
  }

  batch.pid1 = base::GetCurrentProcId();
  // An unreadable id counts as none: the batch file then waits for this
  // process alone.
  const BackendCommandLine::Value<uint32_t>& front_end = own_command_line().initial_pid();
  if (front_end.given && !front_end.readable)
    LOG(WARNING) << "Ignoring an unreadable " << kInitialPidSwitch;
  batch.pid2 = front_end.ok() ? front_end.value : 0;
  batch.pid3 = second_installer_pid_;
  const std::string text = BuildCleanupBatchText(batch);
  const base::FilePath batch_file = install_folder.Append(kCleanupBatchFileName);
  if (base::WriteFileBytes(batch_file, text.data(), static_cast<int>(text.size())) !=
      static_cast<int>(text.size())) {
    // What is in use goes at reboot then.
    LOG(ERROR) << "Could not write " << batch_file << "; what is in use stays";
  } else {
    bool runs = true;
    if (!folder_permission_undo_event_.IsValid()) {
      LOG(INFO) << "Starting final cleanup batch file.";
      runs = RunUninstallBat(install_folder);
    }
    // Otherwise the folder-permission process runs it when it undoes its
    // grant. Without the batch file what is in use goes at reboot.
    if (runs) {
      for (DeleteFileOperation* deletion : handed_over)
        deletion->LeaveUndeletedToCleanup();
    }
  }

  if (settings->IsFlagSet(Settings::DELETE_PROFILE)) {
    FolderInstallation installation(install_folder);
    base::FilePath user_data;
    if (installation.GetUserDataFolder(&user_data, /*cut_user_name=*/true)) {
      LOG(INFO) << "Deleting user profile.";
      base::DeletePath(user_data, /*recursive=*/true);
      base::DeletePath(installation.RebaseDefaultPath(user_data), /*recursive=*/true);
    }
  }
  // The installer's own preferences (read above for the profile's place)
  // and the tracking data a net installer's run put beside them go with the
  // installation, so that the batch file finds the install folder empty and
  // removes it.
  for (const wchar_t* name : {Installation::kInstallerPrefsFileName, kServerTrackingDataFileName})
    remove(install_folder.Append(name), /*check_in_use=*/false, /*remove_empty_parents=*/false);
  // The registry keys the installation created are empty by now.
  RemoveCreatedRegistryKeys(status);

  NotifyStep();
  Succeed();
}

}  // namespace installer
