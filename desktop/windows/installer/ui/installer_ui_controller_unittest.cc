// The interactive installer as a user meets it: the real installer
// executable runs as a process of its own, and the test drives its window
// only from outside, through messages to its controls.
#include "desktop/windows/installer/ui/installer_ui_controller.h"

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "base/command_line.h"
#include "base/files/directory_enumerator.h"
#include "base/files/file_util.h"
#include "base/files/path_registry.h"
#include "base/files/scoped_temp_dir.h"
#include "base/process.h"
#include "base/utf_string_conversions.h"
#include "desktop/windows/installer/ui/installer_resource_ids.h"
#include "desktop/windows/installer/ui/installer_ui_driver_test_support.h"
#include "desktop/windows/installer/ui/installer_ui_lock.h"
#include "desktop/windows/rc_l10n_handler/installer_string_ids.h"
#include "desktop/windows/rc_l10n_handler/localized_string.h"
#include "gtest/gtest.h"
#include "testing/http_server/test_server.h"

namespace installer {
namespace {

using test::InstallerUIDriver;

base::FilePath BinFolder() {
  base::FilePath folder;
  base::PathRegistry::Get(base::kPathExeDirectory, &folder);
  return folder;
}

class InteractiveInstallerTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(temp_.CreateUniqueTempDir());
    wchar_t saved[MAX_PATH];
    const DWORD length = ::GetEnvironmentVariableW(L"TEMP", saved, MAX_PATH);
    saved_temp_.assign(saved, length < MAX_PATH ? length : 0);
    // The installers started here write their logs into the test's folder.
    ASSERT_TRUE(::SetEnvironmentVariableW(L"TEMP", temp_.GetPath().value().c_str()));
    ASSERT_TRUE(::SetEnvironmentVariableW(L"TMP", temp_.GetPath().value().c_str()));
    downloads_ = temp_.GetPath().Append(L"downloads");
  }
  void TearDown() override {
    for (const auto& process : processes_) {
      int exit_code = 0;
      if (process->IsValid() && !process->WaitForExitWithTimeout(0, &exit_code))
        process->Terminate(1, true);
    }
    ::SetEnvironmentVariableW(L"TEMP", saved_temp_.c_str());
    ::SetEnvironmentVariableW(L"TMP", saved_temp_.c_str());
  }

  // Starts |host| (the built installer by default) with the switches
  // |args| and the test's download folder. Unless |args| name another,
  // the package server is one where nothing listens: fetching fails and is
  // retried for as long as the run lasts. No statistics are sent (their
  // sending would wait for the network).
  const base::Process& Start(std::vector<std::wstring> args,
                             base::FilePath host = base::FilePath()) {
    base::CommandLine command_line(host.empty() ? BinFolder().Append(L"installer.exe") : host);
    command_line.AppendSwitchNative("temp-folder", downloads_.value());
    command_line.AppendSwitchASCII("enable-installer-stats", "0");
    bool package_server_given = false;
    bool uninstall = false;
    for (const std::wstring& arg : args) {
      package_server_given |= arg.rfind(L"--internal-package-server=", 0) == 0;
      uninstall |= arg == L"--uninstall";
    }
    // An installation goes into the test's folder, never the machine's.
    if (!uninstall)
      command_line.AppendSwitchNative("installfolder",
                                      temp_.GetPath().Append(L"Installed").value());
    if (!package_server_given)
      command_line.AppendSwitchASCII("internal-package-server", "http://127.0.0.1:1/");
    for (const std::wstring& arg : args) {
      const size_t equals = arg.find(L'=');
      const std::string name(arg.begin() + 2,
                             equals == std::wstring::npos ? arg.end() : arg.begin() + equals);
      if (equals == std::wstring::npos)
        command_line.AppendSwitch(name);
      else
        command_line.AppendSwitchNative(name, arg.substr(equals + 1));
    }
    processes_.push_back(
        std::make_unique<base::Process>(base::LaunchProcess(command_line, base::LaunchOptions())));
    EXPECT_TRUE(processes_.back()->IsValid());
    return *processes_.back();
  }

  static int WaitForExit(const base::Process& process) {
    int exit_code = -1;
    EXPECT_TRUE(process.WaitForExitWithTimeout(InstallerUIDriver::kWaitMs, &exit_code));
    return exit_code;
  }

