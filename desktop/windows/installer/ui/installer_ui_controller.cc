#include "desktop/windows/installer/ui/installer_ui_controller.h"

#include <shellapi.h>

#include <utility>

#include "base/bind.h"
#include "base/cpu_info.h"
#include "base/files/path_registry.h"
#include "base/logging.h"
#include "base/string_printf.h"
#include "base/threading/current_task_runner.h"
#include "base/time.h"
#include "base/utf_string_conversions.h"
#include "base/win/windows_version.h"
#include "desktop/windows/installer/installer_runner.h"
#include "desktop/windows/installer/installer_status.h"
#include "desktop/windows/installer/network_clients/pref_default_overrides_fetcher.h"
#include "desktop/windows/installer/package_fetcher/package_fetcher.h"
#include "desktop/windows/installer/package_fetcher/package_status.h"
#include "desktop/windows/installer/package_fetcher/payload_reader.h"
#include "desktop/windows/installer/product_config.h"
#include "desktop/windows/installer/service/installation.h"
#include "desktop/windows/installer/service/user_admin.h"
#include "desktop/windows/installer/ui/installer_ui_lock.h"
#include "desktop/windows/installer/ui/win32_dialog_dispatcher.h"
#include "desktop/windows/installer/settings.h"
#include "desktop/windows/rc_l10n_handler/installer_string_ids.h"
#include "desktop/windows/rc_l10n_handler/localized_string.h"

