#include "desktop/windows/installer/installer.h"

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "base/bind.h"
#include "base/command_line.h"
#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/features/feature_registry.h"
#include "base/files/path_registry.h"
#include "base/files/scoped_temp_dir.h"
#include "base/logging.h"
#include "base/string_number_conversions.h"
#include "base/threading/current_task_runner.h"
#include "base/threading/loop_runner.h"
#include "base/threading/message_loop.h"
#include "base/time.h"
#include "base/utf_string_conversions.h"
#include "base/win/registry.h"
#include "base/win/scoped_com.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/installer_status.h"
#include "desktop/windows/installer/installer_test_support.h"
#include "desktop/windows/installer/ipc/ipc_test_util.h"
#include "desktop/windows/installer/installer_switches.h"
#include "desktop/windows/installer/product_config.h"
#include "desktop/windows/installer/running_browser_test_support.h"
#include "desktop/windows/installer/settings.h"
#include "desktop/windows/installer/settings_test_support.h"
#include "desktop/windows/installer/service/install_log.h"
#include "desktop/windows/installer/service/installation.h"
#include "desktop/windows/installer/service/kernel_object_name.h"
#include "desktop/windows/installer/service/registry_names.h"
#include "desktop/windows/installer/service/transactions/create_folder_operation.h"
#include "desktop/windows/installer/service/transactions/delete_file_operation.h"
#include "desktop/windows/installer/service/user_admin.h"
#include "desktop/windows/installer/service/user_token_test_support.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

class InstallerTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(temp_dir_.CreateUniqueTempDir());
    install_folder_ = temp_dir_.GetPath().Append(L"Velmo Test");
    package_folder_ = temp_dir_.GetPath().Append(L"package");
    ASSERT_TRUE(base::CreateDirectoryTree(package_folder_));

    // The current user's registry goes to a key of the test's own, so that
    // the remembered install path never touches the real one.
    ASSERT_NO_FATAL_FAILURE(
        environment_.Start(L"VelmoInstallerTest_", install_folder_, package_folder_));
  }

  void TearDown() override {
    installer_.reset();
    settings_.reset();
    environment_.Stop();
  }

  // A package with |files| files and |root_files| root files (no root files
  // list at all when negative).
  void WritePackageLists(int files, int root_files) {
    std::string text;
    for (int i = 0; i < files; ++i)
      text += "bin\\file" + base::NumberToString(i) + ".dll\r\n";
    ASSERT_TRUE(WriteText(package_folder_.Append(kFilesListFileName), text));
    if (root_files < 0)
      return;
    text.clear();
    for (int i = 0; i < root_files; ++i)
      text += "root" + base::NumberToString(i) + ".txt\r\n";
    ASSERT_TRUE(WriteText(package_folder_.Append(kRootFilesListFileName), text));
  }

  static bool WriteText(const base::FilePath& path, const std::string& text) {
    return base::WriteFileBytes(path, text.data(), static_cast<int>(text.size())) ==
           static_cast<int>(text.size());
  }

  // Settings for the test's install folder, status read, with the switches
  // |switches| on their command line.
  void MakeSettings(const std::vector<std::wstring>& switches, bool silent = false) {
    settings_ = test::MakeFolderSettings(install_folder_, switches, /*uninstall=*/false, silent);
    installer_ = std::make_unique<Installer>();
    installer_->AddObserver(&delegate_);
  }

  // Runs the installer until its run reports its end.
  void RunInstaller() { test::RunInstallerToItsEnd(installer_.get(), settings_.get(), &delegate_); }

  std::wstring LastInstallPathValueName() const {
    return L"Last " + base::UTF8ToWide(GetStreamName()) + L" Install Path";
  }

  // The remembered install path, or empty when there is none.
  std::wstring ReadLastInstallPath() const {
    base::win::RegistryKey key;
    std::wstring value;
    if (key.Open(environment_.registry().root().Handle(), GetCompanyRegistryKey().c_str(),
                 KEY_READ) != ERROR_SUCCESS) {
      return value;
    }
    key.ReadValue(LastInstallPathValueName().c_str(), &value);
    return value;
  }

  std::wstring ExpectedLastInstallPath() const { return install_folder_.value() + L"\\"; }

  base::MessageLoop loop_;
  // The install log is written through COM.
  base::win::ScopedComInitializer com_;
  test::ScopedSettingsSeams seams_{"Installer"};
  base::ScopedTempDir temp_dir_;
  base::FilePath install_folder_;
  base::FilePath package_folder_;
  test::ScopedInstallerRunEnvironment environment_;
  std::unique_ptr<Settings> settings_;
  test::RecordingInstallerDelegate delegate_;
  std::unique_ptr<Installer> installer_;
};

