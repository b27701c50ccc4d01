// The interactive installer as a user meets it: the real installer
// executable runs as a process of its own, and the test drives its window
// only from outside, through messages to its controls.
#include "desktop/windows/installer/ui/installer_ui_controller.h"

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "base/files/file_util.h"
#include "base/process.h"
#include "desktop/windows/installer/ui/installer_resource_ids.h"
#include "desktop/windows/installer/ui/installer_ui_interactive_test_support.h"
#include "desktop/windows/installer/ui/installer_ui_lock.h"
#include "desktop/windows/rc_l10n_handler/installer_string_ids.h"
#include "desktop/windows/rc_l10n_handler/localized_string.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

using test::InstallerUIDriver;

using InteractiveInstallerTest = test::InteractiveInstallerTest;

TEST_F(InteractiveInstallerTest, CancelAsksFirstAndOptionsSwitchToGerman) {
  const base::Process& installer = Start({});
  InstallerUIDriver driver(installer.Pid());
  ASSERT_TRUE(driver.WaitForWindow());
  EXPECT_TRUE(driver.Visible(IDC_ACCEPT_BUTTON));
  EXPECT_TRUE(driver.Visible(IDC_OPTIONS_BUTTON));

  // No keeps the installer running.
  CloseAndAnswer(&driver, IDNO);
  int exit_code = 0;
  EXPECT_FALSE(installer.WaitForExitWithTimeout(1000, &exit_code));
  EXPECT_TRUE(::IsWindowVisible(driver.window()));

  driver.Click(IDC_OPTIONS_BUTTON);
  ASSERT_TRUE(InstallerUIDriver::WaitUntil([&] { return driver.Visible(IDC_LANGUAGE_COMBO); }));
  EXPECT_FALSE(driver.Visible(IDC_OPTIONS_BUTTON));
  const int german =
      driver.FindItem(IDC_LANGUAGE_COMBO, GetLocalizedStringForLanguage(L"de", IDS_LANGUAGE_NAME));
  ASSERT_GE(german, 0);
  driver.Choose(IDC_LANGUAGE_COMBO, german);
  const std::pair<int, int> texts[] = {
      {IDC_BACK_BUTTON, IDS_BUTTON_BACK},
      {IDC_LANGUAGE_LABEL, IDS_LABEL_LANGUAGE},
      {IDC_MODE_LABEL, IDS_LABEL_INSTALL_FOR},
      {IDC_INSTALL_PATH_LABEL, IDS_LABEL_INSTALL_PATH},
      {IDC_BROWSE_BUTTON, IDS_BUTTON_CHANGE_PATH},
      {IDC_IMPORT_DATA_CHECK, IDS_CHECKBOX_IMPORT_DATA},
      {IDC_SHARE_USAGE_CHECK, IDS_CHECKBOX_SHARE_USAGE_DATA},
  };
  EXPECT_TRUE(InstallerUIDriver::WaitUntil([&] {
    return driver.Text(IDC_BACK_BUTTON) == GetLocalizedStringForLanguage(L"de", IDS_BUTTON_BACK);
  }));
  for (const auto& [control, string_id] : texts)
    EXPECT_EQ(GetLocalizedStringForLanguage(L"de", string_id), driver.Text(control)) << control;
  EXPECT_EQ(GetLocalizedStringForLanguage(L"de", IDS_INSTALLER_CAPTION),
            InstallerUIDriver::WindowText(driver.window()));
  // The Accept button reads one of the two German accept texts.
  const std::wstring accept = driver.Text(IDC_ACCEPT_BUTTON);
  EXPECT_TRUE(accept == GetLocalizedStringForLanguage(L"de", IDS_BUTTON_ACCEPT_AND_INSTALL) ||
              accept == GetLocalizedStringForLanguage(L"de", IDS_BUTTON_ACCEPT_AND_UPGRADE));

  // The question comes in German too, and Yes ends the run unsuccessfully.
  driver.Close();
  HWND box = driver.WaitForMessageBox();
  ASSERT_TRUE(box);
  EXPECT_EQ(GetLocalizedStringForLanguage(L"de", IDS_BUTTON_YES),
            InstallerUIDriver::WindowText(::GetDlgItem(box, IDYES)));
  InstallerUIDriver::Answer(box, IDYES);
  EXPECT_EQ(1, WaitForExit(installer)) << LogTails();
  EXPECT_TRUE(LogsContain("Terminating the UI"));
  EXPECT_TRUE(LogsContain("Controller exiting"));
  // The lock went with the window.
  EXPECT_FALSE(
      base::PathExists(downloads_.Append(L"Velmo Installer").Append(kInstallerUILockFileName)));
}

