#include "desktop/windows/installer/installer.h"

#include <windows.h>

#include <accctrl.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/bind.h"
#include "base/code_location.h"
#include "base/command_line.h"
#include "base/features/command_line_feature_reader.h"
#include "base/features/feature_registry.h"
#include "base/features/list_feature_reader.h"
#include "base/files/directory_enumerator.h"
#include "base/files/file_util.h"
#include "base/files/path_registry.h"
#include "base/logging.h"
#include "base/string_number_conversions.h"
#include "base/string_printf.h"
#include "base/string_split.h"
#include "base/threading/message_loop.h"
#include "base/time.h"
#include "base/utf_string_conversions.h"
#include "base/values.h"
#include "base/win/scoped_handle.h"
#include "components/prefs/json_pref_store.h"
#include "components/prefs/prefs_task_pool.h"
#include "desktop/windows/crash_reporter/crash_reporter_client.h"
#include "desktop/windows/installer/install_log_path.h"
#include "desktop/windows/installer/installer_file_steps.h"
#include "desktop/windows/installer/interrupted_installation.h"
#include "desktop/windows/installer/installer_status.h"
#include "desktop/windows/installer/package_fetcher/archive_entry_names.h"
#include "desktop/windows/installer/package_fetcher/safe_relative_path.h"
#include "desktop/windows/installer/product_config.h"
#include "desktop/windows/installer/run_log.h"
#include "desktop/windows/installer/settings.h"
#include "desktop/windows/installer/settings_switches.h"
#include "desktop/windows/installer/service/kernel_object_name.h"
#include "desktop/windows/installer/service/pe_image.h"
#include "desktop/windows/installer/service/registry_entry.h"
#include "desktop/windows/installer/service/registry_names.h"
#include "desktop/windows/installer/service/transactions/create_folder_operation.h"
#include "desktop/windows/installer/service/transactions/delete_file_operation.h"
#include "desktop/windows/installer/service/user_admin.h"
#include "desktop/windows/rc_l10n_handler/installer_string_ids.h"