// With the real step lists, the total is reported before the first step.
// The package lacks its sixth file: the copy step copies five files, one
// posted task each, then fails, and the run takes the copies, the install
// folder and the remembered path back.
TEST_F(InstallerTest, RealListReportsTotalAndFailedCopyRollsBack) {
  WritePackageLists(100, 3);
  ASSERT_TRUE(base::CreateDirectoryTree(package_folder_.Append(L"bin")));
  for (int i = 0; i < 5; ++i) {
    ASSERT_TRUE(WriteText(
        package_folder_.Append(L"bin\\file" + base::NumberToString16(i) + L".dll"), "content"));
  }
  MakeSettings({});
  ASSERT_EQ(Settings::kOperationInstall, settings_->GetOperation());
  ASSERT_FALSE(base::PathExists(install_folder_));

  RunInstaller();

  const std::wstring missing = install_folder_.Append(base::UTF8ToWide(GetVersionString()))
                                   .Append(L"bin\\file5.dll")
                                   .value();
  const std::vector<std::string> expected = {
      "ready",
      "total:110",
      "step",
      "step",
      "step",
      "step",
      "step",
      "step",
      "error:37062:" + base::WideToUTF8(missing) +
          ":Failed copying bin\\file5.dll: the package lacks bin\\file5.dll (files_list line 6)",
      "terminated:0"};
  EXPECT_EQ(expected, delegate_.events);
  EXPECT_FALSE(installer_->success());
  EXPECT_FALSE(installer_->running());
  EXPECT_EQ(nullptr, installer_->settings());
  EXPECT_EQ(100u, installer_->files_list().size());
  EXPECT_EQ(3u, installer_->root_files_list().size());
  EXPECT_FALSE(base::PathExists(install_folder_));
  EXPECT_EQ(std::wstring(), ReadLastInstallPath());
  // The settings stay frozen after the run.
  EXPECT_FALSE(settings_->IsModifiable());
}

// Seam-bound steps: each one is its own posted task; a failure rolls back
// everything executed (by the engine and by the steps) and reports OnError,
// then OnInstallerTerminated(false).
TEST_F(InstallerTest, FailRollsBackEverythingExecuted) {
  WritePackageLists(3, -1);  // No root files list: no error.
  MakeSettings({});
  bool first_returned = false;
  bool value_seen_during_run = false;
  const base::FilePath step_folder = install_folder_.Append(L"made by a step");
  installer_->SetStepListBinderForTesting(
      base::Bind([&](Installer* installer, int32_t operation) -> Installer::StepList {
        EXPECT_EQ(Settings::kOperationInstall, operation);
        return {base::Bind([&, installer]() {
                  value_seen_during_run = ReadLastInstallPath() == ExpectedLastInstallPath();
                  EXPECT_TRUE(installer->transaction()->Execute(
                      std::make_unique<CreateFolderOperation>(step_folder)));
                  installer->ScheduleNextStep();
                  // The next step is posted, not run from here.
                  first_returned = true;
                }),
                base::Bind([&, installer]() {
                  EXPECT_TRUE(first_returned);
                  EXPECT_TRUE(base::DirectoryExists(step_folder));
                  installer->Fail(37062, L"C:\\x", "bad");
                }),
                base::Bind([]() { ADD_FAILURE() << "A step after the failure ran"; })};
      }));

  test::ScopedLogCapture log;
  RunInstaller();

  // 3 steps + 3 files + 0 root files - 2 + 1.
  const std::vector<std::string> expected = {
      "ready", "total:5", "step", "step", "error:37062:C:\\x:bad", "terminated:0"};
  EXPECT_EQ(expected, delegate_.events);
  EXPECT_TRUE(value_seen_during_run);
  EXPECT_FALSE(base::PathExists(install_folder_));
  EXPECT_EQ(std::wstring(), ReadLastInstallPath());
  EXPECT_FALSE(installer_->success());
  EXPECT_TRUE(installer_->root_files_list().empty());
  // A missing list is no failure: not even a failed read is logged.
  EXPECT_EQ(0, log.Count("root_files_list"));

  // The run reports its end once.
  installer_->Fail(37055, L"", "late");
  installer_->Succeed();
  EXPECT_EQ(expected, delegate_.events);
}

