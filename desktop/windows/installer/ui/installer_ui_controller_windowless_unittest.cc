// The controller in an executable that lacks the window's dialog templates:
// the window cannot be made, and the run must still end (unsuccessfully)
// rather than wait for clicks on a window that does not exist. And the
// controller without any window, its delegate calls made directly: which
// error it keeps, and how it sends its statistics.
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "base/threading/loop_runner.h"
#include "base/threading/message_loop.h"
#include "base/values.h"
#include "base/win/scoped_com.h"
#include "desktop/windows/installer/installer_status.h"
#include "desktop/windows/installer/package_fetcher/package_fetcher_delegate.h"
#include "desktop/windows/installer/service/authenticode_test_fixtures.h"
#include "desktop/windows/installer/settings.h"
#include "desktop/windows/installer/settings_test_support.h"
#include "desktop/windows/installer/ui/installer_resource_ids.h"
#include "desktop/windows/installer/ui/installer_ui_controller.h"
#include "desktop/windows/installer/ui/installer_ui_lock.h"
#include "desktop/windows/installer/wininet/wininet.h"
#include "desktop/windows/rc_l10n_handler/installer_string_ids.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

TEST(InstallerUIControllerWindowlessTest, RunEndsUnsuccessfullyWhenTheWindowCannotBeMade) {
  if (::FindResourceW(nullptr, MAKEINTRESOURCEW(IDD_INSTALLER_MAIN), RT_DIALOG))
    GTEST_SKIP() << "needs an executable without the window's dialog templates";
  base::win::ScopedComInitializer com;
  base::MessageLoop loop(base::MessageLoop::TYPE_UI);
  test::ScopedSettingsSeams seams("Windowless");
  base::ScopedTempDir temp;
  ASSERT_TRUE(temp.CreateUniqueTempDir());
  Settings settings(test::MakeCommandLine({L"--enable-installer-stats=0"}), false, false, false,
                    temp.GetPath().Append(L"Velmo"), false, false);
  test::WaitForSettingsObtained(&settings);

  InstallerUIController controller;
  EXPECT_FALSE(controller.RunUI(&settings, nullptr, temp.GetPath(), false));
  EXPECT_TRUE(controller.ui_terminated());
  EXPECT_EQ(static_cast<uint32_t>(IDS_ERROR_INSTALL_FAILED), controller.pending_error_id());
  EXPECT_FALSE(base::PathExists(temp.GetPath().Append(kInstallerUILockFileName)));
  int success = -1;
  std::string reason;
  {
    StatsReport& report = controller.stats_report_for_testing();
    base::AutoLock hold(report.lock());
    report.root().GetIntegerWithoutPathExpansion("installation_success", &success);
    report.root().GetStringWithoutPathExpansion("failure_reason", &reason);
  }
  EXPECT_EQ(0, success);
  EXPECT_EQ("Could not initialize installer window", reason);
}

class WindowlessControllerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(temp_.CreateUniqueTempDir());
    settings_ = std::make_unique<Settings>(
        test::MakeCommandLine(
            {stats_enabled_ ? L"--enable-installer-stats=1" : L"--enable-installer-stats=0"}),
        false, false, false, temp_.GetPath().Append(L"Velmo"), false, false);
    test::WaitForSettingsObtained(settings_.get());
  }

  static std::string Reason(InstallerUIController* controller) {
    std::string reason;
    StatsReport& report = controller->stats_report_for_testing();
    base::AutoLock hold(report.lock());
    report.root().GetStringWithoutPathExpansion("failure_reason", &reason);
    return reason;
  }

  base::win::ScopedComInitializer com_;
  base::MessageLoop loop_{base::MessageLoop::TYPE_UI};
  test::ScopedSettingsSeams seams_{"WindowlessController"};
  base::ScopedTempDir temp_;
  bool stats_enabled_ = false;
  std::unique_ptr<Settings> settings_;
};