namespace installer {

namespace {

// Read, write and execute on the install folder.
constexpr DWORD kFolderAccessMask = FILE_GENERIC_READ | FILE_GENERIC_WRITE | FILE_GENERIC_EXECUTE;

// The install path remembered for the next run's default folder, and the
// value an older 64-bit build wrote beside it.
const RegistryRow kSetLastInstallPathRegOp = {
    L"{CompanyRegistryKey}", L"Last {Stream} Install Path", REG_SZ, L"{InstallFolder}\\"};
const RegistryRow kDeleteLegacyX64InstallPathRegOp = {L"{CompanyRegistryKey}",
                                                      L"Last {Stream} Install Path x64",
                                                      RegistryEntry::kDeleteValue, nullptr};

constexpr char kInstallerExperimentsPref[] = "installer-experiments";
constexpr char kTestExperiment[] = "installer-experiment-test";
constexpr wchar_t kInstallerPrefsFileName[] = L"installer_prefs.json";
// How long the journal of a package installer that has just ended may still
// show a live owner.
constexpr DWORD kEndedInstallerWaitMs = 30 * 1000;

// The lines of |path| ("\r\n" separated, empty ones dropped); false when the
// file cannot be read.
bool ReadListFile(const base::FilePath& path, std::vector<std::string>* lines) {
  std::string text;
  if (!base::ReadFileToString(path, &text))
    return false;
  *lines =
      base::SplitStringUsingSubstr(text, "\r\n", base::KEEP_WHITESPACE, base::SPLIT_WANT_NONEMPTY);
  return true;
}

// Why a package list is refused: its first line that cannot name a file
// inside the package. One that, joined to the package folder or to the
// installation, could name something outside it (the copy steps would copy
// over, and a rollback move aside, files of the system); one that ends in a
// separator, which names a folder; one that Windows takes for something
// else than a file (a device, a stream) or cannot hold at all. Empty when
// every line is fine.
std::string FindUnusableLine(const wchar_t* list_name, const std::vector<std::string>& lines) {
  for (size_t i = 0; i < lines.size(); ++i) {
    const base::FilePath entry = base::FilePath::FromUTF8Unsafe(lines[i]);
    const NameCheck check = CheckRelativePath(entry.value(), true);
    if (check.fault == NameFault::kNone)
      continue;
    const std::string line = base::WideToUTF8(list_name) + " line " + base::NumberToString(i + 1) +
                             " (" + EscapeEntryName(entry.value()) + ") ";
    if (check.fault == NameFault::kLeavesFolder)
      return line + "is not a path that stays inside the package; the package is refused";
    if (check.fault == NameFault::kEmptyPart && entry.EndsWithSeparator() &&
        IsSafeRelativePath(entry.StripTrailingSeparators().value(), true)) {
      return line + "ends in a separator: it names a folder, not a file; the package is refused";
    }
    return line + DescribeNameFault(check, "the package") + "; the package is refused";
  }
  return std::string();
}

// Why a package list is refused: its first line that names a folder of the
// package where a file must be. The copy steps would move the folder in as
// if it were the file (an installation "succeeding" with an empty folder in
// the browser's place). Empty when no line does; a line naming nothing is
// left to the copy step, which fails on it.
std::string FindLineNamingAFolder(const base::FilePath& package_folder, const wchar_t* list_name,
                                  const std::vector<std::string>& lines) {
  for (size_t i = 0; i < lines.size(); ++i) {
    const base::FilePath entry = base::FilePath::FromUTF8Unsafe(lines[i]);
    if (base::DirectoryExists(package_folder.Append(entry))) {
      return base::WideToUTF8(list_name) + " line " + base::NumberToString(i + 1) + " (" +
             EscapeEntryName(entry.value()) +
             ") names a folder of the package, not a file; the package is refused";
    }
  }
  return std::string();
}

// Limits of the job that binds the installer from the package to this
// process.
bool SetJobLimits(HANDLE job, DWORD flags) {
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
  limits.BasicLimitInformation.LimitFlags = flags;
  return ::SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits,
                                   sizeof(limits)) != FALSE;
}

// Puts this process into a job whose processes all end when its handle, held
// here only, is closed; the children made from now on are in it from their
// first instruction. The installer from the package must not run on after
// this process was ended from outside: the front end then sees this process
// end without success and undoes both runs, and a run left going would work
// on beside that (or hang, its package folder deleted by the front end as it
// ends). Empty (logged) when there is no such job: the run goes on without.
base::win::ScopedHandle EnterKillOnCloseJob() {
  base::win::ScopedHandle job(::CreateJobObjectW(nullptr, nullptr));
  if (!job.IsValid()) {
    PLOG(WARNING) << "No job for the installer from the package";
    return job;
  }
  if (!SetJobLimits(job.Get(),
                    JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_BREAKAWAY_OK) ||
      !::AssignProcessToJobObject(job.Get(), ::GetCurrentProcess())) {
    PLOG(WARNING) << "The installer from the package cannot be made to end with this process";
    job.Reset();
  }
  return job;
}

// The child has ended: closing the job's handle must end neither this
// process (in the job for good) nor what the child started (the browser).
void LeaveKillOnCloseJob(base::win::ScopedHandle* job) {
  if (!job->IsValid() || SetJobLimits(job->Get(), JOB_OBJECT_LIMIT_BREAKAWAY_OK))
    return;
  PLOG(ERROR) << "Cannot release the job of the installer from the package";
  // Kept open: its processes then end with this one only.
  [[maybe_unused]] HANDLE kept = job->Release();
}

// The browser |exe| moved aside, refused while it runs (see
// Installer::RemoveBrowsersUnlessRunning).
std::unique_ptr<DeleteFileOperation> MakeBrowserDeletion(const base::FilePath& exe,
                                                         const base::FilePath& install_folder) {
  auto operation =
      std::make_unique<DeleteFileOperation>(exe, /*check_in_use=*/true,
                                            /*remove_empty_parents=*/true, install_folder);
  operation->RefuseRunningProgram();
  return operation;
}

}  // namespace

Installer::Installer()
    : message_loop_(base::MessageLoop::Current()),
      task_runner_(message_loop_ ? message_loop_->task_runner() : nullptr) {
  CHECK(message_loop_) << "The installer needs a MessageLoop";
}

Installer::~Installer() {
  if (running_)
    Cancel();
  package_ready_watcher_.StopWatching();
  interrupted_watcher_.StopWatching();
  // The remaining members go in reverse order; the transaction commits what
  // is left in it (nothing after a cancellation).
}

void Installer::AddObserver(InstallerDelegate* observer) { observers_.AddObserver(observer); }

void Installer::RemoveObserver(InstallerDelegate* observer) { observers_.RemoveObserver(observer); }

void Installer::Run(Settings* settings) {
  LOG(INFO) << "Beginning installation";
  CHECK(settings) << "Run without settings";
  CHECK(!settings_) << "The installer already holds settings";
  CHECK(!settings->IsFetchingStatus()) << "The settings are still reading a folder status";
  // Everything a run executes stays in the one transaction until the
  // installer is destroyed, so a second run could roll the first one back.
  CHECK(!run_started_) << "An installer runs once";
  run_started_ = true;
  settings->SetModifiable(false);
  settings_ = settings;
  own_command_line_ = BackendCommandLine(settings->command_line());
  success_ = false;
  reported_ = false;
  task_runner_->PostTask(FROM_HERE, base::Bind(&Installer::DoRun, weak_factory_.GetWeakRef()));
}

