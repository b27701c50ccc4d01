#include "desktop/windows/installer/silent_installer_controller.h"

#include "base/bind.h"
#include "base/cpu_info.h"
#include "base/files/path_registry.h"
#include "base/logging.h"
#include "base/threading/current_task_runner.h"
#include "base/threading/task_runner.h"
#include "base/time.h"
#include "base/win/windows_version.h"
#include "desktop/windows/installer/installer_runner.h"
#include "desktop/windows/installer/installer_status.h"
#include "desktop/windows/installer/network_clients/pref_default_overrides_fetcher.h"
#include "desktop/windows/installer/network_clients/stats_sender.h"
#include "desktop/windows/installer/package_fetcher/package_fetcher.h"
#include "desktop/windows/installer/package_fetcher/package_status.h"
#include "desktop/windows/installer/package_fetcher/payload_reader.h"
#include "desktop/windows/installer/service/user_admin.h"
#include "desktop/windows/installer/settings.h"

namespace installer {
namespace {

// A back end that ended without reporting success may still have reports in
// flight; they get this long before the run ends.
constexpr base::TimeSpan kTerminationDelay = base::TimeSpan::FromMilliseconds(1000);

// The folder sources a silent run falls back on when the chosen folder would
// need elevation: the standard folder and the command line's.
constexpr uint32_t kNoElevationFolderSources =
    Settings::kFromStandardFolder | Settings::kFromCommandLine;

// A back end told to stop after the package failed ends within moments; the
// run does not wait for it longer than this.
constexpr base::TimeSpan kBackendEndWait = base::TimeSpan::FromSeconds(30);

// The package server's architecture code of the settings.
uint32_t ArchitectureOf(const Settings& settings) { return settings.IsX64() ? 1 : 0; }

}  // namespace

SilentInstallerController::SilentInstallerController() = default;

SilentInstallerController::~SilentInstallerController() {
  overrides_fetcher_.reset();
  runner_.reset();
  fetcher_.reset();
  stats_root_.reset();
  stats_sender_.reset();
}

bool SilentInstallerController::Run(Settings* settings, PayloadReader* payload,
                                    const base::FilePath& folder) {
  CHECK(settings) << "Run without settings";
  CHECK(!settings_) << "The silent controller runs once";
  settings_ = settings;
  settings_->AddObserver(this);
  stats_sender_ = std::make_unique<StatsSender>(this);
  stats_root_ = std::make_unique<StatsNode>(stats_sender_->GetRoot());

  if (payload) {
    stats_root_->SetString("payload_type", PayloadTypeToString(payload->type()));
    if (payload->type() != kPayloadFullPackage) {
      tracking_data_ = payload->GetTrackingData();
      if (!tracking_data_.empty())
        stats_root_->SetString("tracking_data", tracking_data_);
    }
    VLOG(1) << "Initializing controller with fetcher.";
    fetcher_ = std::make_unique<PackageFetcher>(folder, stats_root_.get(), this, this, payload,
                                                ArchitectureOf(*settings),
                                                settings->IsFlagSet(Settings::INSTALL_ASSISTANT));
    // The downloads keep their full retries: a silent run on an unstable
    // network must survive it like an interactive one.
    fetcher_->Start();
    runner_ = std::make_unique<InstallerRunner>(fetcher_->unpack_folder(),
                                                fetcher_->suite_unpack_folder());
    overrides_fetcher_ =
        std::make_unique<PrefDefaultOverridesFetcher>(fetcher_->unpack_folder(), this);
  } else {
    VLOG(1) << "Initializing controller without fetcher.";
    base::FilePath package_folder;
    if (!base::PathRegistry::Get(base::kPathExeDirectory, &package_folder))
      LOG(ERROR) << "Cannot find own dir";
    runner_ = std::make_unique<InstallerRunner>(package_folder, base::FilePath());
    package_present_ = true;
    overrides_fetcher_ = std::make_unique<PrefDefaultOverridesFetcher>(package_folder, this);
  }
  runner_->AddObserver(this);

  if (!settings_->IsFetchingStatus()) {
    VLOG(1) << "Settings already obtained. Starting.";
    base::CurrentTaskRunner::Get()->PostTask(
        FROM_HERE,
        base::Bind(&SilentInstallerController::StartInstallation, weak_factory_.GetWeakRef()));
  }

  loop_runner_.Run();

  LOG(INFO) << "Controller exiting";
  runner_->RemoveObserver(this);
  settings_->RemoveObserver(this);
  return result_;
}

void SilentInstallerController::OnSettingsObtained() {
  // A run that has begun (or ended) keeps its folder: the settings are
  // frozen once the runner holds them.
  if (installation_started_ || terminated_)
    return;
  if (!settings_->IsFlagSet(Settings::AUTOUPDATE) &&
      NeedsElevation(settings_->IsFlagSet(Settings::ALL_USERS_FLAG),
                     settings_->GetStatus().has_write_access())) {
    const base::FilePath fallback = settings_->GetDefaultInstallFolder(kNoElevationFolderSources);
    if (!fallback.empty() && fallback != settings_->GetInstallFolder()) {
      // Nobody can be asked for elevation: the default folder is read
      // instead, and its status notifies again.
      LOG(INFO) << "The install folder needs elevation; using " << fallback;
      settings_->SetInstallFolderFromString(fallback.value());
      return;
    }
  }
  VLOG(1) << "Settings obtained. Starting.";
  StartInstallation();
}

void SilentInstallerController::StartInstallation() {
  if (installation_started_ || terminated_)
    return;
  installation_started_ = true;
  settings_->WriteStats(std::string(), stats_root_.get());

  if (base::win::WindowsVersionInfo::GetInstance()->version() < base::win::VERSION_WIN7) {
    LOG(ERROR) << "This version of Velmo doesn't support windows versions "
               << "prior to Windows 7";
    Terminate();
    return;
  }
  if (!base::CpuInfo().has_sse2()) {
    LOG(ERROR) << "SSE2 not supported by the computer";
    Terminate();
    return;
  }
  if (package_present_) {
    VLOG(1) << "Got tracking data from package.";
    DoTrackingDataActions();
  }
  if (fetcher_ && !package_present_ && !package_checked_) {
    VLOG(1) << "The installer is launched once the package has passed its first check.";
    launch_pending_ = true;
    return;
  }
  LaunchBackend();
}

void SilentInstallerController::LaunchBackend() {
  launch_pending_ = false;
  VLOG(1) << "Preparing to run the installer.";
  // A refusal has been reported to this controller as OnError, which
  // terminates the run.
  if (!runner_->Start(settings_))
    Terminate();
}

void SilentInstallerController::OnPackageChecked() {
  package_checked_ = true;
  if (launch_pending_ && !terminated_)
    LaunchBackend();
}

void SilentInstallerController::DoTrackingDataActions() {
  std::string tracking_data = tracking_data_;
  if (tracking_data.empty())
    tracking_data = settings_->GetStatus().tracking_data();
  stats_root_->SetString("tracking_data", tracking_data);
  if (settings_->GetOperation() == Settings::kOperationUninstall) {
    OnPackageComplete();
    return;
  }
  overrides_fetcher_->Fetch(tracking_data, base::Bind(&SilentInstallerController::OnPackageComplete,
                                                      weak_factory_.GetWeakRef()));
}

void SilentInstallerController::OnPackageComplete() {
  VLOG(1) << "Tracking data actions done: package complete.";
  runner_->OnPackageReady();
}

void SilentInstallerController::RunUICallbackAndPostReply(
    UITask /*ui_task*/, base::SharedRef<base::TaskRunner> reply_runner, base::Closure reply) {
  LOG(ERROR) << "Cannot display UI requested by fetcher when running silently";
  reply_runner->PostTask(FROM_HERE, std::move(reply));
}

void SilentInstallerController::SetTotalProgress(uint32_t /*total*/) {
  // While unpacking, the total is the extractor's number of entries, given
  // once the archive passed its checks and before anything is written.
  if (unpacking_ && !package_checked_)
    OnPackageChecked();
}

void SilentInstallerController::SetCurrentProgress(uint32_t /*current*/) {}

void SilentInstallerController::NotifyStalled() {}

void SilentInstallerController::NotifyStatusChanged(uint32_t status) {
  switch (status) {
    case kFetcherRequestingDownloadUrl:
      VLOG(2) << "Package will be downloaded.";
      package_downloaded_ = true;
      break;
    case kFetcherUnpackingPackage: unpacking_ = true; break;
    case kFetcherDownloadingAdditionalFiles:
      unpacking_ = false;
      if (!package_checked_)
        OnPackageChecked();
      break;
    case kFetcherResultPackageReady:
      VLOG(1) << "Package fetched successfully.";
      unpacking_ = false;
      if (!package_checked_)
        OnPackageChecked();
      package_present_ = true;
      if (installation_started_ && !terminated_) {
        VLOG(2) << "Got tracking data from status.";
        DoTrackingDataActions();
      }
      break;
    case kFetcherResultInitializationFailed:
    case kFetcherResultDownloadFailed:
    case kFetcherResultUnpackingFailed:
      // A silent run has nobody to ask whether to try again.
      VLOG(1) << "Package fetcher failed.";
      unpacking_ = false;
      launch_pending_ = false;
      stats_root_->SetString("failure_reason", "Fetcher error");
      if (runner_->backend_running() && !terminated_) {
        // The back end waits for a package that will not come: it is told
        // to stop, and the run ends after it, so that nothing of it
        // outlasts the run.
        VLOG(1) << "Stopping the installer back end before the run ends.";
        waiting_for_backend_ = true;
        runner_->Stop();
        base::CurrentTaskRunner::Get()->PostDelayedTask(
            FROM_HERE,
            base::Bind(&SilentInstallerController::Terminate, weak_factory_.GetWeakRef()),
            kBackendEndWait);
        break;
      }
      Terminate();
      break;
    default: break;
  }
}

void SilentInstallerController::OnInstallFolderReady() {}

void SilentInstallerController::OnStartingNewMainProcess(bool /*value*/) {}

void SilentInstallerController::OnReturnedToPreviousMainProcess() {}

void SilentInstallerController::OnTotalSteps(int /*total_steps*/) {}

void SilentInstallerController::OnStep() {}

void SilentInstallerController::OnError(int /*string_id*/, const std::wstring& /*text*/,
                                        const std::string& detail) {
  stats_root_->SetString("failure_reason", detail);
  VLOG(2) << "Installer error: terminating";
  Terminate();
}

void SilentInstallerController::OnSuccess() {
  VLOG(2) << "Installer succeeded: terminating";
  result_ = true;
  Terminate();
}

void SilentInstallerController::OnInstallerTerminated(bool success) {
  if (waiting_for_backend_) {
    VLOG(1) << "The installer back end has ended.";
    Terminate();
    return;
  }
  result_ = success;
  VLOG(2) << "Installer ended. Success is " << success << ". terminating";
  base::CurrentTaskRunner::Get()->PostDelayedTask(
      FROM_HERE, base::Bind(&SilentInstallerController::Terminate, weak_factory_.GetWeakRef()),
      kTerminationDelay);
}

void SilentInstallerController::Terminate() {
  if (terminated_) {
    VLOG(2) << "Termination already done.";
    return;
  }
  terminated_ = true;
  stats_root_->SetInteger("installation_success", result_ ? 1 : 0);
  const bool autoupdate = settings_->IsFlagSet(Settings::AUTOUPDATE);
  if (settings_->IsFlagSet(Settings::ENABLE_INSTALLER_STATS) && (!autoupdate || !result_)) {
    LOG(INFO) << "Sending stats";
    // Waiting for the network pays off only when it has just carried the
    // package: a fetch that failed may have failed for want of one. Send runs
    // the quit closure itself when the request cannot start.
    stats_sender_->Send(loop_runner_.QuitClosure(), package_downloaded_ && package_present_);
  } else {
    LOG(INFO) << "Not sending stats";
    loop_runner_.Quit();
  }
}

bool RunSilentInstaller(Settings* settings, PayloadReader* payload, const base::FilePath& folder) {
  SilentInstallerController controller;
  return controller.Run(settings, payload, folder);
}

}  // namespace installer
