// Installer: the engine of one installation, upgrade, uninstallation or
// protocol-handler registration, run in the back-end process on the main
// thread's MessageLoop.
//
// Run() checks the settings, decides whether the run must elevate or obtain
// write permission for the install folder, creates the install folder, waits
// for the package when it is still being fetched, reads the package's file
// lists, binds the step list of the operation and then runs the steps, one
// posted task at a time.
//
// A step is a member function bound to this installer. It runs as a task on
// the installer's loop and ends in exactly one of three ways:
//   - it calls ScheduleNextStep() (only a step that is not the last of its
//     list does);
//   - it calls Fail(), which reports OnError, rolls every executed operation
//     back and reports OnInstallerTerminated(false);
//   - being the last step of its list, it notifies every observer's OnStep()
//     and calls Succeed().
// Every change to the machine goes through the run's one Transaction:
// rolled back when the run fails or is cancelled, committed when the
// installer is destroyed after success.
//
// Single-threaded: everything runs on the thread of the loop that was
// current at construction.
#ifndef DESKTOP_WINDOWS_INSTALLER_INSTALLER_H_
#define DESKTOP_WINDOWS_INSTALLER_INSTALLER_H_

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/callback.h"
#include "base/files/file_path.h"
#include "base/observer_list.h"
#include "base/process.h"
#include "base/shared_ref.h"
#include "base/threading/object_watcher.h"
#include "base/time.h"
#include "base/weak_ref.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/backend_command_line.h"
#include "desktop/windows/installer/installer_file_steps.h"
#include "desktop/windows/installer/installer_switches.h"
#include "desktop/windows/installer/ipc/installer_delegate.h"
#include "desktop/windows/installer/package_file_placement.h"
#include "desktop/windows/installer/service/access_control.h"
#include "desktop/windows/installer/service/install_log.h"
#include "desktop/windows/installer/service/kernel_object_name.h"
#include "desktop/windows/installer/service/placeholder_resolver.h"
#include "desktop/windows/installer/service/transactions/transaction.h"

namespace base {
class CodeLocation;
class MessageLoop;
class OrderedTaskRunner;
}  // namespace base

namespace prefs {
class PrefsTaskPoolHolder;
}

namespace installer {

class Settings;

// Files of the unpacked package that the engine reads.
inline constexpr wchar_t kFilesListFileName[] = L"files_list";
inline constexpr wchar_t kRootFilesListFileName[] = L"root_files_list";
inline constexpr wchar_t kPackageInstallerFileName[] = L"installer.exe";
// A component's installer that has not ended by then is taken for hung: it
// would hold the back end, and with it the folder's lock, for ever. Far
// beyond what a real component installer takes.
inline constexpr base::TimeSpan kComponentInstallerTimeout = base::TimeSpan::FromMinutes(10);

// True when this user can be elevated through the system's prompt.
// Defined with the elevation code.
bool CanElevate();

class Installer : public base::ObjectWatcher::Delegate, public PlaceholderResolver {
 public:
  using StepList = std::vector<base::Closure>;
  // Tests: makes the step list of |operation| in place of the real tables.
  // Every step of the list must end in one of the three ways above.
  using StepListBinder = base::Callback<StepList(Installer* installer, int32_t operation)>;

  // Results of RunElevated and ObtainFolderPermission.
  enum ElevationResult : int {
    kElevationSucceeded = 0,
    kElevationNotStarted = 1,
    kElevationFailed = 2,
    kElevationSetUpError = 3,
  };

  // Captures the current MessageLoop, which must exist.
  Installer();
  Installer(const Installer&) = delete;
  Installer& operator=(const Installer&) = delete;
  // Cancels a run still going (rolled back, OnInstallerTerminated(false)),
  // stops both watches, then commits what is left in the transaction.
  ~Installer() override;

  void AddObserver(InstallerDelegate* observer);
  void RemoveObserver(InstallerDelegate* observer);

  // Starts a run over |settings| (not owned; must stay until the run ends),
  // which must not be reading a folder status. Freezes them and posts DoRun.
  void Run(Settings* settings);

  // Whether the last run succeeded; read after the loop has ended.
  bool success() const { return success_; }
  // Whether a run is going.
  bool running() const { return running_; }

  // --- For the steps. ---