void Installer::DoRun() {
  running_ = true;
  Settings* settings = settings_;
  const InstallerStatus& status = settings->GetStatus();
  const base::FilePath& install_folder = settings->GetInstallFolder();
  const int32_t operation = settings->GetOperation();

  // The protocol-handler registration needs nothing of the rest.
  if (operation == Settings::kOperationRegisterProtocolHandler) {
    StartSteps(MakeStepList(operation), /*report_total=*/false, 0);
    return;
  }

  if (settings->IsFlagSet(Settings::AUTOUPDATE) && operation != Settings::kOperationUpgrade &&
      !status.tarsel_installation()) {
    Fail(IDS_ERROR_INSTALL_FAILED, std::wstring(), "Settings operation invalid for autoupdate");
    return;
  }
  if (operation == Settings::kOperationUnknown) {
    Fail(IDS_ERROR_INVALID_LOCATION, std::wstring(), "Settings operation invalid");
    return;
  }

  if (!base::PathRegistry::Get(base::kPathExeDirectory, &own_folder_)) {
    Fail(IDS_ERROR_INSTALL_FAILED, std::wstring(), "Failed getting our own path");
    return;
  }

  if (own_command_line_.post_elevated_install_tasks()) {
    LOG(INFO) << "Post elevation installation tasks only";
    RunPostElevationTasks();
    // The tasks may have ended the run themselves.
    if (!reported_)
      Succeed();
    return;
  }

  // From here until the run ends, the front end can interrupt it.
  const std::wstring interrupted_name =
      GetKernelObjectName(install_folder, kInstallationInterruptedEventName, /*global=*/true);
  VLOG(1) << "Event name for interrupted installation: " << interrupted_name;
  interrupted_event_.Reset(::OpenEventW(SYNCHRONIZE, FALSE, interrupted_name.c_str()));
  if (!interrupted_event_.IsValid()) {
    const DWORD error = ::GetLastError();
    Fail(IDS_ERROR_INSTALL_FAILED, std::wstring(),
         "Failed to open a handle to the installation interrupted event", error);
    return;
  }
  if (!interrupted_watcher_.StartWatchingOnce(interrupted_event_.Get(), this)) {
    Fail(IDS_ERROR_INSTALL_FAILED, std::wstring(),
         "Failed to watch the installation interrupted event");
    return;
  }

  const BackendCommandLine::Value<uint32_t>& parent_pid = own_command_line_.parent_pid();
  if (parent_pid.ok()) {
    second_installer_pid_ = parent_pid.value;
    VLOG(1) << "Second installer pid: " << second_installer_pid_;
  } else if (parent_pid.given) {
    LOG(WARNING) << "Ignoring an unreadable " << kParentPidSwitch;
  }

  // A run on this folder whose process was ended from outside left its
  // changes behind; they go before this run makes its own. A run still going
  // (the one that started this process) is not waited for. Failures are
  // logged where they happen and stop nothing.
  RollBackInterruptedInstallations(install_folder, /*wait_ms=*/0);
  transaction_.SetJournal(CreateInstallJournal(install_folder));

  const bool admin = IsUserAdmin(/*linked_token=*/false);
  VLOG(1) << "is_elevated_admin: " << admin;
  if (settings->IsFlagSet(Settings::ALL_USERS_FLAG) && settings->IsFlagSet(Settings::SILENT) &&
      !admin) {
    Fail(operation == Settings::kOperationUninstall ? IDS_ERROR_UNINSTALL_FAILED
                                                    : IDS_ERROR_INSTALL_FAILED,
         std::wstring(), "Installation requires elevation, but cannot elevate when silent");
    return;
  }

  // A folder still to be created is created now, while the status's
  // answer for its parent says it can be.
  // The status was read before the rollback above, which may have taken
  // away the folder it found.
  const bool folder_missing = !base::DirectoryExists(install_folder);
  bool write = true;
  if ((status.parent_folder() != install_folder || folder_missing) &&
      (!settings->IsFlagSet(Settings::ALL_USERS_FLAG) || admin)) {
    VLOG(2) << "Using write permissions from the status";
    write = status.has_write_access();
    if (write && !transaction_.Execute(std::make_unique<CreateFolderOperation>(install_folder))) {
      Fail(IDS_ERROR_CREATE_FOLDER, install_folder.value(), "Could not create installation folder");
      return;
    }
  }

  RememberInstallPath();

  bool handed_over = false;
  if (!CheckFolderAccess(admin, &write, &handed_over) || handed_over)
    return;

  if (!transaction_.Execute(std::make_unique<CreateFolderOperation>(install_folder))) {
    Fail(IDS_ERROR_CREATE_FOLDER, install_folder.value(), "Could not create installation folder");
    return;
  }
  observers_.Notify(&InstallerDelegate::OnInstallFolderReady);

  // The package-ready handling continues the run.
  if (own_command_line_.waits_for_package()) {
    VLOG(2) << "Need to wait for package";
    WaitForPackage(false);
    return;
  }

  install_log_.copy_only = settings->IsFlagSet(Settings::COPY_ONLY);
  install_log_.all_users = settings->IsFlagSet(Settings::ALL_USERS_FLAG);
  install_log_.path = install_folder;
  install_log_.version = GetVersionString();
  if (operation == Settings::kOperationUpgrade && !status.app_id.empty()) {
    install_log_.app_id = status.app_id;
  } else {
    install_log_.app_id = base::NumberToString(static_cast<long long>(base::Time::Now().ToTimeT()));
    VLOG(1) << "AppId for new installation: " << install_log_.app_id;
  }

  int extra_steps = 0;
  if (operation != Settings::kOperationUninstall) {
    if (!ReadPackageLists() || !CreateVersionSubfolder())
      return;
    extra_steps = static_cast<int>(files_list_.size() + root_files_list_.size()) - 2;
  } else if (!RemoveBrowsersUnlessRunning()) {
    return;
  }

  if (operation == Settings::kOperationUpgrade)
    ApplyInstallerExperiments();
  base::FeatureRegistry* features = base::FeatureRegistry::GetInstance();
  if (status.experiments().IsRegistered(kTestExperiment) &&
      features->IsRegistered(kTestExperiment) &&
      status.experiments().IsEnabled(kTestExperiment) != features->IsEnabled(kTestExperiment)) {
    LOG(INFO) << "Changing the status of the test experiment.";
  }

  // A new installation has no launcher yet: that is no failure to log.
  launcher_not_x86_ = false;
  const base::FilePath launcher = install_folder.Append(kLauncherFileName);
  launcher_valid_ = base::PathExists(launcher) && IsPeImage(launcher, &launcher_not_x86_);

  StartSteps(MakeStepList(operation), /*report_total=*/true, extra_steps);
}