namespace installer {
namespace {

constexpr base::TimeSpan kPendingErrorDelay = base::TimeSpan::FromMilliseconds(100);

constexpr int kStableStream = 4;

}  // namespace

InstallerUIController::InstallerUIController()
    : stats_sender_(this), stats_(stats_sender_.GetRoot()) {}

InstallerUIController::~InstallerUIController() {
  // The members go in reverse order of declaration: the preference
  // overrides fetcher, the runner, the package fetcher, the window, then the
  // statistics and the lock file. The observers must be gone first.
  if (window_)
    window_->RemoveDelegate(this);
  if (runner_)
    runner_->RemoveObserver(this);
  if (settings_)
    settings_->RemoveObserver(this);
}

bool InstallerUIController::RunUI(Settings* settings, PayloadReader* payload,
                                  const base::FilePath& download_folder, bool run_immediately) {
  const DWORD lock_owner = AcquireInstallerUILock(download_folder, &ui_lock_file_);
  if (lock_owner != 0 && lock_owner != ::GetCurrentThreadId()) {
    LOG(INFO) << "Another instance of the installer UI is running. Switching to it";
    ActivateThreadWindow(lock_owner);
    return false;
  }

  settings_ = settings;
  run_immediately_ = run_immediately;
  no_payload_ = payload == nullptr;
  if (payload) {
    stats_.SetString("payload_type", PayloadTypeToString(payload->type()));
    if (payload->type() != kPayloadFullPackage) {
      tracking_data_ = payload->GetTrackingData();
      if (!tracking_data_.empty())
        stats_.SetString("tracking_data", tracking_data_);
    }
    VLOG(1) << "Initializing controller with fetcher.";
    fetcher_ = std::make_unique<PackageFetcher>(download_folder, &stats_, this, this, payload,
                                                settings->IsX64() ? 1u : 0u,
                                                settings->IsFlagSet(Settings::INSTALL_ASSISTANT));
    // The back end finds suite components in the folder they were unpacked
    // into, not in the suite download.
    runner_ = std::make_unique<InstallerRunner>(fetcher_->unpack_folder(),
                                                fetcher_->suite_unpack_folder());
    pref_overrides_fetcher_ =
        std::make_unique<PrefDefaultOverridesFetcher>(fetcher_->unpack_folder(), this);
  } else {
    VLOG(1) << "Initializing controller without fetcher.";
    progress_.SetPhase(InstallerProgress::kPackageReady);
    base::FilePath exe_folder;
    base::PathRegistry::Get(base::kPathExeDirectory, &exe_folder);
    runner_ = std::make_unique<InstallerRunner>(exe_folder, base::FilePath());
    pref_overrides_fetcher_ = std::make_unique<PrefDefaultOverridesFetcher>(exe_folder, this);
  }

  loop_ = std::make_unique<base::LoopRunner>(Win32DialogDispatcher::GetInstance());
  base::CurrentTaskRunner::Get()->PostTask(
      FROM_HERE, base::Bind(&InstallerUIController::Init, weak_factory_.GetWeakRef()));
  loop_->Run();
  LOG(INFO) << "Controller exiting";
  return success_;
}

void InstallerUIController::Init() {
  LOG(INFO) << "Initializing installer UI";
  settings_->AddObserver(this);
  runner_->AddObserver(this);

  window_ = InstallerWindow::Create(settings_, &stats_, run_immediately_);
  if (!window_) {
    OnError(IDS_ERROR_INSTALL_FAILED, std::wstring(), "Could not initialize installer window");
    LOG(ERROR) << "Could not initialize installer window";
    // Nothing could ever end the loop without a window to click: the run
    // ends here, unsuccessful.
    TerminateUI();
    return;
  }
  window_->AddDelegate(this);
  ShowPhaseText();

  if (!base::CpuInfo().has_sse2()) {
    LOG(ERROR) << "SSE2 not supported by the computer";
    window_->ShowFatalMessage(GetLocalizedString(IDS_ERROR_NO_SSE2));
    return;
  }

  if (!no_payload_) {
    VLOG(1) << "Starting the package fetcher";
    fetcher_->Start();
  }

  if (!settings_->IsFetchingStatus()) {
    initial_stats_written_ = true;
    settings_->WriteStats("ui.initial_", &stats_);
  }

  stats_.SetInteger("run_immediately", run_immediately_ ? 1 : 0);
  if (run_immediately_ && !settings_->IsFetchingStatus()) {
    LOG(INFO) << "runimmediately set and status already fetched.";
    base::CurrentTaskRunner::Get()->PostTask(
        FROM_HERE, base::Bind(&InstallerUIController::OnAccept, weak_factory_.GetWeakRef()));
  }
}

void InstallerUIController::OnSettingsObtained() {
  VLOG(2) << "New status obtained";
  if (progress_.phase() == InstallerProgress::kInstalling && tracking_data_.empty()) {
    // The tracking data came from the previous folder's installation.
    VLOG(2) << "Need to handle tracking data from new path";
    progress_.SetPhase(InstallerProgress::kPackageReady);
  }
  if (!run_immediately_ && accept_pending_ && !settings_->GetStatus().valid_install_path()) {
    // Accept was clicked for the folder whose status was still being read:
    // the window now shows why it cannot be used, and Accept waits for
    // another folder.
    LOG(WARNING) << "Accept was clicked for a folder that cannot be installed into; not starting";
    accept_pending_ = false;
  } else if (run_immediately_ || accept_pending_) {
    VLOG(1) << "runimmediately set or Accept already clicked";
    accept_pending_ = false;
    base::CurrentTaskRunner::Get()->PostTask(
        FROM_HERE, base::Bind(&InstallerUIController::OnAccept, weak_factory_.GetWeakRef()));
  }
  if (!initial_stats_written_) {
    initial_stats_written_ = true;
    settings_->WriteStats("ui.initial_", &stats_);
  }
}

void InstallerUIController::OnAccept() {
  LOG(INFO) << "Accept clicked.";
  if (started_) {
    LOG(WARNING) << "Installation already in progress.";
    return;
  }
  if (settings_->IsFetchingStatus()) {
    VLOG(1) << "Still waiting for status";
    accept_pending_ = true;
    return;
  }
  if (progress_.phase() == InstallerProgress::kPackageReady) {
    VLOG(1) << "Tracking data is ready for handling";
    HandleTrackingData();
  }
  settings_->RemoveObserver(this);
  settings_->WriteStats("", &stats_);

  if (base::win::GetWindowsVersion() < base::win::VERSION_WIN7) {
    if (window_) {
      window_->ShowError(
          GetLocalizedStringWithReplacement(IDS_ERROR_UNSUPPORTED_OS,
                                            GetLocalizedString(IDS_BUTTON_GET_FULL_INSTALLER)),
          true,
          "This version of Velmo doesn't support windows versions prior to "
          "Windows 7");
    }
    return;
  }

  started_ = true;
  if (pending_error_) {
    VLOG(1) << "An error is pending. Show it first.";
    HandlePendingError();
    return;
  }
  if (!runner_->Start(settings_)) {
    VLOG(1) << "Failed to run the backend. Show whatever error was reported";
    HandlePendingError();
    return;
  }
  if (stored_fetcher_request_) {
    VLOG(1) << "Running pending fetcher callback.";
    base::Closure request = std::move(stored_fetcher_request_);
    stored_fetcher_request_ = base::Closure();
    request.Run();
  }
  if (fetcher_failed_) {
    VLOG(1) << "Restarting fetching after background tries failed.";
    RestartFetcher();
  }
  if (window_) {
    window_->ShowProgress(progress_.GetWeightedProgress(),
                          InstallerProgress::GetTotalProgressWeight(), false);
    ShowPhaseText();
  }
}

void InstallerUIController::RestartFetcher() {
  fetcher_failed_ = false;
  progress_.SetPhase(InstallerProgress::kWaiting);
  fetcher_->Start();
}

void InstallerUIController::OnCancel() {
  stats_.SetInteger("installation_cancelled", 1);
  TerminateUI();
}

void InstallerUIController::OnGetFullPackage() {
  LOG(INFO) << "Obtaining full package";
  std::string url = GetProductUrl("download_full_windows");
  if (GetBuildStream() != kStableStream)
    url +=
        base::FormatString("&product=%s%%20%s", GetProductName().c_str(), GetStreamName().c_str());
  const std::wstring wide_url = base::UTF8ToWide(url);

  // A browser of ours that is the default one may be the very installation
  // that is broken: the page then opens in the system's own browser.
  Installation installation(settings_->GetInstallFolder());
  const bool ours_is_default = installation.IsDefaultHandlerFor(L"http", true) ||
                               installation.IsDefaultHandlerFor(L"http", false);

  SHELLEXECUTEINFOW info = {};
  info.cbSize = sizeof(info);
  info.fMask = SEE_MASK_DOENVSUBST;
  info.lpVerb = L"open";
  info.nShow = SW_SHOW;
  if (ours_is_default) {
    LOG(INFO) << "Downloading full package with IE";
    info.lpFile = L"%ProgramFiles%\\Internet Explorer\\iexplore.exe";
    info.lpParameters = wide_url.c_str();
  } else {
    LOG(INFO) << "Downloading full package with default browser";
    info.lpFile = wide_url.c_str();
  }
  if (!::ShellExecuteExW(&info))
    PLOG(ERROR) << "Could not open the full installer's download page";

  stats_.SetInteger("installation_cancelled", 2);
  TerminateUI();
}

void InstallerUIController::RunUICallbackAndPostReply(
    UITask ui_task, base::SharedRef<base::TaskRunner> reply_runner, base::Closure reply) {
  LOG(INFO) << "Obtained UI callback request from fetcher";
  if (ui_terminated_) {
    VLOG(1) << "UI has been terminated already.";
    reply_runner->PostTask(FROM_HERE, reply);
    return;
  }
  if (started_ && !pending_error_) {
    VLOG(1) << "Run the callback at once.";
    DoRunUICallbackAndPostReply(std::move(ui_task), std::move(reply_runner), std::move(reply));
    return;
  }
  VLOG(1) << "Store callback information for later.";
  stored_fetcher_request_ =
      base::Bind(&InstallerUIController::DoRunUICallbackAndPostReply, base::Unretained(this),
                 std::move(ui_task), std::move(reply_runner), std::move(reply));
}

void InstallerUIController::DoRunUICallbackAndPostReply(
    UITask ui_task, base::SharedRef<base::TaskRunner> reply_runner, base::Closure reply) {
  ui_task.Run(window_ ? window_->GetHandle() : nullptr);
  reply_runner->PostTask(FROM_HERE, reply);
}

void InstallerUIController::SetTotalProgress(uint32_t total) { progress_.SetTotal(total); }

void InstallerUIController::SetCurrentProgress(uint32_t current) {
  progress_.SetCurrent(current);
  UpdateProgress();
}

void InstallerUIController::NotifyStatusChanged(uint32_t status) {
  switch (status) {
    case kFetcherRequestingDownloadUrl:
      VLOG(2) << "Package will be downloaded.";
      download_needed_ = true;
      progress_.SetPhase(InstallerProgress::kWaiting);
      break;
    case kFetcherDownloadingPackage: progress_.SetPhase(InstallerProgress::kDownloading); break;
    case kFetcherUnpackingPackage: progress_.SetPhase(InstallerProgress::kExtracting); break;
    case kFetcherDownloadingAdditionalFiles:
      progress_.SetPhase(InstallerProgress::kAfterExtraction);
      break;
    case kFetcherResultPackageReady:
      VLOG(1) << "Package fetched successfully.";
      progress_.SetPhase(InstallerProgress::kPackageReady);
      package_ready_ = true;
      if (started_) {
        VLOG(2) << "Got tracking data from status.";
        HandleTrackingData();
      }
      break;
    case kFetcherResultInitializationFailed:
    case kFetcherResultDownloadFailed:
    case kFetcherResultUnpackingFailed:
      VLOG(1) << "Package fetcher failed.";
      if (started_) {
        VLOG(1) << "Reporting fetcher error.";
        // The statistics name the same cause as the window: the first error.
        if (!pending_error_)
          stats_.SetString("failure_reason", "Fetcher error");
        ReportError(status == kFetcherResultUnpackingFailed ? IDS_ERROR_PACKAGE_CORRUPTED
                                                            : IDS_ERROR_DOWNLOAD_FAILED,
                    std::wstring(), "Fetcher error");
        fetcher_failed_ = true;
      } else {
        VLOG(1) << "Installation hasn't started yet";
        if (fetcher_restart_count_ < kMaxFetcherRestarts) {
          ++fetcher_restart_count_;
          LOG(INFO) << "Restarting package fetching, " << fetcher_restart_count_ << " of "
                    << kMaxFetcherRestarts;
          RestartFetcher();
        } else {
          LOG(WARNING) << "Exceeded maximum number of fetcher retries,"
                       << " we won't retry until user decides to.";
          fetcher_failed_ = true;
        }
      }
      break;
    default: break;
  }
  if (window_ && started_)
    ShowPhaseText();
}

void InstallerUIController::HandleTrackingData() {
  std::string tracking_data = tracking_data_;
  if (tracking_data.empty())
    tracking_data = settings_->GetStatus().tracking_data();
  stats_.SetString("tracking_data", tracking_data);
  if (settings_->GetOperation() == Settings::kOperationUninstall) {
    NotifyPhaseChanged();
    return;
  }
  pref_overrides_fetcher_->Fetch(
      tracking_data,
      base::Bind(&InstallerUIController::NotifyPhaseChanged, weak_factory_.GetWeakRef()));
}

void InstallerUIController::NotifyPhaseChanged() {
  VLOG(2) << "Tracking data actions done: package complete.";
  progress_.SetPhase(InstallerProgress::kInstalling);
  runner_->OnPackageReady();
  if (window_ && started_) {
    VLOG(2) << "Notifying installation phase change.";
    ShowPhaseText();
  }
}

void InstallerUIController::UpdateProgress() {
  if (!started_ || !window_)
    return;
  VLOG(2) << "Updating installation progress";
  window_->SetProgressPos(progress_.GetWeightedProgress());
}

void InstallerUIController::ShowPhaseText() { window_->ShowPhaseText(progress_.phase()); }

void InstallerUIController::OnTotalSteps(int total_steps) {
  progress_.SetTotalSteps(total_steps < 0 ? 0u : static_cast<uint32_t>(total_steps));
}

void InstallerUIController::OnStep() {
  progress_.Step();
  UpdateProgress();
}

void InstallerUIController::OnError(int string_id, const std::wstring& text,
                                    const std::string& detail) {
  // The statistics name the same cause as the window: the first error.
  if (!pending_error_)
    stats_.SetString("failure_reason", detail);
  ReportError(static_cast<uint32_t>(string_id), text, detail);
}

void InstallerUIController::ReportError(uint32_t string_id, const std::wstring& replacement,
                                        const std::string& failure_reason) {
  VLOG(1) << "Reporting error " << string_id;
  // The first error is the cause the user is shown. Stopping the runner for
  // it can make a back end that was just starting fail in turn (its events
  // are gone), and that report must not replace the cause with itself.
  if (pending_error_) {
    VLOG(1) << "Keeping the pending error " << pending_error_->string_id;
  } else {
    pending_error_ = std::make_unique<PendingError>();
    pending_error_->string_id = string_id;
    pending_error_->replacement = replacement;
    pending_error_->failure_reason = failure_reason;
  }
  runner_->Stop();
}

void InstallerUIController::OnSuccess() {
  VLOG(1) << "Installer success reported";
  success_ = true;
}

void InstallerUIController::OnInstallerTerminated(bool success) {
  VLOG(1) << "Installer termination reported";
  if (ui_terminated_) {
    VLOG(2) << "UI already terminated";
    return;
  }
  success_ = success;
  if (success) {
    VLOG(1) << "Installer terminated successfully. Finishing.";
    progress_.Complete();
    UpdateProgress();
    TerminateUI();
    return;
  }
  if (!pending_error_) {
    const bool uninstalling = settings_->IsFlagSet(Settings::UNINSTALL_FLAG);
    const char* text =
        uninstalling ? "Unreported uninstaller error." : "Unreported installer error.";
    OnError(uninstalling ? IDS_ERROR_UNINSTALL_FAILED : IDS_ERROR_INSTALL_FAILED, std::wstring(),
            text);
    LOG(ERROR) << text;
  }
  base::CurrentTaskRunner::Get()->PostDelayedTask(
      FROM_HERE, base::Bind(&InstallerUIController::HandlePendingError, weak_factory_.GetWeakRef()),
      kPendingErrorDelay);
}

void InstallerUIController::HandlePendingError() {
  LOG(INFO) << "Handling pending error";
  started_ = false;
  settings_->SetModifiable(true);
  settings_->AddObserver(this);
  if (!pending_error_) {
    // A back end that failed to start without saying why: nothing to show,
    // but the user may accept again.
    LOG(ERROR) << "No pending error to show";
    return;
  }

  const bool default_folder = base::FilePath::CompareEqualIgnoreCase(
      settings_->GetInstallFolder().value(),
      settings_->GetDefaultInstallFolder(Settings::kFromStandardFolder | Settings::kFromRegistry)
          .value());
  const bool writable = settings_->GetStatus().has_write_access();
  if (pending_error_->string_id == IDS_ERROR_ELEVATION_FAILED &&
      settings_->GetOperation() == Settings::kOperationInstall &&
      settings_->IsFlagSet(Settings::ALL_USERS_FLAG) && (default_folder || writable)) {
    LOG(INFO) << "Offering the user to switch to a Current User install";
    settings_->SetAllUsers(false);
    if (default_folder && NeedsElevation(false, writable))
      settings_->SetInstallFolder(
          settings_->GetDefaultInstallFolder(Settings::kFromStandardFolder));
    pending_error_.reset();
    OnAccept();
    return;
  }

  const bool offer_full_package =
      error_shown_before_ && fetcher_ &&
      (progress_.phase() < InstallerProgress::kAfterExtraction || download_needed_);
  error_shown_before_ = true;
  if (window_) {
    window_->ShowError(
        GetLocalizedStringWithReplacement(pending_error_->string_id, pending_error_->replacement),
        offer_full_package, pending_error_->failure_reason);
  }
  pending_error_.reset();
}

void InstallerUIController::TerminateUI() {
  LOG(INFO) << "Terminating the UI";
  if (ui_terminated_) {
    VLOG(2) << "Installer UI already terminated";
    return;
  }
  ui_terminated_ = true;
  if (window_) {
    window_->RemoveDelegate(this);
    // The termination may come from inside the window's own message
    // handling (Cancel, the full-installer button): the window goes once
    // that has returned. Hidden now, so that the user sees the end at once.
    ::ShowWindow(window_->GetHandle(), SW_HIDE);
    closing_window_ = std::move(window_);
    base::CurrentTaskRunner::Get()->PostTask(
        FROM_HERE,
        base::Bind(&InstallerUIController::DeleteClosingWindow, weak_factory_.GetWeakRef()));
  }
  runner_->Stop();
  ui_lock_file_.Reset();

  stats_.SetInteger("installation_success", success_ ? 1 : 0);
  if (success_)
    stats_.Remove("failure_reason");

  if (settings_->IsFlagSet(Settings::ENABLE_INSTALLER_STATS) &&
      !settings_->IsFlagSet(Settings::AUTOUPDATE)) {
    LOG(INFO) << "Sending stats";
    // Waiting for the network pays off only when it has just carried the
    // package: a fetch that failed may have failed for want of one, and the
    // user who closed the window would wait for it unseen.
    stats_sender_.Send(base::Bind(&InstallerUIController::QuitLoop, weak_factory_.GetWeakRef()),
                       download_needed_ && package_ready_);
  } else {
    LOG(INFO) << "Not sending stats";
    QuitLoop();
  }
}

void InstallerUIController::PrepareWithoutWindowForTesting(Settings* settings, bool started) {
  settings_ = settings;
  runner_ = std::make_unique<InstallerRunner>(base::FilePath(), base::FilePath());
  runner_->AddObserver(this);
  started_ = started;
}

void InstallerUIController::DeleteClosingWindow() { closing_window_.reset(); }

void InstallerUIController::QuitLoop() {
  if (loop_)
    loop_->Quit();
}

}  // namespace installer
