// InstallerUIController: the interactive installer in the front-end
// process. It takes the single-instance lock of the interface, shows the
// InstallerWindow, starts the PackageFetcher and, once the user accepts,
// the InstallerRunner; it folds the fetcher's and the back end's progress
// into one bar, shows errors with a way to try again, and sends the run's
// statistics when it ends. Everything happens on the main thread's UI loop.
//
//   InstallerUIController controller;
//   bool ok = controller.RunUI(&settings, payload, download_folder, false);
#ifndef DESKTOP_WINDOWS_INSTALLER_UI_INSTALLER_UI_CONTROLLER_H_
#define DESKTOP_WINDOWS_INSTALLER_UI_INSTALLER_UI_CONTROLLER_H_

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

#include "base/callback.h"
#include "base/files/file_path.h"
#include "base/threading/loop_runner.h"
#include "base/weak_ref.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/ipc/installer_delegate.h"
#include "desktop/windows/installer/network_clients/stats_sender.h"
#include "desktop/windows/installer/package_fetcher/package_fetcher_delegate.h"
#include "desktop/windows/installer/settings_observer.h"
#include "desktop/windows/installer/stats_node.h"
#include "desktop/windows/installer/ui/installer_progress.h"
#include "desktop/windows/installer/ui/installer_window.h"
#include "desktop/windows/installer/ui/installer_window_delegate.h"

namespace installer {

class InstallerRunner;
class PackageFetcher;
class PayloadReader;
class PrefDefaultOverridesFetcher;
class Settings;

class InstallerUIController : public SettingsObserver,
                              public InstallerWindowDelegate,
                              public FetcherUIDelegate,
                              public PackageFetcherDelegate,
                              public InstallerDelegate {
 public:
  // How many times a failed fetch is started again before the user has
  // accepted.
  static constexpr int kMaxFetcherRestarts = 3;

  InstallerUIController();
  InstallerUIController(const InstallerUIController&) = delete;
  InstallerUIController& operator=(const InstallerUIController&) = delete;
  ~InstallerUIController() override;

  // The whole interactive run; true only when the back end reported
  // success. False at once when another instance owns the interface of
  // |download_folder| (its window comes forward). |payload| (may be null:
  // the installer runs from an unpacked package) must outlive the call.
  bool RunUI(Settings* settings, PayloadReader* payload, const base::FilePath& download_folder,
             bool run_immediately);

  // SettingsObserver: the install folder's status has been read.
  void OnSettingsObtained() override;

  // InstallerWindowDelegate:
  void OnAccept() override;
  void OnCancel() override;
  void OnGetFullPackage() override;

  // FetcherUIDelegate:
  void RunUICallbackAndPostReply(UITask ui_task, base::SharedRef<base::TaskRunner> reply_runner,
                                 base::Closure reply) override;

  // PackageFetcherDelegate:
  void SetTotalProgress(uint32_t total) override;
  void SetCurrentProgress(uint32_t current) override;
  void NotifyStalled() override {}
  void NotifyStatusChanged(uint32_t status) override;

  // InstallerDelegate:
  void OnInstallFolderReady() override {}
  void OnStartingNewMainProcess(bool) override {}
  void OnReturnedToPreviousMainProcess() override {}
  void OnTotalSteps(int total_steps) override;
  void OnStep() override;
  void OnError(int string_id, const std::wstring& text, const std::string& detail) override;
  void OnSuccess() override;
  void OnInstallerTerminated(bool success) override;

  // Tests.
  const InstallerProgress& progress() const { return progress_; }
  int fetcher_restart_count() const { return fetcher_restart_count_; }
  bool started() const { return started_; }
  bool fetcher_failed() const { return fetcher_failed_; }
  bool ui_terminated() const { return ui_terminated_; }
  // The string id of the error waiting to be shown, 0 when none is.
  uint32_t pending_error_id() const { return pending_error_ ? pending_error_->string_id : 0; }
  StatsReport& stats_report_for_testing() { return stats_sender_.report_for_testing(); }
  StatsSender& stats_sender_for_testing() { return stats_sender_; }
  // A controller without a window, a fetcher or a loop, whose delegate
  // calls are then made directly: before Accept, or (|started|) as after an
  // Accept that started the back end.
  void PrepareWithoutWindowForTesting(Settings* settings, bool started);

 private:
  struct PendingError {
    uint32_t string_id = 0;
    std::wstring replacement;
    std::string failure_reason;
  };

  void Init();
  void HandleTrackingData();
  void NotifyPhaseChanged();
  void UpdateProgress();
  void ShowPhaseText();
  void ReportError(uint32_t string_id, const std::wstring& replacement,
                   const std::string& failure_reason);
  void HandlePendingError();
  void DoRunUICallbackAndPostReply(UITask ui_task, base::SharedRef<base::TaskRunner> reply_runner,
                                   base::Closure reply);
  void RestartFetcher();
  void TerminateUI();
  void DeleteClosingWindow();
  void QuitLoop();

  Settings* settings_ = nullptr;
  std::unique_ptr<base::LoopRunner> loop_;
  std::string tracking_data_;
  base::Closure stored_fetcher_request_;
  std::unique_ptr<PendingError> pending_error_;
  InstallerProgress progress_;

  bool started_ = false;
  bool fetcher_failed_ = false;
  bool run_immediately_ = false;
  bool no_payload_ = false;
  bool download_needed_ = false;
  // The fetcher has reported the package ready (it stays so).
  bool package_ready_ = false;
  bool error_shown_before_ = false;
  bool accept_pending_ = false;
  bool initial_stats_written_ = false;
  bool success_ = false;
  bool ui_terminated_ = false;
  int fetcher_restart_count_ = 0;

  base::win::ScopedHandle ui_lock_file_;
  // Declared before everything that records into its report, so that it
  // goes last.
  StatsSender stats_sender_;
  StatsNode stats_;
  std::unique_ptr<InstallerWindow> window_;
  // The window after TerminateUI, until the message that ended the UI has
  // been handled.
  std::unique_ptr<InstallerWindow> closing_window_;
  std::unique_ptr<PackageFetcher> fetcher_;
  std::unique_ptr<InstallerRunner> runner_;
  std::unique_ptr<PrefDefaultOverridesFetcher> pref_overrides_fetcher_;

  base::WeakRefFactory<InstallerUIController> weak_factory_{this};
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_UI_INSTALLER_UI_CONTROLLER_H_