// A fetcher error after Accept, then the back end's own error (the runner
// was stopped for the first) and its end: the page and the statistics keep
// the first error, and no "unreported" error is made up. The other way
// round, the back end's error stays.
TEST_F(WindowlessControllerTest, TheFirstErrorIsTheOneReported) {
  {
    SCOPED_TRACE("fetcher error first");
    testing::ScopedLogCapture log;
    InstallerUIController controller;
    controller.PrepareWithoutWindowForTesting(settings_.get(), true);
    controller.NotifyStatusChanged(kFetcherResultDownloadFailed);
    controller.OnError(IDS_ERROR_INSTALL_FAILED, std::wstring(), "Back end failed");
    controller.OnInstallerTerminated(false);
    EXPECT_EQ(static_cast<uint32_t>(IDS_ERROR_DOWNLOAD_FAILED), controller.pending_error_id());
    EXPECT_EQ("Fetcher error", Reason(&controller));
    EXPECT_EQ(std::string::npos, log.text().find("Unreported installer error."));
    controller.OnCancel();
    EXPECT_EQ("Fetcher error", Reason(&controller));
  }
  {
    SCOPED_TRACE("back-end error first");
    InstallerUIController controller;
    controller.PrepareWithoutWindowForTesting(settings_.get(), true);
    controller.OnError(IDS_ERROR_INSTALL_FAILED, std::wstring(), "Back end failed");
    controller.NotifyStatusChanged(kFetcherResultUnpackingFailed);
    EXPECT_EQ(static_cast<uint32_t>(IDS_ERROR_INSTALL_FAILED), controller.pending_error_id());
    EXPECT_EQ("Back end failed", Reason(&controller));
  }
}

// Accept clicked while a typed folder's status is read waits for it; a
// folder that cannot be installed into then starts nothing (the window
// shows why) instead of failing the run.
TEST_F(WindowlessControllerTest, AcceptDuringAFolderReadStartsOnlyForAUsableFolder) {
  const base::FilePath file = temp_.GetPath().Append(L"a file");
  ASSERT_EQ(1, base::WriteFileBytes(file, "x", 1));
  InstallerUIController controller;
  controller.PrepareWithoutWindowForTesting(settings_.get(), false);
  settings_->AddObserver(&controller);
  settings_->SetInstallFolder(file);
  ASSERT_TRUE(settings_->IsFetchingStatus());
  controller.OnAccept();
  ASSERT_TRUE(test::WaitForSettingsObtained(settings_.get()));
  base::LoopRunner().RunUntilIdle();
  settings_->RemoveObserver(&controller);
  EXPECT_FALSE(settings_->GetStatus().valid_install_path());
  // No run was started, so none failed.
  EXPECT_FALSE(controller.started());
  EXPECT_EQ("", Reason(&controller));
}

class WindowlessControllerStatsTest : public WindowlessControllerTest {
 protected:
  void SetUp() override {
    stats_enabled_ = true;
    WindowlessControllerTest::SetUp();
  }
};

// The statistics wait for the network only when it has just carried the
// package: after a failed download the user who closed the window must not
// wait for it unseen.
TEST_F(WindowlessControllerStatsTest, StatisticsWaitForTheNetworkOnlyAfterADownload) {
  ASSERT_TRUE(settings_->IsFlagSet(Settings::ENABLE_INSTALLER_STATS));
  // A failure is reported after Accept (before it the fetcher would be
  // restarted); a package ready before it (after it the tracking data would
  // be handled).
  struct Case {
    const char* name;
    bool started;
    std::vector<uint32_t> statuses;
    bool waits;
  };
  const Case cases[] = {
      {"download failed",
       true,
       {kFetcherRequestingDownloadUrl, kFetcherResultDownloadFailed},
       false},
      {"downloaded", false, {kFetcherRequestingDownloadUrl, kFetcherResultPackageReady}, true},
      {"nothing downloaded", false, {kFetcherResultPackageReady}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    InstallerUIController controller;
    controller.PrepareWithoutWindowForTesting(settings_.get(), c.started);
    // The statistics server is refused at once: the sending never starts.
    controller.stats_sender_for_testing().SetUrlForTesting(L"http://127.0.0.1:1/");
    for (uint32_t status : c.statuses)
      controller.NotifyStatusChanged(status);
    controller.OnCancel();
    EXPECT_TRUE(controller.ui_terminated());
    const int retries =
        controller.stats_sender_for_testing().downloader_for_testing().max_retries();
    if (c.waits)
      EXPECT_EQ(WinInetDownloader::kDefaultMaxRetries, retries);
    else
      EXPECT_EQ(2, retries);
  }
}

}  // namespace
}  // namespace installer