bool Installer::RemoveBrowsersUnlessRunning() {
  const InstallerStatus& status = settings_->GetStatus();
  const base::FilePath& install_folder = settings_->GetInstallFolder();
  const std::wstring exe_name = GetBrowserExeName();
  std::vector<base::FilePath> browsers;
  base::FilePath exe;
  // A version subfolder that leads out of the installation is refused
  // (logged); the file steps then delete none of its files either.
  if (ResolveInstallLogPath(install_folder, status.subfolder, base::FilePath(exe_name), &exe))
    browsers.push_back(exe);
  // The versions an update kept (their browser may have run on through it)
  // go with the uninstallation too. Read once: the removal step works on the
  // same list, and says what is wrong with a damaged one.
  preserved_generations_ = LoadPreservedGenerations(install_folder);
  for (const PreservedGeneration& preserved : *preserved_generations_) {
    const base::FilePath& subfolder = preserved.log.subfolder;
    if (preserved.loaded && (subfolder.empty() || IsPlainRelativePath(subfolder)))
      browsers.push_back(install_folder.Append(subfolder).Append(exe_name));
  }
  for (const base::FilePath& browser : browsers) {
    if (!transaction_.Execute(MakeBrowserDeletion(browser, install_folder))) {
      Fail(IDS_ERROR_BROWSER_RUNNING, std::wstring(),
           "Can't uninstall when " + base::WideToUTF8(exe_name) + " is in use");
      return false;
    }
  }
  return true;
}