// The run as it reports success: settled (no journal left to replay), with
// the file a step deleted still moved aside.
class SuccessObserver : public test::RecordingInstallerDelegate {
 public:
  SuccessObserver(Installer* installer, const base::FilePath& moved_aside)
      : installer_(installer), moved_aside_(moved_aside) {}

  void OnSuccess() override {
    settled = installer_->transaction()->journal() == nullptr;
    moved_aside_kept = base::PathExists(moved_aside_);
  }

  bool settled = false;
  bool moved_aside_kept = false;

 private:
  Installer* installer_;
  const base::FilePath moved_aside_;
};

// A successful run keeps what it executed once the installer is gone, and
// fills the install log (a new installation's app id is the current time;
// taken subfolder names get "_0", "_1" appended, and an empty folder that
// anything left is no taken name). It settles before it reports success,
// and deletes what its steps moved aside only after the report, which
// need not wait for that.
TEST_F(InstallerTest, SuccessCommitsAndFillsTheInstallLog) {
  WritePackageLists(2, 1);
  const std::wstring version = base::UTF8ToWide(GetVersionString());
  MakeSettings({});
  ASSERT_TRUE(base::CreateDirectoryTree(install_folder_.Append(version).Append(L"taken")));
  ASSERT_TRUE(base::CreateDirectoryTree(install_folder_.Append(version + L"_0")));
  const base::FilePath replaced = install_folder_.Append(L"replaced.txt");
  ASSERT_TRUE(WriteText(replaced, "old"));
  SuccessObserver at_success(installer_.get(), base::FilePath(replaced.value() + L".old"));
  installer_->AddObserver(&at_success);
  const int64_t before = base::Time::Now().ToTimeT();
  installer_->SetStepListBinderForTesting(
      base::Bind([replaced](Installer* installer, int32_t) -> Installer::StepList {
        return {base::Bind([installer, replaced]() {
                  EXPECT_TRUE(installer->transaction()->Execute(
                      std::make_unique<DeleteFileOperation>(replaced, /*check_in_use=*/false,
                                                            /*remove_empty_parents=*/false)));
                  installer->ScheduleNextStep();
                }),
                base::Bind([installer]() {
                  installer->NotifyStep();
                  installer->Succeed();
                })};
      }));

  RunInstaller();
  installer_->RemoveObserver(&at_success);
  const int64_t after = base::Time::Now().ToTimeT();

  const std::vector<std::string> expected = {"ready", "total:4", "step", "step", "step", "success"};
  EXPECT_EQ(expected, delegate_.events);
  EXPECT_TRUE(installer_->success());
  // Settled when it reported success, not only when destroyed: its journal
  // is gone, so a process ended after the report is never undone later.
  EXPECT_TRUE(at_success.settled);
  EXPECT_TRUE(at_success.moved_aside_kept);
  // Committed by the end of the run.
  EXPECT_EQ(nullptr, installer_->transaction()->journal());
  EXPECT_EQ(0u, installer_->transaction()->size());
  EXPECT_FALSE(base::PathExists(replaced));
  EXPECT_FALSE(base::PathExists(base::FilePath(replaced.value() + L".old")));
  const InstallLog& log = *installer_->install_log();
  EXPECT_EQ(version + L"_0", log.subfolder.value());
  EXPECT_EQ(install_folder_, log.path);
  EXPECT_EQ(GetVersionString(), log.version);
  int64_t app_id = 0;
  ASSERT_TRUE(base::StringToInt64(log.app_id, &app_id)) << log.app_id;
  EXPECT_LE(before, app_id);
  EXPECT_GE(after, app_id);

  installer_.reset();
  EXPECT_TRUE(base::DirectoryExists(install_folder_.Append(version + L"_0")));
  EXPECT_EQ(ExpectedLastInstallPath(), ReadLastInstallPath());
}

