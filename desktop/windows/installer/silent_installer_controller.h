// SilentInstallerController: an installation, upgrade or uninstallation with
// no window at all, for "silent" runs and autoupdates. It obtains the
// package (through the package fetcher, or beside the running executable),
// starts the installer runner once both the settings and the package are
// ready, records the run's statistics and sends them when allowed.
//
//   SilentInstallerController controller;   // after the thread's MessageLoop
//   bool success = controller.Run(settings, payload, download_folder);
//
// Main thread only: the fetcher's and the runner's reports arrive as posted
// tasks.
#ifndef DESKTOP_WINDOWS_INSTALLER_SILENT_INSTALLER_CONTROLLER_H_
#define DESKTOP_WINDOWS_INSTALLER_SILENT_INSTALLER_CONTROLLER_H_

#include <memory>
#include <string>

#include "base/files/file_path.h"
#include "base/threading/loop_runner.h"
#include "base/weak_ref.h"
#include "desktop/windows/installer/installer_delegate.h"
#include "desktop/windows/installer/package_fetcher/package_fetcher_delegate.h"
#include "desktop/windows/installer/settings_observer.h"
#include "desktop/windows/installer/stats_node.h"

namespace installer {

class InstallerRunner;
class PackageFetcher;
class PayloadReader;
class PrefDefaultOverridesFetcher;
class Settings;
class StatsSender;

class SilentInstallerController : public SettingsObserver,
                                  public FetcherUIDelegate,
                                  public PackageFetcherDelegate,
                                  public InstallerDelegate {
 public:
  // Needs the calling thread's MessageLoop.
  SilentInstallerController();
  SilentInstallerController(const SilentInstallerController&) = delete;
  SilentInstallerController& operator=(const SilentInstallerController&) = delete;
  // Removes what the fetcher wrote into its folder.
  ~SilentInstallerController() override;

  // The whole run over |settings| (not owned). Without |payload| the package
  // lies beside the running executable; |folder| is the fetcher's working
  // folder. Returns whether the installation succeeded. Once per object.
  bool Run(Settings* settings, PayloadReader* payload, const base::FilePath& folder);

  // SettingsObserver:
  void OnSettingsObtained() override;

  // FetcherUIDelegate: a silent run shows nothing, so every request is
  // refused; the reply still goes out so that the requester ends.
  void RunUICallbackAndPostReply(UITask ui_task, base::SharedRef<base::TaskRunner> reply_runner,
                                 base::Closure reply) override;

  // PackageFetcherDelegate:
  void SetTotalProgress(uint32_t total) override;
  void SetCurrentProgress(uint32_t current) override;
  void NotifyStalled() override;
  void NotifyStatusChanged(uint32_t status) override;

  // InstallerDelegate:
  void OnInstallFolderReady() override;
  void OnStartingNewMainProcess(bool value) override;
  void OnReturnedToPreviousMainProcess() override;
  void OnTotalSteps(int total_steps) override;
  void OnStep() override;
  void OnError(int string_id, const std::wstring& text, const std::string& detail) override;
  void OnSuccess() override;
  void OnInstallerTerminated(bool success) override;

  // Tests.
  StatsSender* stats_sender_for_testing() { return stats_sender_.get(); }
  InstallerRunner* runner_for_testing() { return runner_.get(); }
  bool terminated_for_testing() const { return terminated_; }

 private:
  void StartInstallation();
  // Launches the back end through the runner.
  void LaunchBackend();
  // The package passed its first check (its archive opened and its entries
  // were accepted): a launch that waited for that happens now.
  void OnPackageChecked();
  // Hands the tracking data to the overrides fetcher (not for an
  // uninstallation), then tells the runner that the package is complete.
  void DoTrackingDataActions();
  void OnPackageComplete();
  // Records the result, sends the statistics when allowed and ends the run
  // once they are sent. Only the first call counts.
  void Terminate();

  base::LoopRunner loop_runner_;
  bool result_ = false;
  bool terminated_ = false;
  bool package_downloaded_ = false;
  bool package_present_ = false;
  // StartInstallation has run: a package that becomes ready later is handed
  // on at once, one that was ready is handed on by StartInstallation.
  bool installation_started_ = false;
  // The back end is launched only once the package has passed its first
  // check, so that a package refused at once never starts one.
  bool package_checked_ = false;
  bool launch_pending_ = false;
  // The fetcher is unpacking: its next total is the number of entries of
  // an archive that passed its checks.
  bool unpacking_ = false;
  // The package failed while a back end was running: the run ends once
  // the back end has.
  bool waiting_for_backend_ = false;
  std::string tracking_data_;
  Settings* settings_ = nullptr;
  std::unique_ptr<StatsSender> stats_sender_;
  std::unique_ptr<StatsNode> stats_root_;
  // Destroyed in reverse order: the overrides fetcher first, the package
  // fetcher (which cleans its folder) last.
  std::unique_ptr<PackageFetcher> fetcher_;
  std::unique_ptr<InstallerRunner> runner_;
  std::unique_ptr<PrefDefaultOverridesFetcher> overrides_fetcher_;
  base::WeakRefFactory<SilentInstallerController> weak_factory_{this};
};

// The silent role of RunInstaller: runs a SilentInstallerController and
// gives its result.
bool RunSilentInstaller(Settings* settings, PayloadReader* payload, const base::FilePath& folder);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SILENT_INSTALLER_CONTROLLER_H_