bool Installer::CheckFolderAccess(bool admin, bool* write, bool* handed_over) {
  Settings* settings = settings_;
  const InstallerStatus& status = settings->GetStatus();
  const base::FilePath& install_folder = settings->GetInstallFolder();
  const int32_t operation = settings->GetOperation();
  const bool single_profile_conflict = operation == Settings::kOperationInstall &&
                                       settings->IsFlagSet(Settings::SINGLE_PROFILE) &&
                                       status.single_profile() != 1;

  if (*write)
    *write = HasAccess(install_folder, SE_FILE_OBJECT, kFolderAccessMask);
  if (!*write && single_profile_conflict) {
    Fail(IDS_ERROR_INSUFFICIENT_PRIVILEGES, std::wstring(),
         "Single profile installations are only allowed to locations where the "
         "user has write access");
    return false;
  }

  if (settings->IsFlagSet(Settings::ALL_USERS_FLAG) && !admin) {
    VLOG(1) << "All users is set but we have no admin privs -> elevate";
    FinishElevatedRun(RunElevated());
    *handed_over = true;
    return true;
  }

  // A single-profile installation keeps this grant for good.
  if (admin && single_profile_conflict) {
    SavedPermissions discarded;
    if (!GrantCurrentUserAccess(install_folder, SE_FILE_OBJECT, GENERIC_ALL, /*inherit=*/true,
                                &discarded)) {
      LOG(WARNING) << "Could not grant the current user full access to " << install_folder;
    }
  }

  LOG(INFO) << "Write privileges for install folder: " << *write;
  if (*write)
    return true;
  SavedPermissions saved;
  if (GrantCurrentUserAccess(install_folder, SE_FILE_OBJECT, kFolderAccessMask, /*inherit=*/true,
                             &saved)) {
    saved_permissions_ = std::move(saved);
    has_saved_permissions_ = true;
    *write = true;
    return true;
  }
  if (admin) {
    Fail(IDS_ERROR_INSUFFICIENT_PRIVILEGES, std::wstring(),
         "Could not obtain write permissions to installation folder");
    return false;
  }
  if (IsUserAdmin(/*linked_token=*/true)) {
    VLOG(1) << "Running elevated because of folder privileges";
    FinishElevatedRun(RunElevated());
    *handed_over = true;
    return true;
  }
  LOG(INFO) << "Need temporary write permissions from administrative user";
  const bool permanent =
      settings->IsFlagSet(Settings::SINGLE_PROFILE) || own_command_line_.has_components();
  const int result = ObtainFolderPermission(install_folder, permanent);
  const char* detail = nullptr;
  int string_id = IDS_ERROR_INSTALL_FAILED;
  switch (result) {
    case kElevationSucceeded: break;
    case kElevationNotStarted:
      string_id = IDS_ERROR_ELEVATION_FAILED;
      detail = "Failed to elevate the process to give us write permissions to installation folder";
      break;
    case kElevationFailed:
      detail =
          "The process for giving us write permission to the installer folder didn't complete "
          "successfully";
      break;
    default:
      detail =
          "Error when setting up the process to give us write permissions to installation folder";
      break;
  }
  if (detail) {
    Fail(string_id, std::wstring(), detail);
    return false;
  }
  VLOG(2) << "Temporary write permission obtained";
  *write = HasAccess(install_folder, SE_FILE_OBJECT, kFolderAccessMask);
  if (!*write) {
    Fail(IDS_ERROR_INSUFFICIENT_PRIVILEGES, std::wstring(),
         "No write access to installation folder after attempting to get it via "
         "elevated process");
    return false;
  }
  return true;
}

void Installer::FinishElevatedRun(int result) {
  switch (result) {
    case kElevationSucceeded:
      VLOG(2) << "Succeeded elevated run";
      // While the package is awaited, its own installer's end reports.
      if (!package_ready_watcher_.IsWatching() && !reported_)
        Succeed();
      return;
    case kElevationNotStarted:
      Fail(IDS_ERROR_ELEVATION_FAILED, std::wstring(), "Elevated installation failed.");
      return;
    case kElevationFailed:
      Fail(IDS_ERROR_INSTALL_FAILED, std::wstring(),
           "Installer process did not complete successfully.");
      return;
    default:
      Fail(IDS_ERROR_INSTALL_FAILED, std::wstring(), "Error when setting up the installer process");
      return;
  }
}

void Installer::RememberInstallPath() {
  Settings* settings = settings_;
  if (settings->GetOperation() == Settings::kOperationUninstall ||
      settings->IsFlagSet(Settings::COPY_ONLY) || settings->IsFlagSet(Settings::AUTOUPDATE)) {
    return;
  }
  VLOG(1) << "Saving last installation path.";
  std::unique_ptr<Operation> operation;
  if (!RegistryEntry(kSetLastInstallPathRegOp, this)
           .CreateOperation(HKEY_CURRENT_USER, &operation)) {
    LOG(ERROR) << "Could not convert kSetLastInstallPathRegOp";
  } else if (operation && !transaction_.Execute(std::move(operation))) {
    LOG(WARNING) << "Could not write last installation path";
  }
  if (!settings->IsX64())
    return;
  std::unique_ptr<Operation> deletion;
  if (!RegistryEntry(kDeleteLegacyX64InstallPathRegOp, this)
           .CreateOperation(HKEY_CURRENT_USER, &deletion) ||
      (deletion && !transaction_.Execute(std::move(deletion)))) {
    LOG(WARNING) << "Could not delete legacy x64 last install path";
  }
}