// The front end's interruption ends the run at the next task: nothing of it
// stays, no error is reported and the step already posted never runs.
TEST_F(InstallerTest, InterruptionRollsBackWithoutError) {
  WritePackageLists(1, 0);
  MakeSettings({});
  bool second_ran = false;
  const base::FilePath step_folder = install_folder_.Append(L"made by a step");
  installer_->SetStepListBinderForTesting(
      base::Bind([&](Installer* installer, int32_t) -> Installer::StepList {
        return {base::Bind([&, installer]() {
                  EXPECT_TRUE(installer->transaction()->Execute(
                      std::make_unique<CreateFolderOperation>(step_folder)));
                  EXPECT_EQ(ExpectedLastInstallPath(), ReadLastInstallPath());
                  ASSERT_TRUE(::SetEvent(environment_.interrupted_event().Get()));
                  // Let the signal reach the loop before the next step is
                  // posted, as it would during a long step.
                  const base::MonotonicTime deadline =
                      base::MonotonicTime::Now() + base::TimeSpan::FromSeconds(20);
                  while (base::MessageLoop::Current()->IsIdleForTesting() &&
                         base::MonotonicTime::Now() < deadline) {
                    ::Sleep(5);
                  }
                  installer->ScheduleNextStep();
                }),
                base::Bind([&, installer]() {
                  second_ran = true;
                  installer->NotifyStep();
                  installer->Succeed();
                })};
      }));

  RunInstaller();

  const std::vector<std::string> expected = {"ready", "total:2", "step", "step", "terminated:0"};
  EXPECT_EQ(expected, delegate_.events);
  EXPECT_FALSE(second_ran);
  EXPECT_FALSE(base::PathExists(install_folder_));
  EXPECT_EQ(std::wstring(), ReadLastInstallPath());
  EXPECT_FALSE(installer_->success());
}