  // Posts the step at the current position, reports OnStep and advances.
  void ScheduleNextStep();
  // A run reports its outcome once: after the first of Fail, Cancel and
  // Succeed, the others do nothing (Fail still logs).
  //
  // Logs |detail| at ERROR (with the system error |error| when it is not
  // 0), then reports OnError(string_id, text, detail) and cancels the run.
  // The caller logs nothing more about the failure.
  void Fail(int string_id, const std::wstring& text, const std::string& detail, DWORD error = 0);
  // Ends the run with success: the success flag, OnSuccess.
  void Succeed();
  // Ends the run without an error report: every executed operation rolled
  // back, OnInstallerTerminated(false).
  void Cancel();
  // Ends the run as stopped by the front end, which signalled the
  // interruption event.
  void CancelAsInterrupted();

  // Posts |task| to the installer's loop (a copy step's continuation). Like
  // the posted steps, it does nothing once the run has ended.
  void PostTask(const base::CodeLocation& from_here, base::Closure task);
  // A reference that the installer's posted tasks bind: they do nothing once
  // the installer is gone.
  base::WeakRef<Installer> GetWeakRef() { return weak_factory_.GetWeakRef(); }
  // Notifies every observer's OnStep (a copy step's extra files, the last
  // step of a list).
  void NotifyStep();

  Transaction* transaction() { return &transaction_; }
  InstallLog* install_log() { return &install_log_; }
  const InstallLog& install_log() const { return install_log_; }
  // Null outside a run.
  Settings* settings() const { return settings_; }
  const base::FilePath& own_folder() const { return own_folder_; }
  const std::vector<std::string>& files_list() const { return files_list_; }
  const std::vector<std::string>& root_files_list() const { return root_files_list_; }
  base::ProcessId second_installer_pid() const { return second_installer_pid_; }
  // What the starting process told this one; read when the run starts.
  const BackendCommandLine& own_command_line() const { return own_command_line_; }
  bool launcher_valid() const { return launcher_valid_; }
  bool launcher_not_x86() const { return launcher_not_x86_; }

  // --- Tests. ---
  void SetStepListBinderForTesting(StepListBinder binder) { step_list_binder_ = binder; }
  void SetComponentInstallerTimeoutForTesting(base::TimeSpan limit) {
    component_installer_timeout_ = limit;
  }
  // The pool the installer prefs are written on (null restores the
  // process-wide one) and how long their write may take (a zero span
  // restores the default).
  static void SetPrefsWriteForTesting(base::SharedRef<prefs::PrefsTaskPoolHolder> pool,
                                      base::TimeSpan limit);
  // The real step list of |operation| (3 steps for the protocol-handler run,
  // 8 for an installation, 12 for an upgrade, 6 for an uninstallation; none
  // for any other operation).
  StepList BindStepList(int32_t operation);

  // --- Elevation and folder permissions. ---

  // Waits for the package-ready event, then relaunches the package's own
  // installer (with the post-elevation switch when |post_elevation|).
  void WaitForPackage(bool post_elevation);
  // Runs an elevated copy of this installer that performs the whole run.
  int RunElevated();
  // Starts an elevated process that grants this user access to |folder|
  // (for good when |permanent|).
  int ObtainFolderPermission(const base::FilePath& folder, bool permanent);
  // The non-elevated user's part after an elevated run.
  void RunPostElevationTasks();

  // PlaceholderResolver:
  bool ResolvePlaceholder(const std::wstring& name, std::wstring* value) override;
  InstallLogRegistryKeys* GetInstallLogRecorder(HKEY root) override;

  // --- Steps. ---
  // Files.
  void CopyPackageFiles(int32_t index);
  void CopyRootFiles(int32_t index);
  // |continuation| is the copy step itself, posted with the next index.
  using CopyStep = void (Installer::*)(int32_t);
  void StepCopyFile(int32_t index, const std::vector<std::string>& list, CopyStep continuation,
                    std::vector<base::FilePath>* target, bool root);
  // Package files are moved into the version folder only from a package
  // the front end unpacked into its download folder, and not when another
  // process still needs the package after this one (an elevated copy's
  // caller runs the package's installer again).
  bool MayMovePackageFiles() const;
  // Plans how the package files reach the version folder (at index 0).
  void PlanPackageFilePlacement();
  void FinalizeInstallation();
  void PreserveInstallerStatus();
  void RemoveInstalledFiles();
  void RemoveOldRootFiles();
  void FinalizeUninstallation();
  void CleanUpAfterUninstallation();
  // Registry and integration.
  void SetUpRegistry();
  void CleanUpRegistry();
  void RegisterAsProtocolHandler();
  void RestoreDefaultBrowserAndShowSurvey(const base::FilePath& install_folder);
  // Shortcuts.
  void InstallShortcuts();
  void UpdateShortcuts();
  void RemoveShortcuts();
  // Components.
  void InstallComponents();
  void UninstallComponents();
  // Launcher, installer preferences, user profile.
  void InstallLauncher();
  void WriteInstallerPrefs();
  void FinalizeSuccessfulInstallation();