bool Installer::ReadPackageLists() {
  VLOG(1) << "Reading files list";
  if (!ReadListFile(own_folder_.Append(kFilesListFileName), &files_list_)) {
    Fail(IDS_ERROR_INSTALL_FAILED, std::wstring(), "Could not read files list");
    return false;
  }
  if (files_list_.empty()) {
    Fail(IDS_ERROR_INSTALL_FAILED, std::wstring(), "No files in files list");
    return false;
  }
  // A package without root files has no such list: that is no failure, so
  // it is not read at all (a failed read would log one).
  const base::FilePath root_files_list = own_folder_.Append(kRootFilesListFileName);
  root_files_list_.clear();
  if (base::PathExists(root_files_list) && ReadListFile(root_files_list, &root_files_list_))
    LOG(INFO) << "Read root files list";
  // Refused before any step runs: nothing has been changed yet.
  std::string unusable = FindUnusableLine(kFilesListFileName, files_list_);
  if (unusable.empty())
    unusable = FindUnusableLine(kRootFilesListFileName, root_files_list_);
  if (!unusable.empty()) {
    Fail(IDS_ERROR_INSTALL_FAILED, std::wstring(), unusable);
    return false;
  }
  std::string folder_line = FindLineNamingAFolder(own_folder_, kFilesListFileName, files_list_);
  if (folder_line.empty())
    folder_line = FindLineNamingAFolder(own_folder_, kRootFilesListFileName, root_files_list_);
  if (!folder_line.empty()) {
    Fail(IDS_ERROR_INSTALL_FAILED, std::wstring(), folder_line);
    return false;
  }
  return true;
}

bool Installer::CreateVersionSubfolder() {
  const base::FilePath& install_folder = settings_->GetInstallFolder();
  const std::wstring version = base::UTF8ToWide(GetVersionString());
  // A name is taken by anything there but an empty folder that is not the
  // existing installation's: what an earlier run or anybody else left empty
  // holds nothing to keep apart from the new files.
  const base::FilePath& existing = settings_->GetStatus().subfolder;
  auto taken = [&](const std::wstring& candidate) {
    const base::FilePath path = install_folder.Append(candidate);
    if (!base::PathExists(path))
      return false;
    return !base::DirectoryExists(path) ||
           !base::DirectoryEnumerator(
                path, /*recursive=*/false,
                base::DirectoryEnumerator::FILES | base::DirectoryEnumerator::DIRECTORIES)
                .Next()
                .empty() ||
           base::FilePath::CompareEqualIgnoreCase(candidate, existing.value());
  };
  std::wstring name = version;
  for (unsigned suffix = 0; taken(name); ++suffix)
    name = version + L"_" + base::NumberToString16(suffix);
  VLOG(1) << "Installation subfolder " << name;
  install_log_.subfolder = base::FilePath(name);
  if (!transaction_.Execute(std::make_unique<CreateFolderOperation>(install_folder.Append(name)))) {
    Fail(IDS_ERROR_CREATE_FOLDER, name, "Creating installation subfolder failed");
    return false;
  }
  return true;
}

void Installer::ApplyInstallerExperiments() {
  const base::FilePath path = settings_->GetInstallFolder().Append(kInstallerPrefsFileName);
  base::SharedRef<prefs::JsonPrefStore> store =
      prefs::OpenJsonPrefStore(prefs::GetPrefsTaskPool(), path);
  if (!store || store->GetReadError() != prefs::JsonPrefStore::kReadNone) {
    VLOG(1) << "No installer preferences at " << path;
    return;
  }
  const base::Value* value = nullptr;
  const base::ListValue* list = nullptr;
  if (!store->GetValue(kInstallerExperimentsPref, &value) || !value->GetAsList(&list))
    return;
  std::vector<std::string> entries;
  for (size_t i = 0; i < list->size(); ++i) {
    std::string entry;
    if (list->GetString(i, &entry))
      entries.push_back(entry);
  }
  base::FeatureRegistry* features = base::FeatureRegistry::GetInstance();
  features->InitializeFromReader(base::ListFeatureReader(std::move(entries)));
  features->InitializeFromReader(base::CommandLineFeatureReader(settings_->command_line()));
}