  // The last lines of every installer log of the test, for failure
  // messages.
  std::string LogTails() const {
    std::string tails;
    base::DirectoryEnumerator logs(temp_.GetPath().Append(L"Velmo Installer"), false,
                                   base::DirectoryEnumerator::FILES, L"*.log");
    for (base::FilePath log = logs.Next(); !log.empty(); log = logs.Next()) {
      std::string content;
      base::ReadFileToString(log, &content);
      for (char& c : content) {
        if (c == '\0' || c == '\r')
          c = ' ';
      }
      tails += "--- " + log.BaseName().AsUTF8Unsafe() + "\n" +
               content.substr(content.size() > 6000 ? content.size() - 6000 : 0);
    }
    return tails;
  }

  // Whether any installer log of the test has |text| in a line.
  bool LogsContain(const std::string& text) const {
    base::DirectoryEnumerator logs(temp_.GetPath().Append(L"Velmo Installer"), false,
                                   base::DirectoryEnumerator::FILES, L"*.log");
    for (base::FilePath log = logs.Next(); !log.empty(); log = logs.Next()) {
      std::string content;
      if (base::ReadFileToString(log, &content) && content.find(text) != std::string::npos)
        return true;
    }
    return false;
  }

  // Closes the window with its title-bar button and answers the question
  // with |answer|.
  static void CloseAndAnswer(InstallerUIDriver* driver, int answer) {
    driver->Close();
    HWND box = driver->WaitForMessageBox();
    ASSERT_TRUE(box);
    InstallerUIDriver::Answer(box, answer);
  }

  base::ScopedTempDir temp_;
  std::wstring saved_temp_;
  base::FilePath downloads_;
  std::vector<std::unique_ptr<base::Process>> processes_;
};

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
    ASSERT_TRUE(base::CopySingleFile(BinFolder().Append(name), installation.Append(name)));
  ASSERT_EQ(1, base::WriteFileBytes(installation.Append(L"velmo.exe"), "x", 1));
  ASSERT_EQ(1, base::WriteFileBytes(installation.Append(L"launcher.exe"), "x", 1));

  const base::Process& uninstaller = Start({L"--uninstall"}, installation.Append(L"installer.exe"));
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

// The package server answers 404 for every request: each fetch fails at
// once. Three failures before Accept restart the fetcher; after Accept the
// failure shows the error page with Try Again, and the full installer is
// offered only from the second error on.
TEST_F(InteractiveInstallerTest, FailedFetchShowsTheErrorPageAndOffersTheFullPackageSecond) {
  const base::Process& installer =
      Start({L"--v=1", L"--internal-package-server=http://" +
                           base::UTF8ToWide(testing_http::ServerAddress()) + L"/no-such-folder/"});
  InstallerUIDriver driver(installer.Pid());
  ASSERT_TRUE(driver.WaitForWindow());
  ASSERT_TRUE(InstallerUIDriver::WaitUntil([&] {
    return LogsContain("Exceeded maximum number of fetcher retries");
  })) << LogTails();
  EXPECT_TRUE(LogsContain("Restarting package fetching, 3 of 3"));
  EXPECT_FALSE(LogsContain("Restarting package fetching, 4 of 3"));

  const std::wstring download_failed = GetLocalizedString(IDS_ERROR_DOWNLOAD_FAILED);
  driver.Click(IDC_ACCEPT_BUTTON);
  ASSERT_TRUE(InstallerUIDriver::WaitUntil([&] { return driver.Visible(IDC_RETRY_BUTTON); }))
      << LogTails();
  EXPECT_TRUE(LogsContain("Restarting fetching after background tries failed."));
  EXPECT_TRUE(driver.Visible(IDC_INSTALL_FAILED));
  EXPECT_FALSE(driver.Visible(IDC_FULL_PACKAGE_BUTTON));
  EXPECT_EQ(download_failed, driver.Text(IDC_STATUS_TEXT));
  EXPECT_EQ(GetLocalizedString(IDS_BUTTON_TRY_AGAIN), driver.Text(IDC_RETRY_BUTTON));

  driver.Click(IDC_RETRY_BUTTON);
  ASSERT_TRUE(InstallerUIDriver::WaitUntil([&] { return driver.Visible(IDC_FULL_PACKAGE_BUTTON); }))
      << LogTails();
  EXPECT_TRUE(driver.Visible(IDC_RETRY_BUTTON));
  EXPECT_EQ(download_failed, driver.Text(IDC_STATUS_TEXT));

  CloseAndAnswer(&driver, IDYES);
  EXPECT_EQ(1, WaitForExit(installer)) << LogTails();
}

}  // namespace
}  // namespace installer
