// The controller in an executable that lacks the window's dialog templates:
// the window cannot be made, and the run must still end (unsuccessfully)
// rather than wait for clicks on a window that does not exist.
#include <windows.h>

#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "base/threading/message_loop.h"
#include "base/values.h"
#include "base/win/scoped_com.h"
#include "desktop/windows/installer/settings.h"
#include "desktop/windows/installer/settings_test_support.h"
#include "desktop/windows/installer/ui/installer_resource_ids.h"
#include "desktop/windows/installer/ui/installer_ui_controller.h"
#include "desktop/windows/installer/ui/installer_ui_lock.h"
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

}  // namespace
}  // namespace installer