Installer::StepList Installer::BindStepList(int32_t operation) {
  auto step = [this](void (Installer::*method)()) {
    return base::Bind(method, base::Unretained(this));
  };
  auto copy_step = [this](void (Installer::*method)(int32_t)) {
    return base::Bind(method, base::Unretained(this), 0);
  };
  switch (operation) {
    case Settings::kOperationRegisterProtocolHandler:
      return {step(&Installer::RegisterAsProtocolHandler), step(&Installer::WriteInstallerPrefs),
              step(&Installer::Succeed)};
    case Settings::kOperationInstall:
      return {copy_step(&Installer::CopyPackageFiles), copy_step(&Installer::CopyRootFiles),
              step(&Installer::InstallLauncher),       step(&Installer::SetUpRegistry),
              step(&Installer::InstallShortcuts),      step(&Installer::WriteInstallerPrefs),
              step(&Installer::InstallComponents),     step(&Installer::FinalizeInstallation)};
    case Settings::kOperationUpgrade:
      return {step(&Installer::RemoveInstalledFiles), copy_step(&Installer::CopyPackageFiles),
              step(&Installer::RemoveOldRootFiles),   copy_step(&Installer::CopyRootFiles),
              step(&Installer::InstallLauncher),      step(&Installer::CleanUpRegistry),
              step(&Installer::SetUpRegistry),        step(&Installer::UpdateShortcuts),
              step(&Installer::WriteInstallerPrefs),  step(&Installer::PreserveInstallerStatus),
              step(&Installer::InstallComponents),    step(&Installer::FinalizeInstallation)};
    case Settings::kOperationUninstall:
      return {
          step(&Installer::CleanUpRegistry),        step(&Installer::RemoveShortcuts),
          step(&Installer::FinalizeUninstallation), step(&Installer::RemoveInstalledFiles),
          step(&Installer::UninstallComponents),    step(&Installer::CleanUpAfterUninstallation)};
    default: return {};
  }
}

Installer::StepList Installer::MakeStepList(int32_t operation) {
  return step_list_binder_ ? step_list_binder_.Run(this, operation) : BindStepList(operation);
}

void Installer::StartSteps(StepList steps, bool report_total, int extra_steps) {
  steps_ = std::move(steps);
  next_step_ = 0;
  if (steps_.empty()) {
    Fail(IDS_ERROR_INSTALL_FAILED, std::wstring(),
         "No steps for operation " +
             base::NumberToString(static_cast<int>(settings_->GetOperation())));
    return;
  }
  if (report_total) {
    const int total = static_cast<int>(steps_.size()) + extra_steps + 1;
    observers_.Notify(&InstallerDelegate::OnTotalSteps, total);
  }
  ScheduleNextStep();
}

void Installer::RunStep(base::Closure step) { step.Run(); }

void Installer::PostTask(const base::CodeLocation& from_here, base::Closure task) {
  // A task of an ended run does nothing: what it would change would never be
  // rolled back.
  task_runner_->PostTask(
      from_here, base::Bind(&Installer::RunStep, run_weak_factory_.GetWeakRef(), std::move(task)));
}

void Installer::ScheduleNextStep() {
  if (next_step_ >= steps_.size()) {
    // A last step scheduling a successor is a fault of that step; ending the
    // run is better than reporting a success nobody confirmed.
    Fail(IDS_ERROR_INSTALL_FAILED, std::wstring(),
         "No step left to schedule at position " +
             base::NumberToString(static_cast<unsigned long long>(next_step_)));
    return;
  }
  PostTask(FROM_HERE, steps_[next_step_]);
  NotifyStep();
  ++next_step_;
}

void Installer::NotifyStep() { observers_.Notify(&InstallerDelegate::OnStep); }

void Installer::Fail(int string_id, const std::wstring& text, const std::string& detail,
                     DWORD error) {
  if (error != 0)
    ELOG(ERROR, error) << detail;
  else
    LOG(ERROR) << detail;
  if (reported_) {
    LOG(WARNING) << "Failure after the run had ended, not reported";
    return;
  }
  observers_.Notify(&InstallerDelegate::OnError, string_id, text, detail);
  Cancel();
}

void Installer::CancelAsInterrupted() {
  LOG(INFO) << "Installation was interrupted";
  Cancel();
}

void Installer::Cancel() {
  if (reported_)
    return;
  LOG(INFO) << "Installation cancelled";
  reported_ = true;
  if (!transaction_.Rollback())
    LOG(ERROR) << "Some changes of the installation could not be undone";
  EndRun();
  observers_.Notify(&InstallerDelegate::OnInstallerTerminated, false);
}

void Installer::Succeed() {
  if (reported_) {
    // A handover may have reported already; observers hear one outcome.
    VLOG(1) << "The run has already reported its end";
    return;
  }
  LOG(INFO) << "Installation succeeded";
  reported_ = true;
  success_ = true;
  // Settled before it is reported: ended after the report, the process must
  // leave no journal whose replay would undo a run reported done.
  transaction_.Settle();
  observers_.Notify(&InstallerDelegate::OnSuccess);
  EndRun();
  // What the run moved aside (every file of an uninstallation, every file
  // an upgrade replaced) is deleted after the report: the outcome no longer
  // depends on it, and neither the front end nor its user waits for it.
  transaction_.Commit();
}