TEST_F(InstallerTest, PackageListProblems) {
  // Only an empty line.
  ASSERT_TRUE(WriteText(package_folder_.Append(kFilesListFileName), "\r\n"));
  MakeSettings({});
  RunInstaller();
  std::vector<std::string> expected = {"ready", "error:37055::No files in files list",
                                       "terminated:0"};
  EXPECT_EQ(expected, delegate_.events);
  EXPECT_FALSE(base::PathExists(install_folder_));

  // No list at all.
  ASSERT_TRUE(base::DeletePath(package_folder_.Append(kFilesListFileName), false));
  delegate_.events.clear();
  installer_.reset();
  settings_.reset();
  MakeSettings({});
  RunInstaller();
  expected = {"ready", "error:37055::Could not read files list", "terminated:0"};
  EXPECT_EQ(expected, delegate_.events);
  EXPECT_FALSE(base::PathExists(install_folder_));

  // A line of either list that leads out of the package and the
  // installation, or that names a folder of the package where a file must
  // be: refused before any step, the file it names untouched.
  const base::FilePath outside = temp_dir_.GetPath().Append(L"outside.ini");
  ASSERT_TRUE(WriteText(outside, "kept"));
  struct Case {
    const wchar_t* list;
    const char* text;
    const char* error;
    const wchar_t* package_folder;  // Made in the package; may be null.
  } cases[] = {
      {kFilesListFileName, "a.dll\r\n..\\..\\outside.ini\r\n",
       "error:37055::files_list line 2 (..\\..\\outside.ini) is not a path that stays inside "
       "the package; the package is refused",
       nullptr},
      {kRootFilesListFileName, "C:\\windows\\win.ini\r\n",
       "error:37055::root_files_list line 1 (C:\\windows\\win.ini) is not a path that stays "
       "inside the package; the package is refused",
       nullptr},
      {kFilesListFileName, "bin\\file0.dll\r\nvelmo.exe\r\n",
       "error:37055::files_list line 2 (velmo.exe) names a folder of the package, not a file; "
       "the package is refused",
       L"velmo.exe"},
      {kRootFilesListFileName, "root\r\n",
       "error:37055::root_files_list line 1 (root) names a folder of the package, not a file; "
       "the package is refused",
       L"root"},
      // A line ending in a separator names a folder whether the package has
      // it or not.
      {kFilesListFileName, "a.dll\r\nres\\themes\\\r\n",
       "error:37055::files_list line 2 (res\\themes\\) ends in a separator: it names a folder, "
       "not a file; the package is refused",
       nullptr},
      {kRootFilesListFileName, "aux.txt\r\n",
       "error:37055::root_files_list line 1 (aux.txt) has a name that Windows takes for the device "
       "AUX in any folder, not a file; the package is refused",
       nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    ASSERT_TRUE(base::DeletePath(package_folder_.Append(kRootFilesListFileName), false));
    WritePackageLists(1, -1);
    ASSERT_TRUE(WriteText(package_folder_.Append(c.list), c.text));
    if (c.package_folder) {
      ASSERT_TRUE(base::CreateDirectoryTree(package_folder_.Append(c.package_folder)));
      ASSERT_TRUE(WriteText(package_folder_.Append(c.package_folder).Append(L"inner.txt"), "x"));
    }
    delegate_.events.clear();
    installer_.reset();
    settings_.reset();
    MakeSettings({});
    RunInstaller();
    expected = {"ready", c.error, "terminated:0"};
    EXPECT_EQ(expected, delegate_.events);
    EXPECT_FALSE(base::PathExists(install_folder_));
    std::string text;
    EXPECT_TRUE(base::ReadFileToString(outside, &text));
    EXPECT_EQ("kept", text);
  }
}

// An upgrade keeps the existing installation's app id and reports its own
// total; the protocol-handler registration of the same installation runs its
// three steps without a total.
TEST_F(InstallerTest, ExistingInstallation) {
  WritePackageLists(4, 2);
  ASSERT_TRUE(base::CreateDirectoryTree(install_folder_));
  InstallLog existing;
  existing.app_id = "1234567";
  existing.version = "1.0.0.0";
  existing.subfolder = base::FilePath(L"1.0.0.0");
  existing.path = install_folder_;
  ASSERT_TRUE(existing.Save(install_folder_.Append(Installation::kInstallLogFileName)));

  MakeSettings({});
  ASSERT_EQ(Settings::kOperationUpgrade, settings_->GetOperation());
  std::string app_id;
  // As many steps as the real list, the first of which stops the run.
  auto stop_at_first = [&](Installer* installer, int32_t operation) -> Installer::StepList {
    Installer::StepList steps(installer->BindStepList(operation).size(),
                              base::Bind([]() { ADD_FAILURE() << "Only the first step runs"; }));
    if (!steps.empty()) {
      steps[0] = base::Bind([&, installer]() {
        app_id = installer->install_log()->app_id;
        installer->Fail(37055, std::wstring(), "stop");
      });
    }
    return steps;
  };
  installer_->SetStepListBinderForTesting(base::Bind(stop_at_first));
  RunInstaller();
  // 12 steps + 4 files + 2 root files - 2 + 1.
  std::vector<std::string> expected = {"ready", "total:17", "step", "error:37055::stop",
                                       "terminated:0"};
  EXPECT_EQ(expected, delegate_.events);
  EXPECT_EQ("1234567", app_id);
  // The existing folder stays; the new subfolder goes.
  EXPECT_TRUE(base::DirectoryExists(install_folder_));
  EXPECT_FALSE(base::PathExists(install_folder_.Append(base::UTF8ToWide(GetVersionString()))));

  delegate_.events.clear();
  installer_.reset();
  settings_.reset();
  MakeSettings({L"--register-velmo-as-protocol-handler"});
  ASSERT_EQ(Settings::kOperationRegisterProtocolHandler, settings_->GetOperation());
  installer_->SetStepListBinderForTesting(base::Bind(stop_at_first));
  RunInstaller();
  // Three steps, no total, no install folder work.
  expected = {"step", "error:37055::stop", "terminated:0"};
  EXPECT_EQ(expected, delegate_.events);
}

TEST_F(InstallerTest, InvalidOperations) {
  // A folder that cannot be installed into.
  install_folder_ = base::FilePath(L"C:\\bad<name>\\Velmo");
  MakeSettings({});
  ASSERT_EQ(Settings::kOperationUnknown, settings_->GetOperation());
  RunInstaller();
  std::vector<std::string> expected = {"error:37058::Settings operation invalid", "terminated:0"};
  EXPECT_EQ(expected, delegate_.events);
}

// Without administrator rights, a silent all-users run cannot ask for them:
// an installation fails with the installation's message, the uninstallation
// of an all-users installation with the uninstallation's, and neither
// changes anything.
TEST_F(InstallerTest, AllUsersWithoutAdministratorRights) {
  WritePackageLists(1, 0);
  base::win::ScopedHandle token = test::MakeNonAdminToken();
  const std::string refusal = "::Installation requires elevation, but cannot elevate when silent";
  MakeSettings({L"--allusers=1"}, /*silent=*/true);
  {
    ScopedAdminTokensForTesting tokens(token.Get(), nullptr);
    RunInstaller();
  }
  EXPECT_EQ((std::vector<std::string>{"error:37055" + refusal, "terminated:0"}), delegate_.events);
  EXPECT_FALSE(base::PathExists(install_folder_));
  installer_.reset();
  settings_.reset();
  delegate_.events.clear();

  InstallLog existing;
  existing.all_users = true;
  existing.version = "1.0.0.0";
  existing.subfolder = base::FilePath(L"1.0.0.0");
  existing.path = install_folder_;
  const base::FilePath log_path = install_folder_.Append(Installation::kInstallLogFileName);
  ASSERT_TRUE(base::CreateDirectoryTree(install_folder_));
  ASSERT_TRUE(existing.Save(log_path));
  settings_ = test::MakeFolderSettings(install_folder_, {}, /*uninstall=*/true, /*silent=*/true);
  ASSERT_EQ(Settings::kOperationUninstall, settings_->GetOperation());
  ASSERT_TRUE(settings_->IsFlagSet(Settings::ALL_USERS_FLAG));
  installer_ = std::make_unique<Installer>();
  installer_->AddObserver(&delegate_);
  {
    ScopedAdminTokensForTesting tokens(token.Get(), nullptr);
    RunInstaller();
  }
  EXPECT_EQ((std::vector<std::string>{"error:37056" + refusal, "terminated:0"}), delegate_.events);
  EXPECT_TRUE(base::PathExists(log_path));
}

bool DenyFolderAccess(const base::FilePath&, DWORD) { return false; }

// The refusals of a run before any step: an autoupdate that is no upgrade, a
// single-profile installation where the user may not write, and the
// uninstallation of a browser that is running.
TEST_F(InstallerTest, RunsRefusedBeforeTheSteps) {
  WritePackageLists(1, 0);
  settings_ = test::MakeFolderSettings(install_folder_, {}, false, false, /*autoupdate=*/true);
  ASSERT_EQ(Settings::kOperationInstall, settings_->GetOperation());
  installer_ = std::make_unique<Installer>();
  installer_->AddObserver(&delegate_);
  RunInstaller();
  EXPECT_EQ((std::vector<std::string>{"error:37055::Settings operation invalid for autoupdate",
                                      "terminated:0"}),
            delegate_.events);
  installer_.reset();
  settings_.reset();
  delegate_.events.clear();

  // The folder does not exist yet and its parent is not writable.
  InstallerStatus::SetAccessCheckerForTesting(&DenyFolderAccess);
  MakeSettings({L"--singleprofile=1", L"--copyonly=0"});
  InstallerStatus::SetAccessCheckerForTesting(nullptr);
  ASSERT_FALSE(settings_->GetStatus().has_write_access());
  RunInstaller();
  EXPECT_EQ((std::vector<std::string>{
                "error:37060::Single profile installations are only allowed to locations where "
                "the user has write access",
                "terminated:0"}),
            delegate_.events);
  EXPECT_FALSE(base::PathExists(install_folder_));
  installer_.reset();
  settings_.reset();
  delegate_.events.clear();

  // An installation whose browser is running (a program can be renamed
  // while it runs: only its image refusing to be written shows it).
  InstallLog existing;
  existing.version = "1.0.0.0";
  existing.subfolder = base::FilePath(L"1.0.0.0");
  existing.path = install_folder_;
  const base::FilePath browser = install_folder_.Append(L"1.0.0.0").Append(GetBrowserExeName());
  ASSERT_TRUE(base::CreateDirectoryTree(browser.DirName()));
  ASSERT_TRUE(environment_.has_old_exe_dir());
  ASSERT_TRUE(
      base::CopySingleFile(environment_.old_exe_dir().Append(L"launcher_fixture.exe"), browser));
  ASSERT_TRUE(existing.Save(install_folder_.Append(Installation::kInstallLogFileName)));
  settings_ = test::MakeFolderSettings(install_folder_, {}, /*uninstall=*/true);
  ASSERT_EQ(Settings::kOperationUninstall, settings_->GetOperation());
  installer_ = std::make_unique<Installer>();
  installer_->AddObserver(&delegate_);
  test::RunningBrowser running(browser);
  ASSERT_TRUE(running.IsRunning());
  RunInstaller();
  EXPECT_EQ((std::vector<std::string>{"ready",
                                      "error:37063::Can't uninstall when " +
                                          base::WideToUTF8(GetBrowserExeName()) + " is in use",
                                      "terminated:0"}),
            delegate_.events);
  EXPECT_TRUE(running.IsRunning());
  EXPECT_TRUE(base::PathExists(browser));
  EXPECT_FALSE(base::PathExists(base::FilePath(browser.value() + L".old")));
  EXPECT_TRUE(running.End());
  EXPECT_TRUE(running.StartsAndEnds());
}

// What a run takes from the machine before its steps: the remembered path
// (not for a stand-alone copy, and the former x64 entry goes for an x64
// run), the experiments an upgraded installation kept, and what its
// launcher is.
TEST_F(InstallerTest, RunPreparesFromTheMachine) {
  WritePackageLists(1, 0);
  const base::FilePath tiny = environment_.old_exe_dir().Append(L"tiny_program.exe");
  ASSERT_TRUE(environment_.has_old_exe_dir());
  auto stop_at_first = [](Installer* installer, int32_t operation) -> Installer::StepList {
    Installer::StepList steps(installer->BindStepList(operation).size(), base::Closure());
    steps[0] = base::Bind([installer]() { installer->Fail(37055, std::wstring(), "stop"); });
    return steps;
  };

  // A stand-alone copy is not remembered.
  MakeSettings({L"--copyonly=1"});
  installer_->SetStepListBinderForTesting(base::Bind(stop_at_first));
  bool remembered = true;
  installer_->SetStepListBinderForTesting(
      base::Bind([&remembered, this, stop_at_first](Installer* installer, int32_t operation) {
        remembered = !ReadLastInstallPath().empty();
        return stop_at_first(installer, operation);
      }));
  RunInstaller();
  EXPECT_FALSE(remembered);
  installer_.reset();
  settings_.reset();

  // An x64 upgrade of an installation with experiments and a launcher.
  ASSERT_TRUE(base::CreateDirectoryTree(install_folder_));
  InstallLog existing;
  existing.version = "1.0.0.0";
  existing.subfolder = base::FilePath(L"1.0.0.0");
  existing.path = install_folder_;
  existing.hkcu_keys.push_back({"Software\\VelmoInstallerTestKey", 1, {}});
  ASSERT_TRUE(existing.Save(install_folder_.Append(Installation::kInstallLogFileName)));
  ASSERT_TRUE(WriteText(install_folder_.Append(Installation::kInstallerPrefsFileName),
                        "{\"installer-experiments\": [\"installer-experiment-test@1\"]}"));
  ASSERT_TRUE(base::CopySingleFile(tiny, install_folder_.Append(kLauncherFileName)));
  base::win::RegistryKey company;
  ASSERT_EQ(ERROR_SUCCESS, company.Create(environment_.registry().root().Handle(),
                                          GetCompanyRegistryKey().c_str(), KEY_ALL_ACCESS));
  const std::wstring x64_name = LastInstallPathValueName() + L" x64";
  ASSERT_EQ(ERROR_SUCCESS, company.WriteValue(x64_name.c_str(), L"C:\\Old"));
  base::FeatureRegistry* features = base::FeatureRegistry::GetInstance();
  features->ResetForTesting();
  RegisterInstallerExperiments(*features);
  ASSERT_FALSE(features->IsEnabled("installer-experiment-test"));

  settings_ = std::make_unique<Settings>(base::CommandLine::FromArgv({L"installer.exe"}), false,
                                         false, false, install_folder_, false, /*x64=*/true);
  ASSERT_TRUE(test::WaitForSettingsObtained(settings_.get()));
  ASSERT_EQ(Settings::kOperationUpgrade, settings_->GetOperation());
  installer_ = std::make_unique<Installer>();
  installer_->AddObserver(&delegate_);
  installer_->SetStepListBinderForTesting(base::Bind(stop_at_first));
  // The run is rolled back in the end: what it did is looked at while it
  // runs its first step.
  bool experiment_enabled = false;
  bool x64_entry_gone = false;
  std::wstring remembered_path;
  installer_->SetStepListBinderForTesting(
      base::Bind([&, stop_at_first](Installer* installer, int32_t operation) {
        experiment_enabled =
            base::FeatureRegistry::GetInstance()->IsEnabled("installer-experiment-test");
        remembered_path = ReadLastInstallPath();
        std::wstring value;
        x64_entry_gone = company.ReadValue(x64_name.c_str(), &value) != ERROR_SUCCESS;
        return stop_at_first(installer, operation);
      }));
  RunInstaller();
  EXPECT_TRUE(experiment_enabled);
  EXPECT_EQ(ExpectedLastInstallPath(), remembered_path);
  EXPECT_TRUE(x64_entry_gone);
  EXPECT_TRUE(installer_->launcher_valid());
  // The test programs are built for x64.
  EXPECT_TRUE(installer_->launcher_not_x86());
  features->ResetForTesting();
  RegisterInstallerExperiments(*features);
}

class InstallerPackageTest : public InstallerTest {
 protected:
  void SetUp() override {
    InstallerTest::SetUp();
    fetch_folder_ = temp_dir_.GetPath().Append(L"fetched");
    ASSERT_TRUE(base::CreateDirectoryTree(fetch_folder_));
    package_ready_.Reset(
        ::CreateEventW(nullptr, TRUE, FALSE,
                       GetKernelObjectName(install_folder_, kPackageReadyEventName, true).c_str()));
    ASSERT_TRUE(package_ready_.IsValid());
  }

  void MakeWaitingSettings() { MakeSettings({L"--wait-for-package=" + fetch_folder_.value()}); }

  // A package installer that ends with exit code 0.
  void PutPackageInstaller() {
    ASSERT_TRUE(environment_.has_old_exe_dir());
    ASSERT_TRUE(base::CopySingleFile(environment_.old_exe_dir().Append(L"tiny_program.exe"),
                                     fetch_folder_.Append(kPackageInstallerFileName)));
  }

  base::FilePath fetch_folder_;
  base::win::ScopedHandle package_ready_;
};

// A package that is ready before the wait is handled at once: the package's
// own installer takes over and its exit code decides.
TEST_F(InstallerPackageTest, ReadyPackageIsHandedOverAtOnce) {
  PutPackageInstaller();
  ASSERT_TRUE(::SetEvent(package_ready_.Get()));
  MakeWaitingSettings();
  RunInstaller();
  const std::vector<std::string> expected = {"ready", "starting:0", "returned", "success"};
  EXPECT_EQ(expected, delegate_.events);
  EXPECT_TRUE(installer_->success());
}

TEST_F(InstallerPackageTest, PackageSignalledLaterWithoutInstaller) {
  MakeWaitingSettings();
  base::CurrentTaskRunner::Get()->PostDelayedTask(
      FROM_HERE, base::Bind([](HANDLE event) { ::SetEvent(event); }, package_ready_.Get()),
      base::TimeSpan::FromMilliseconds(200));
  RunInstaller();
  const std::vector<std::string> expected = {
      "ready", "starting:0", "returned",
      "error:37055::Failed to start installer process from the package folder.", "terminated:0"};
  EXPECT_EQ(expected, delegate_.events);
  EXPECT_FALSE(base::PathExists(install_folder_));
  EXPECT_EQ(std::wstring(), ReadLastInstallPath());
}

// A front end that stops the run signals the interruption and lets go of
// the package-ready event, possibly before the back end opens it: the run
// ends as interrupted, not with an error of its own.
TEST_F(InstallerPackageTest, PackageEventGoneAfterAnInterruptionCancelsWithoutAnError) {
  package_ready_.Reset();
  ASSERT_TRUE(::SetEvent(environment_.interrupted_event().Get()));
  MakeWaitingSettings();
  RunInstaller();
  const std::vector<std::string> expected = {"ready", "terminated:0"};
  EXPECT_EQ(expected, delegate_.events);
  EXPECT_FALSE(base::PathExists(install_folder_));
}

// Destroying an installer that waits for its package cancels the run: it is
// rolled back and the package-ready signal no longer matters.
TEST_F(InstallerPackageTest, DestroyingAWaitingInstallerCancels) {
  MakeWaitingSettings();
  base::LoopRunner runner;
  installer_->Run(settings_.get());
  // Run until the folder is ready and the wait has begun.
  base::CurrentTaskRunner::Get()->PostTask(FROM_HERE, runner.QuitWhenIdleClosure());
  runner.Run();
  ASSERT_TRUE(installer_->running());
  ASSERT_TRUE(base::DirectoryExists(install_folder_));
  EXPECT_EQ(ExpectedLastInstallPath(), ReadLastInstallPath());

  installer_.reset();
  const std::vector<std::string> expected = {"ready", "terminated:0"};
  EXPECT_EQ(expected, delegate_.events);
  EXPECT_FALSE(base::PathExists(install_folder_));
  EXPECT_EQ(std::wstring(), ReadLastInstallPath());

  // A late signal reaches nobody.
  ASSERT_TRUE(::SetEvent(package_ready_.Get()));
  base::LoopRunner after;
  base::CurrentTaskRunner::Get()->PostDelayedTask(FROM_HERE, after.QuitClosure(),
                                                  base::TimeSpan::FromMilliseconds(200));
  after.Run();
  EXPECT_EQ(expected, delegate_.events);
}

}  // namespace
}  // namespace installer