TEST_F(InteractiveInstallerTest, SecondInstanceBringsTheFirstForwardAndReturnsFalse) {
  const base::Process& first = Start({});
  InstallerUIDriver driver(first.Pid());
  ASSERT_TRUE(driver.WaitForWindow());

  const base::Process& second = Start({});
  EXPECT_EQ(1, WaitForExit(second));
  EXPECT_TRUE(LogsContain("Another instance of the installer UI is running. Switching to it"));
  EXPECT_FALSE(InstallerUIDriver(second.Pid()).WaitForWindow(0));
  int exit_code = 0;
  EXPECT_FALSE(first.WaitForExitWithTimeout(0, &exit_code));
  EXPECT_EQ(driver.window(), ::GetForegroundWindow());

  CloseAndAnswer(&driver, IDYES);
  EXPECT_EQ(1, WaitForExit(first));
}

TEST_F(InteractiveInstallerTest, UninstallAsksBeforeQuitting) {
  // An installation: the installer and its engine beside the browser.
  const base::FilePath installation = temp_.GetPath().Append(L"Velmo");
  ASSERT_TRUE(base::CreateDirectoryTree(installation));
  for (const wchar_t* name : {L"installer.exe", L"installer_engine.dll"})
    ASSERT_TRUE(
        base::CopySingleFile(test::InstallerBinFolder().Append(name), installation.Append(name)));
  ASSERT_EQ(1, base::WriteFileBytes(installation.Append(L"velmo.exe"), "x", 1));
  ASSERT_EQ(1, base::WriteFileBytes(installation.Append(L"launcher.exe"), "x", 1));

  const base::Process& uninstaller =
      Start({L"--uninstall"}, {.host = installation.Append(L"installer.exe")});
  InstallerUIDriver driver(uninstaller.Pid());
  ASSERT_TRUE(driver.WaitForWindow());
  for (int id : {IDC_UNINSTALL_QUESTION, IDC_UNINSTALL_BUTTON, IDC_CANCEL_BUTTON})
    EXPECT_TRUE(driver.Visible(id)) << id;
  for (int id : {IDC_ACCEPT_BUTTON, IDC_OPTIONS_BUTTON, IDC_THANK_YOU, IDC_INSTALL_FAILED})
    EXPECT_FALSE(driver.Visible(id)) << id;
  EXPECT_EQ(GetLocalizedString(IDS_BUTTON_UNINSTALL), driver.Text(IDC_UNINSTALL_BUTTON));
  if (driver.Visible(IDC_DELETE_USER_DATA)) {
    const bool ticked = driver.Ticked(IDC_DELETE_USER_DATA);
    driver.Click(IDC_DELETE_USER_DATA);
    EXPECT_TRUE(InstallerUIDriver::WaitUntil(
        [&] { return driver.Ticked(IDC_DELETE_USER_DATA) != ticked; }, 5000));
  }

  driver.Click(IDC_CANCEL_BUTTON);
  HWND box = driver.WaitForMessageBox();
  ASSERT_TRUE(box);
  InstallerUIDriver::Answer(box, IDNO);
  int exit_code = 0;
  EXPECT_FALSE(uninstaller.WaitForExitWithTimeout(1000, &exit_code));
  EXPECT_TRUE(base::PathExists(installation.Append(L"velmo.exe")));

  driver.Click(IDC_CANCEL_BUTTON);
  box = driver.WaitForMessageBox();
  ASSERT_TRUE(box);
  InstallerUIDriver::Answer(box, IDYES);
  EXPECT_EQ(1, WaitForExit(uninstaller));
  EXPECT_TRUE(base::PathExists(installation.Append(L"velmo.exe")));
}

// With "runimmediately" the installation starts without a click, on the
// progress page, whether the folder status was read before the window was
// up or after; closing still asks first.
TEST_F(InteractiveInstallerTest, RunImmediatelyStartsWithoutAClick) {
  const base::Process& installer = Start({L"--runimmediately", L"--v=1"});
  InstallerUIDriver driver(installer.Pid());
  ASSERT_TRUE(driver.WaitForWindow());
  EXPECT_TRUE(driver.Visible(IDC_PROGRESS));
  EXPECT_FALSE(driver.Visible(IDC_ACCEPT_BUTTON));
  EXPECT_FALSE(driver.Visible(IDC_OPTIONS_BUTTON));
  ASSERT_TRUE(InstallerUIDriver::WaitUntil([&] { return LogsContain("Accept clicked."); }))
      << LogTails();
  EXPECT_TRUE(LogsContain("runimmediately set and status already fetched.") ||
              LogsContain("runimmediately set or Accept already clicked"));
  EXPECT_FALSE(LogsContain("Installation already in progress."));
  EXPECT_EQ(GetLocalizedString(IDS_PROGRESS_DOWNLOADING), driver.Text(IDC_STATUS_TEXT));

  CloseAndAnswer(&driver, IDYES);
  EXPECT_EQ(1, WaitForExit(installer)) << LogTails();
}

}  // namespace
}  // namespace installer