void Installer::EndRun() {
  if (has_saved_permissions_) {
    has_saved_permissions_ = false;
    if (!RestorePermissions(saved_permissions_))
      LOG(ERROR) << "Could not restore the permissions of " << saved_permissions_.path;
  }
  if (folder_permission_undo_event_.IsValid() && !::SetEvent(folder_permission_undo_event_.Get()))
    PLOG(ERROR) << "Could not signal the folder-permission process to undo its grant";
  // Nothing of the ended run may go on: no step, no continuation, no signal.
  run_weak_factory_.InvalidateWeakRefs();
  interrupted_watcher_.StopWatching();
  package_ready_watcher_.StopWatching();
  install_log_recording_ = false;
  settings_ = nullptr;
  registry_key_name_.clear();
  running_ = false;
  // The run's journal went with its commit or rollback: when it was the
  // last, its folders go too.
  RemoveEmptyJournalFolders();
}

void Installer::WaitForPackage(bool post_elevation) {
  LOG(INFO) << "Need to wait for actual package";
  post_elevation_ = post_elevation;
  if (!settings_) {
    LOG(ERROR) << "Waiting for the package outside a run";
    return;
  }
  const std::wstring name =
      GetKernelObjectName(settings_->GetInstallFolder(), kPackageReadyEventName, /*global=*/true);
  VLOG(1) << "Event name for package_ready: " << name;
  package_ready_event_.Reset(::OpenEventW(SYNCHRONIZE, FALSE, name.c_str()));
  if (!package_ready_event_.IsValid()) {
    const DWORD error = ::GetLastError();
    // A front end that stops the run signals the interruption, then lets go
    // of the event: the run was stopped, nothing failed.
    if (interrupted_event_.IsValid() &&
        ::WaitForSingleObject(interrupted_event_.Get(), 0) == WAIT_OBJECT_0) {
      CancelAsInterrupted();
      return;
    }
    Fail(IDS_ERROR_INSTALL_FAILED, std::wstring(),
         "Failed to open a handle to the package ready event", error);
    return;
  }
  if (::WaitForSingleObject(package_ready_event_.Get(), 0) == WAIT_OBJECT_0) {
    OnObjectSignaled(package_ready_event_.Get());
    return;
  }
  if (!package_ready_watcher_.StartWatchingOnce(package_ready_event_.Get(), this)) {
    Fail(IDS_ERROR_INSTALL_FAILED, std::wstring(), "Failed to watch the package ready event");
  }
}

void Installer::OnObjectSignaled(HANDLE object) {
  if (interrupted_event_.IsValid() && object == interrupted_event_.Get()) {
    CancelAsInterrupted();
    return;
  }
  OnPackageReady();
}

void Installer::OnPackageReady() {
  LOG(INFO) << "Package is ready";
  if (!settings_) {
    LOG(ERROR) << "The package is ready outside a run";
    return;
  }
  base::CommandLine command_line;
  settings_->ToCommandLine(&command_line, /*suppress_launch=*/false);
  command_line.SetProgram(own_command_line_.package_folder().Append(kPackageInstallerFileName));
  if (post_elevation_)
    command_line.AppendSwitch(kPostElevatedInstallTasksSwitch);
  command_line.AppendSwitchASCII(kCrashReporterPidSwitch,
                                 base::FormatString("%u", crash_reporter::GetCrashReporterPid()));
  AppendRunLogSwitch(&command_line);

  const base::FilePath install_folder = settings_->GetInstallFolder();
  observers_.Notify(&InstallerDelegate::OnStartingNewMainProcess, false);
  EndRun();
  LOG(INFO) << "Running installer from the package with command line: "
            << command_line.GetCommandLineString();
  base::win::ScopedHandle job = EnterKillOnCloseJob();
  base::Process process = base::LaunchProcess(command_line, base::LaunchOptions());
  int exit_code = -1;
  const bool ended = process.IsValid() && process.WaitForExit(&exit_code);
  LeaveKillOnCloseJob(&job);
  observers_.Notify(&InstallerDelegate::OnReturnedToPreviousMainProcess);
  if (!process.IsValid()) {
    Fail(IDS_ERROR_INSTALL_FAILED, std::wstring(),
         "Failed to start installer process from the package folder.");
    return;
  }
  if (!ended || exit_code != 0) {
    // An installer ended from outside could not undo its changes; they go
    // before this process's own, which came first. It has ended, but the
    // system may take a moment to let it go: its journal is waited for
    // briefly rather than left for a later run.
    RollBackInterruptedInstallations(install_folder, kEndedInstallerWaitMs);
    Fail(IDS_ERROR_INSTALL_FAILED, std::wstring(),
         "Installer process did not complete successfully.");
    return;
  }
  Succeed();
}

}  // namespace installer