 private:
  // base::ObjectWatcher::Delegate: the installation-interrupted event or the
  // package-ready event.
  void OnObjectSignaled(HANDLE object) override;

  void DoRun();
  // The steps of DoRun that follow the folder checks; false when the run
  // failed (already reported).
  bool CheckFolderAccess(bool admin, bool* write, bool* handed_over);
  void RememberInstallPath();
  bool ReadPackageLists();
  // The uninstallation's first change: the browser of every version folder
  // of the installation (the current one and those an update kept) moved
  // aside, refused while one of them runs. A running program can be renamed
  // (and deleted later), which would leave it running from a removed
  // installation whose uninstaller is gone. False when the run failed
  // (already reported).
  bool RemoveBrowsersUnlessRunning();
  bool CreateVersionSubfolder();
  void ApplyInstallerExperiments();
  // The step list of |operation|: the test's binder's when one is set.
  StepList MakeStepList(int32_t operation);
  // Runs the list of the operation from its start.
  void StartSteps(StepList steps, bool report_total, int extra_steps);
  // Maps an elevation result to the run's end.
  void FinishElevatedRun(int result);
  // Runs a posted step or continuation (bound to the run's weak reference).
  void RunStep(base::Closure step);
  void EndRun();
  void OnPackageReady();

  // Where every task is posted.
  base::MessageLoop* const message_loop_;
  base::SharedRef<base::OrderedTaskRunner> task_runner_;
  // The install folder's access list as it was before this run granted
  // itself access; restored when the run ends.
  bool has_saved_permissions_ = false;
  SavedPermissions saved_permissions_;
  Transaction transaction_;
  base::ObserverList<InstallerDelegate> observers_;
  base::FilePath own_folder_;
  std::vector<std::string> files_list_;
  // How the files list reaches the version folder (moves or copies).
  PackageFilePlacement package_placement_;
  std::vector<std::string> root_files_list_;
  InstallLog install_log_;
  // The versions an update kept, as the uninstallation read them before its
  // first change; taken by the step that removes them.
  std::optional<std::vector<PreservedGeneration>> preserved_generations_;
  // The uninstall key chosen by the registry step.
  std::wstring registry_key_name_;
  bool running_ = false;
  bool success_ = false;
  bool run_started_ = false;
  // The run's outcome was reported (no run yet counts as reported).
  bool reported_ = true;
  // Set by the registry step while the values it writes are to be recorded.
  bool install_log_recording_ = false;
  // Signalled when the run ends; the folder-permission process then puts the
  // folder's old access list back.
  base::win::ScopedHandle folder_permission_undo_event_;
  base::ProcessId second_installer_pid_ = 0;
  base::win::ScopedHandle package_ready_event_;
  base::ObjectWatcher package_ready_watcher_;
  base::win::ScopedHandle interrupted_event_;
  base::ObjectWatcher interrupted_watcher_;
  bool post_elevation_ = false;
  StepList steps_;
  size_t next_step_ = 0;
  bool launcher_valid_ = false;
  // How long a component's installer may run before it is ended and the
  // component skipped.
  base::TimeSpan component_installer_timeout_ = kComponentInstallerTimeout;
  bool launcher_not_x86_ = false;
  Settings* settings_ = nullptr;
  BackendCommandLine own_command_line_;
  StepListBinder step_list_binder_;

  // Invalidated when a run ends, so that nothing posted for it runs later.
  base::WeakRefFactory<Installer> run_weak_factory_{this};
  base::WeakRefFactory<Installer> weak_factory_{this};
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_INSTALLER_H_
