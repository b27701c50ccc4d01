#include "desktop/windows/installer/installer_file_steps.h"

#include <windows.h>

#include <tlhelp32.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "base/bind.h"
#include "base/command_line.h"
#include "base/files/directory_enumerator.h"
#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/files/path_registry.h"
#include "base/files/scoped_temp_dir.h"
#include "base/process.h"
#include "base/string_number_conversions.h"
#include "base/string_split.h"
#include "base/threading/current_task_runner.h"
#include "base/threading/loop_runner.h"
#include "base/threading/message_loop.h"
#include "base/time.h"
#include "base/utf_string_conversions.h"
#include "base/win/registry.h"
#include "base/win/scoped_com.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/association_change_notice.h"
#include "desktop/windows/installer/cleanup_batch_file.h"
#include "desktop/windows/installer/cleanup_batch_test_support.h"
#include "desktop/windows/installer/installer.h"
#include "desktop/windows/installer/installer_folders.h"
#include "desktop/windows/installer/ipc/installer_delegate.h"
#include "desktop/windows/installer/installer_registry_steps.h"
#include "desktop/windows/installer/installer_status.h"
#include "desktop/windows/installer/installer_test_support.h"
#include "desktop/windows/installer/product_config.h"
#include "desktop/windows/installer/settings.h"
#include "desktop/windows/installer/settings_test_support.h"
#include "desktop/windows/installer/service/install_log.h"
#include "desktop/windows/installer/service/installation.h"
#include "desktop/windows/installer/service/kernel_object_name.h"
#include "desktop/windows/installer/service/registry_names.h"
#include "desktop/windows/installer/service/task_scheduler.h"
#include "gtest/gtest.h"
#include "testing/multiprocess_test.h"
// Last: its namespace installer::testing would hide ::testing in the
// headers above.
#include "desktop/windows/installer/service/transactions/machine_state_for_testing.h"

namespace installer {
namespace {

CHILD_PROCESS_MAIN(FileStepsInitialProcess) {
  ::Sleep(120 * 1000);
  return 0;
}

bool WriteText(const base::FilePath& path, const std::string& text) {
  return base::CreateDirectoryTree(path.DirName()) &&
         base::WriteFileBytes(path, text.data(), static_cast<int>(text.size())) ==
             static_cast<int>(text.size());
}

// Opens |path| without sharing: nobody can move, delete or read it.
base::win::ScopedHandle HoldExclusively(const base::FilePath& path) {
  return base::win::ScopedHandle(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                               nullptr));
}

// Ends the command interpreters this process started (a clean-up batch file
// that would wait for this process).
void EndChildCommandInterpreters() {
  base::win::ScopedHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  ASSERT_TRUE(snapshot.IsValid());
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof(entry);
  for (BOOL more = ::Process32FirstW(snapshot.Get(), &entry); more;
       more = ::Process32NextW(snapshot.Get(), &entry)) {
    if (entry.th32ParentProcessID == ::GetCurrentProcessId() &&
        _wcsicmp(entry.szExeFile, L"cmd.exe") == 0) {
      base::Process::Open(entry.th32ProcessID).Terminate(1, /*wait=*/true);
    }
  }
}

class InstallerFileStepsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(temp_dir_.CreateUniqueTempDir());
    install_folder_ = temp_dir_.GetPath().Append(L"Velmo J\u00f6s\u00e9");
    // Only a package in the download folder is moved from.
    package_folder_ = in_download_folder_
                          ? temp_dir_.GetPath().Append(GetInstallerFolderName()).Append(L"package")
                          : temp_dir_.GetPath().Append(L"package");
    ASSERT_TRUE(base::CreateDirectoryTree(package_folder_));
    version_ = base::UTF8ToWide(GetVersionString());

    // The current user's registry goes to a key of the test's own.
    ASSERT_NO_FATAL_FAILURE(
        environment_.Start(L"VelmoFileStepsTest_", install_folder_, package_folder_));
  }

  void TearDown() override {
    installer_.reset();
    settings_.reset();
    environment_.Stop();
  }

  // The package: every entry of |files| and |root_files| with its own name
  // as content, and the two lists (no root files list when |root_files| is
  // empty).
  void WritePackage(const std::vector<std::string>& files,
                    const std::vector<std::string>& root_files) {
    std::string list;
    for (const std::string& file : files) {
      ASSERT_TRUE(WriteText(package_folder_.Append(base::UTF8ToWide(file)), file));
      list += file + "\r\n";
    }
    ASSERT_TRUE(WriteText(package_folder_.Append(kFilesListFileName), list));
    if (root_files.empty())
      return;
    list.clear();
    for (const std::string& file : root_files) {
      ASSERT_TRUE(WriteText(package_folder_.Append(base::UTF8ToWide(file)), file));
      list += file + "\r\n";
    }
    ASSERT_TRUE(WriteText(package_folder_.Append(kRootFilesListFileName), list));
  }

  // An existing stand-alone installation in the install folder: |files| in
  // the version subfolder |subfolder|, |root_files| and the launcher in the
  // folder, and its status file.
  InstallLog MakeInstallation(const std::wstring& subfolder, const std::vector<std::wstring>& files,
                              const std::vector<std::wstring>& root_files) {
    InstallLog log;
    log.copy_only = true;
    log.app_id = "1700000000";
    log.version = "0.9.0.1";
    log.path = install_folder_;
    log.subfolder = base::FilePath(subfolder);
    for (const std::wstring& file : files) {
      EXPECT_TRUE(WriteText(install_folder_.Append(subfolder).Append(file), "old"));
      log.files.push_back(base::FilePath(file));
    }
    for (const std::wstring& file : root_files) {
      EXPECT_TRUE(WriteText(install_folder_.Append(file), "old"));
      log.root_files.push_back(base::FilePath(file));
    }
    EXPECT_TRUE(WriteText(install_folder_.Append(kLauncherFileName), "MZ"));
    EXPECT_TRUE(WriteText(install_folder_.Append(GetBrowserExeName()), "MZ"));
    EXPECT_TRUE(log.Save(install_folder_.Append(Installation::kInstallLogFileName)));
    return log;
  }

  void MakeSettings(const std::vector<std::wstring>& switches, bool uninstall = false) {
    std::vector<std::wstring> all = {L"--launchvelmo=0"};
    all.insert(all.end(), switches.begin(), switches.end());
    settings_ = test::MakeFolderSettings(install_folder_, all, uninstall, /*silent=*/true);
    installer_ = std::make_unique<Installer>();
    installer_->AddObserver(&delegate_);
  }

  // The steps of |steps|, then a last step that ends the run with success.
  void BindSteps(std::vector<void (Installer::*)()> steps, bool copy_steps = false) {
    installer_->SetStepListBinderForTesting(
        base::Bind([steps, copy_steps](Installer* installer, int32_t) -> Installer::StepList {
          Installer::StepList list;
          if (copy_steps) {
            list.push_back(
                base::Bind(&Installer::CopyPackageFiles, base::Unretained(installer), 0));
            list.push_back(base::Bind(&Installer::CopyRootFiles, base::Unretained(installer), 0));
          }
          for (auto step : steps)
            list.push_back(base::Bind(step, base::Unretained(installer)));
          list.push_back(base::Bind(
              [](Installer* installer) {
                installer->NotifyStep();
                installer->Succeed();
              },
              installer));
          return list;
        }));
  }

  void RunInstaller() { test::RunInstallerToItsEnd(installer_.get(), settings_.get(), &delegate_); }

  std::wstring ReadLastInstallPath() const {
    base::win::RegistryKey key;
    std::wstring value;
    if (key.Open(environment_.registry().root().Handle(), GetCompanyRegistryKey().c_str(),
                 KEY_READ) == ERROR_SUCCESS) {
      key.ReadValue((L"Last " + base::UTF8ToWide(GetStreamName()) + L" Install Path").c_str(),
                    &value);
    }
    return value;
  }

  const InstallLog& Log() const { return static_cast<const Installer&>(*installer_).install_log(); }

  std::vector<std::string> Steps(int count) const {
    return std::vector<std::string>(static_cast<size_t>(count), "step");
  }

  base::win::ScopedComInitializer com_;
  base::MessageLoop loop_;
  test::ScopedSettingsSeams seams_{"FileSteps"};
  base::ScopedTempDir temp_dir_;
  base::FilePath install_folder_;
  base::FilePath package_folder_;
  bool in_download_folder_ = false;
  std::wstring version_;
  test::ScopedInstallerRunEnvironment environment_;
  std::unique_ptr<Settings> settings_;
  // The main process changes are not this test's concern.
  test::RecordingInstallerDelegate delegate_{test::RecordingInstallerDelegate::kStepReports};
  std::unique_ptr<Installer> installer_;
};

// A second installation beside a folder named after the version goes to
// "<version>_0"; every file but the last counts a progress step of its own.
TEST_F(InstallerFileStepsTest, CopiesThePackageIntoANewVersionSubfolder) {
  WritePackage({"bin\\a.dll", "b.dat", "c.txt"}, {"root.txt"});
  ASSERT_TRUE(base::CreateDirectoryTree(install_folder_.Append(version_).Append(L"bin")));
  MakeSettings({});
  ASSERT_EQ(Settings::kOperationInstall, settings_->GetOperation());
  BindSteps({}, /*copy_steps=*/true);

  RunInstaller();

  std::vector<std::string> expected = {"total:6"};
  for (const std::string& step : Steps(6))
    expected.push_back(step);
  expected.push_back("success");
  EXPECT_EQ(expected, delegate_.events);
  const base::FilePath subfolder = install_folder_.Append(version_ + L"_0");
  EXPECT_EQ(base::FilePath(version_ + L"_0"), Log().subfolder);
  std::string text;
  for (const char* file : {"bin\\a.dll", "b.dat", "c.txt"}) {
    ASSERT_TRUE(base::ReadFileToString(subfolder.AppendASCII(file), &text)) << file;
    EXPECT_EQ(file, text);
  }
  ASSERT_TRUE(base::ReadFileToString(install_folder_.Append(L"root.txt"), &text));
  EXPECT_EQ("root.txt", text);
  EXPECT_FALSE(base::PathExists(install_folder_.Append(version_).Append(L"b.dat")));
  const std::vector<base::FilePath> files = {base::FilePath(L"bin\\a.dll"),
                                             base::FilePath(L"b.dat"), base::FilePath(L"c.txt")};
  EXPECT_EQ(files, Log().files);
  EXPECT_EQ(std::vector<base::FilePath>{base::FilePath(L"root.txt")}, Log().root_files);
}

TEST_F(InstallerFileStepsTest, EmptyRootListIsSkipped) {
  WritePackage({"only.dll"}, {});
  MakeSettings({});
  BindSteps({}, /*copy_steps=*/true);

  RunInstaller();

  // The total (3 steps + 1 file - 2 + 1) counts on a root file; skipping the
  // root copy still schedules the next step, which is one progress step.
  std::vector<std::string> expected = {"total:3", "step", "step", "step", "step", "success"};
  EXPECT_EQ(expected, delegate_.events);
  EXPECT_TRUE(Log().root_files.empty());
  EXPECT_TRUE(base::PathExists(install_folder_.Append(version_).Append(L"only.dll")));
}

// A package file that cannot be read fails the copy: everything the run did
// is taken back, the copies, the folders and the remembered install path.
TEST_F(InstallerFileStepsTest, FileHeldOpenRollsEverythingBack) {
  WritePackage({"a.dll", "held.dat", "c.txt"}, {"root.txt"});
  base::win::ScopedHandle held = HoldExclusively(package_folder_.Append(L"held.dat"));
  ASSERT_TRUE(held.IsValid());
  MakeSettings({});
  BindSteps({}, /*copy_steps=*/true);

  RunInstaller();

  const std::wstring destination = install_folder_.Append(version_).Append(L"held.dat").value();
  std::vector<std::string> expected = {
      "total:6", "step", "step",
      "error:37062:" + base::WideToUTF8(destination) + ":Failed copying held.dat", "terminated:0"};
  EXPECT_EQ(expected, delegate_.events);
  EXPECT_FALSE(installer_->success());
  EXPECT_FALSE(base::PathExists(install_folder_));
  EXPECT_EQ(std::wstring(), ReadLastInstallPath());
}

// A package that the front end unpacked into its download folder.
class InstallerFileStepsUnpackedTest : public InstallerFileStepsTest {
 protected:
  void SetUp() override {
    in_download_folder_ = true;
    InstallerFileStepsTest::SetUp();
  }
};

// The package's files are moved into the version folder (a whole folder in
// one rename), with a progress step and a record per file; a failure puts
// every one back into the package, the folders too.
TEST_F(InstallerFileStepsUnpackedTest, PackageFilesMoveInAndAFailureMovesThemBack) {
  WritePackage({"docs\\a.txt", "docs\\deep\\b.txt", "c.txt", "held.dat"}, {"root.txt"});
  testing::MachineState package_before;
  testing::AddFiles(package_folder_, &package_before);
  {
    base::win::ScopedHandle held = HoldExclusively(package_folder_.Append(L"held.dat"));
    ASSERT_TRUE(held.IsValid());
    // An installation for all users copies: moved files would keep the
    // security of the package's folder.
    MakeSettings({L"--allusers=0"});
    BindSteps({}, /*copy_steps=*/true);
    RunInstaller();
  }
  const std::wstring destination = install_folder_.Append(version_).Append(L"held.dat").value();
  // One step as the copy step is scheduled, one for each file placed.
  std::vector<std::string> expected = {
      "total:7",     "step",
      "step",        "step",
      "step",        "error:37062:" + base::WideToUTF8(destination) + ":Failed copying held.dat",
      "terminated:0"};
  EXPECT_EQ(expected, delegate_.events);
  EXPECT_FALSE(base::PathExists(install_folder_));
  testing::MachineState package_after;
  testing::AddFiles(package_folder_, &package_after);
  EXPECT_EQ(package_before, package_after);

  delegate_.events.clear();
  MakeSettings({L"--allusers=0"});
  BindSteps({}, /*copy_steps=*/true);
  RunInstaller();
  expected = {"total:7"};
  for (const std::string& step : Steps(7))
    expected.push_back(step);
  expected.push_back("success");
  EXPECT_EQ(expected, delegate_.events);
  const std::vector<base::FilePath> files = {base::FilePath(L"docs\\a.txt"),
                                             base::FilePath(L"docs\\deep\\b.txt"),
                                             base::FilePath(L"c.txt"), base::FilePath(L"held.dat")};
  EXPECT_EQ(files, Log().files);
  std::string text;
  for (const base::FilePath& file : files) {
    ASSERT_TRUE(base::ReadFileToString(install_folder_.Append(version_).Append(file), &text))
        << file;
    EXPECT_EQ(file.AsUTF8Unsafe(), text);
    EXPECT_FALSE(base::PathExists(package_folder_.Append(file))) << file;
  }
  // The root file is still read from the package by its own step: copied.
  EXPECT_TRUE(base::PathExists(package_folder_.Append(L"root.txt")));
  EXPECT_TRUE(base::PathExists(install_folder_.Append(L"root.txt")));
}

// A package anywhere else than the download folder stays whole: it may be
// installed from again.
TEST_F(InstallerFileStepsTest, PackageElsewhereIsCopied) {
  WritePackage({"docs\\a.txt", "c.txt"}, {});
  MakeSettings({L"--allusers=0"});
  BindSteps({}, /*copy_steps=*/true);
  RunInstaller();
  ASSERT_TRUE(installer_->success());
  for (const wchar_t* file : {L"docs\\a.txt", L"c.txt"}) {
    EXPECT_TRUE(base::PathExists(package_folder_.Append(file))) << file;
    EXPECT_TRUE(base::PathExists(install_folder_.Append(version_).Append(file))) << file;
  }
}

// An upgrade moves the old status file into "old_status", named with the
// time it was preserved.
TEST_F(InstallerFileStepsTest, PreservesTheOldStatusFileOnUpgrade) {
  WritePackage({"a.dll"}, {});
  const InstallLog old_log = MakeInstallation(L"0.9.0.1", {L"old.dll"}, {});
  MakeSettings({});
  ASSERT_EQ(Settings::kOperationUpgrade, settings_->GetOperation());
  BindSteps({&Installer::PreserveInstallerStatus});
  const time_t before = base::Time::Now().ToTimeT();

  RunInstaller();
  const time_t after = base::Time::Now().ToTimeT();

  ASSERT_EQ("success", delegate_.events.back());
  installer_.reset();  // Commits the move.
  EXPECT_FALSE(base::PathExists(install_folder_.Append(Installation::kInstallLogFileName)));
  base::DirectoryEnumerator preserved(install_folder_.Append(kOldStatusFolderName), false,
                                      base::DirectoryEnumerator::FILES);
  const base::FilePath moved = preserved.Next();
  ASSERT_FALSE(moved.empty());
  EXPECT_TRUE(preserved.Next().empty());
  EXPECT_EQ(L"installation_status.xml", moved.BaseName().RemoveExtension().value());
  int64_t seconds = 0;
  ASSERT_TRUE(base::StringToInt64(base::WideToUTF8(moved.Extension().substr(1)), &seconds));
  EXPECT_LE(before, seconds);
  EXPECT_GE(after, seconds);
  InstallLog read;
  ASSERT_TRUE(read.Load(moved));
  EXPECT_EQ(old_log, read);
}

// The next upgrade removes the files of the preserved generations, except a
// generation with a file in use (kept whole for later) and a preserved file
// that is no install log (reported and left, so "old_status" stays).
TEST_F(InstallerFileStepsTest, RemovesPreservedGenerationsOnUpgrade) {
  WritePackage({"a.dll"}, {});
  MakeInstallation(L"0.9.0.1", {L"current.dll"}, {});
  const base::FilePath old_status = install_folder_.Append(kOldStatusFolderName);
  auto preserve = [&](const wchar_t* subfolder, const std::vector<std::wstring>& files,
                      const wchar_t* name) {
    InstallLog log;
    log.subfolder = base::FilePath(subfolder);
    for (const std::wstring& file : files) {
      EXPECT_TRUE(WriteText(install_folder_.Append(subfolder).Append(file), "x"));
      log.files.push_back(base::FilePath(file));
    }
    EXPECT_TRUE(base::CreateDirectoryTree(old_status));
    EXPECT_TRUE(log.Save(old_status.Append(name)));
  };
  preserve(L"0.7", {L"a.dll", L"sub\\b.pak"}, L"installation_status.xml.100");
  preserve(L"0.8", {L"a.dll", L"held.pak", L"z.dll"}, L"installation_status.xml.200");
  ASSERT_TRUE(WriteText(old_status.Append(L"installation_status.xml.300"), "not xml"));
  base::win::ScopedHandle held = HoldExclusively(install_folder_.Append(L"0.8\\held.pak"));
  ASSERT_TRUE(held.IsValid());
  MakeSettings({});
  ASSERT_EQ(Settings::kOperationUpgrade, settings_->GetOperation());
  BindSteps({&Installer::RemoveInstalledFiles});

  RunInstaller();
  ASSERT_EQ("success", delegate_.events.back());
  installer_.reset();

  EXPECT_FALSE(base::PathExists(install_folder_.Append(L"0.7")));
  EXPECT_FALSE(base::PathExists(old_status.Append(L"installation_status.xml.100")));
  for (const wchar_t* file : {L"0.8\\a.dll", L"0.8\\held.pak", L"0.8\\z.dll"})
    EXPECT_TRUE(base::PathExists(install_folder_.Append(file))) << file;
  EXPECT_TRUE(base::PathExists(old_status.Append(L"installation_status.xml.200")));
  EXPECT_TRUE(base::PathExists(old_status.Append(L"installation_status.xml.300")));
  EXPECT_TRUE(base::PathExists(install_folder_.Append(L"0.9.0.1\\current.dll")));
}

// The uninstallation removes what it can; a file in use goes into "k.bat"
// with its folders below the install folder, and the batch file waits for
// this process and the one that started the uninstallation.
// Where the system keeps the registered task |name|: Windows and Wine both
// store a task's definition as a file named after the task.
base::FilePath RegisteredTaskFile(const std::wstring& name) {
  wchar_t windows[MAX_PATH] = {};
  EXPECT_NE(0u, ::GetWindowsDirectoryW(windows, MAX_PATH));
  return base::FilePath(windows).Append(L"System32\\Tasks").Append(name);
}

// The autoupdate task of an installation is named after the installation's
// id, so that each installation has its own; the uninstallation removes it.
TEST_F(InstallerFileStepsTest, AutoupdateTaskIsNamedAfterTheInstallationAndGoesWithIt) {
  WritePackage({"a.dll"}, {});
  MakeSettings({L"--copyonly=0", L"--allusers=0", L"--setdefaultbrowser=0"});
  ASSERT_EQ(Settings::kOperationInstall, settings_->GetOperation());
  installer_->SetStepListBinderForTesting(
      base::Bind([](Installer* installer, int32_t) -> Installer::StepList {
        return {base::Bind(&Installer::FinalizeInstallation, base::Unretained(installer))};
      }));
  RunInstaller();
  ASSERT_EQ("success", delegate_.events.back());
  const std::string app_id = Log().app_id;
  ASSERT_FALSE(app_id.empty());
  installer_.reset();
  settings_.reset();
  const base::FilePath task =
      RegisteredTaskFile(TaskScheduler::GetTaskName(L"Autoupdate " + base::UTF8ToWide(app_id)));
  EXPECT_TRUE(base::PathExists(task)) << task;

  MakeSettings({}, /*uninstall=*/true);
  ASSERT_EQ(Settings::kOperationUninstall, settings_->GetOperation());
  ASSERT_FALSE(settings_->IsFlagSet(Settings::COPY_ONLY));
  ASSERT_EQ(app_id, settings_->GetStatus().app_id);
  installer_->SetStepListBinderForTesting(
      base::Bind([](Installer* installer, int32_t) -> Installer::StepList {
        return {base::Bind(&Installer::CleanUpAfterUninstallation, base::Unretained(installer))};
      }));
  RunInstaller();
  ASSERT_EQ("success", delegate_.events.back());
  installer_.reset();
  EXPECT_FALSE(base::PathExists(task)) << task;
  std::string leftover = app_id;
  DeleteAutoupdateTask(&leftover);
}

std::atomic<int> g_broadcasts{0};
void CountBroadcast() { ++g_broadcasts; }

// An uninstallation that cannot remove the installation's record fails
// there, before anything of the installation's integration is undone.
TEST_F(InstallerFileStepsTest, UninstallationFailsWhileTheRecordIsHeld) {
  MakeInstallation(L"1.0", {L"a.dll"}, {});
  MakeSettings({}, /*uninstall=*/true);
  ASSERT_EQ(Settings::kOperationUninstall, settings_->GetOperation());
  ASSERT_TRUE(WaitForAssociationChangeBroadcasts(base::TimeSpan::FromSeconds(60)));
  g_broadcasts = 0;
  SetBroadcastHookForTesting(&CountBroadcast);
  BindSteps({&Installer::FinalizeUninstallation});
  {
    base::win::ScopedHandle held =
        HoldExclusively(install_folder_.Append(Installation::kInstallLogFileName));
    ASSERT_TRUE(held.IsValid());
    RunInstaller();
  }
  SetBroadcastHookForTesting(nullptr);
  EXPECT_EQ("error:37056::Failed to remove installation status file",
            delegate_.events[delegate_.events.size() - 2]);
  EXPECT_EQ("terminated:0", delegate_.events.back());
  EXPECT_EQ(0, g_broadcasts.load());
  installer_.reset();
  EXPECT_TRUE(base::PathExists(install_folder_.Append(Installation::kInstallLogFileName)));
}

// The end of an uninstallation tells the other programs that the browser's
// registration is gone, through the same timed broadcast as an installation:
// a notification message cannot carry the text to another process.
TEST_F(InstallerFileStepsTest, FinalizeUninstallationBroadcastsTheChange) {
  MakeInstallation(L"1.0", {L"a.dll"}, {});
  MakeSettings({}, /*uninstall=*/true);
  ASSERT_EQ(Settings::kOperationUninstall, settings_->GetOperation());
  // Stand-alone: nothing but the announcement follows.
  ASSERT_TRUE(settings_->IsFlagSet(Settings::COPY_ONLY));
  // Broadcasts of earlier tests are over before this one counts.
  ASSERT_TRUE(WaitForAssociationChangeBroadcasts(base::TimeSpan::FromSeconds(60)));
  g_broadcasts = 0;
  SetSettingChangeTimeoutForTesting(100);
  SetBroadcastHookForTesting(&CountBroadcast);
  BindSteps({&Installer::FinalizeUninstallation});
  RunInstaller();
  EXPECT_EQ("success", delegate_.events.back());
  EXPECT_TRUE(WaitForAssociationChangeBroadcasts(base::TimeSpan::FromSeconds(60)));
  SetBroadcastHookForTesting(nullptr);
  SetSettingChangeTimeoutForTesting(kSettingChangeTimeoutMs);
  EXPECT_EQ(1, g_broadcasts.load());
  installer_.reset();
  EXPECT_FALSE(base::PathExists(install_folder_.Append(Installation::kInstallLogFileName)));
}

TEST_F(InstallerFileStepsTest, UninstallLeavesFilesInUseToTheBatchFile) {
  test::ScopedBatchToolsPath tools;
  MakeInstallation(L"1.0", {L"a.dll", L"sub\\held.txt", L"c.pak"}, {L"root.txt"});
  ASSERT_TRUE(WriteText(install_folder_.Append(L"pref_default_overrides"), "{}"));
  const base::FilePath held_path = install_folder_.Append(L"1.0\\sub\\held.txt");
  base::win::ScopedHandle held = HoldExclusively(held_path);
  ASSERT_TRUE(held.IsValid());
  base::LaunchOptions hidden;
  hidden.start_hidden = true;
  base::Process initial =
      base::LaunchProcess(::testing::GetChildCommandLine("FileStepsInitialProcess"), hidden);
  ASSERT_TRUE(initial.IsValid());
  MakeSettings({L"--initial-pid=" + base::NumberToString16(static_cast<unsigned>(initial.Pid()))},
               /*uninstall=*/true);
  ASSERT_EQ(Settings::kOperationUninstall, settings_->GetOperation());
  installer_->SetStepListBinderForTesting(
      base::Bind([](Installer* installer, int32_t) -> Installer::StepList {
        return {base::Bind(&Installer::CleanUpAfterUninstallation, base::Unretained(installer))};
      }));

  RunInstaller();
  ASSERT_EQ("success", delegate_.events.back());
  installer_.reset();

  std::string text;
  ASSERT_TRUE(base::ReadFileToString(install_folder_.Append(kCleanupBatchFileName), &text));
  const std::string pid2 = base::NumberToString(static_cast<unsigned>(initial.Pid()));
  EXPECT_NE(std::string::npos, text.find("SET PID2_RUNNING=TRUE\n"));
  EXPECT_NE(std::string::npos, text.find("TASKLIST /FI \"PID eq " + pid2 + "\""));
  EXPECT_NE(std::string::npos,
            text.find("PID eq " +
                      base::NumberToString(static_cast<unsigned>(::GetCurrentProcessId())) + "\""));
  EXPECT_EQ(std::string::npos, text.find("PID3"));
  std::string held_text;
  std::string sub_text;
  std::string version_text;
  ASSERT_TRUE(EncodeBatchFilePath(held_path, &held_text));
  ASSERT_TRUE(EncodeBatchFilePath(held_path.DirName(), &sub_text));
  ASSERT_TRUE(EncodeBatchFilePath(held_path.DirName().DirName(), &version_text));
  // The held file's deletion (retried while it is held), then its folders,
  // deepest first, and the batch file itself last.
  const size_t held_line = text.find("del \"" + held_text + "\"\n");
  const size_t sub_line = text.find("rmdir \"" + sub_text + "\"\n");
  const size_t version_line = text.find("rmdir \"" + version_text + "\"\n");
  EXPECT_NE(std::string::npos, held_line) << text;
  EXPECT_LT(held_line, sub_line) << text;
  EXPECT_LT(sub_line, version_line) << text;
  EXPECT_NE(std::string::npos, version_line) << text;
  ASSERT_GE(text.size(), 7u);
  EXPECT_EQ("del %0\n", text.substr(text.size() - 7));

  // The rest went when the installer committed.
  for (const wchar_t* file :
       {L"1.0\\a.dll", L"1.0\\c.pak", L"root.txt", L"launcher.exe", L"pref_default_overrides"}) {
    EXPECT_FALSE(base::PathExists(install_folder_.Append(file))) << file;
  }
  EXPECT_TRUE(base::PathExists(held_path));

  // The batch file waits for this process; end it before the folder goes.
  EndChildCommandInterpreters();
  initial.Terminate(0, /*wait=*/true);
}

// Every file and folder of |folder| with attributes and contents, except
// the install and package folders and what they hold.
::installer::testing::MachineState OutsideState(const base::FilePath& folder,
                                                const base::FilePath& install,
                                                const base::FilePath& package) {
  ::installer::testing::MachineState state;
  ::installer::testing::AddFiles(folder, &state);
  for (const base::FilePath& skipped : {install, package}) {
    const std::string name = "file:" + skipped.BaseName().AsUTF8Unsafe();
    for (auto it = state.lower_bound(name); it != state.end() && it->first.rfind(name, 0) == 0;)
      it = state.erase(it);
  }
  return state;
}

// A tampered install log, with entries and version subfolders that lead out
// of the install folder and an entry built to break out of its quotes in
// "k.bat": the upgrade and the uninstallation delete only what lies inside
// the install folder, the batch file gets only sound lines, and the
// legitimate files still go.
class InstallerFileStepsHostileLogTest : public InstallerFileStepsTest {
 protected:
  void SetUpHostileInstallation() {
    const base::FilePath top = temp_dir_.GetPath();
    for (const wchar_t* file : {L"outside\\decoy.txt", L"outside\\sub\\x.txt", L"x",
                                L"outside\\gen.txt", L"outside\\gen2.txt"}) {
      ASSERT_TRUE(WriteText(top.Append(file), "outside"));
    }
    // The entry that, unquoted in "k.bat", would write a file of its own.
    injection_ = L"x\" & echo PWNED>\"" + top.Append(L"pwned.txt").value() + L"\" & rem \".dll";
    MakeInstallation(L"1.0", {L"a.dll", L"sub\\held.txt"}, {L"root.txt"});
    InstallLog log;
    ASSERT_TRUE(log.Load(install_folder_.Append(Installation::kInstallLogFileName)));
    for (const std::wstring& entry :
         {std::wstring(L"..\\..\\outside\\decoy.txt"), std::wstring(L"../../x"),
          std::wstring(L"\\..\\..\\x"), injection_, std::wstring(L"a\necho PWNED.dll")}) {
      log.files.push_back(base::FilePath(entry));
    }
    log.root_files.push_back(base::FilePath(L"..\\outside\\sub\\x.txt"));
    ASSERT_TRUE(log.Save(install_folder_.Append(Installation::kInstallLogFileName)));

    // Preserved generations: one whose subfolder leads out, one with an
    // entry that does.
    const base::FilePath old_status = install_folder_.Append(kOldStatusFolderName);
    ASSERT_TRUE(base::CreateDirectoryTree(old_status));
    InstallLog escaping;
    escaping.subfolder = base::FilePath(L"..\\outside");
    escaping.files = {base::FilePath(L"gen.txt")};
    ASSERT_TRUE(escaping.Save(old_status.Append(L"installation_status.xml.100")));
    InstallLog mixed;
    mixed.subfolder = base::FilePath(L"0.9");
    mixed.files = {base::FilePath(L"old.dll"), base::FilePath(L"..\\..\\outside\\gen2.txt")};
    ASSERT_TRUE(WriteText(install_folder_.Append(L"0.9\\old.dll"), "old"));
    ASSERT_TRUE(mixed.Save(old_status.Append(L"installation_status.xml.200")));
    outside_before_ = OutsideState(top, install_folder_, package_folder_);
    ASSERT_EQ(7u, outside_before_.size());
  }

  void ExpectOutsideUntouched() {
    EXPECT_EQ(outside_before_, OutsideState(temp_dir_.GetPath(), install_folder_, package_folder_));
  }

  std::wstring injection_;
  ::installer::testing::MachineState outside_before_;
};

TEST_F(InstallerFileStepsHostileLogTest, UpgradeDeletesOnlyInsideTheInstallFolder) {
  ASSERT_NO_FATAL_FAILURE(SetUpHostileInstallation());
  WritePackage({"a.dll"}, {});
  MakeSettings({});
  ASSERT_EQ(Settings::kOperationUpgrade, settings_->GetOperation());
  BindSteps({&Installer::RemoveInstalledFiles, &Installer::RemoveOldRootFiles});

  RunInstaller();
  ASSERT_EQ("success", delegate_.events.back());
  installer_.reset();

  ExpectOutsideUntouched();
  EXPECT_FALSE(base::PathExists(install_folder_.Append(L"0.9")));
  EXPECT_FALSE(base::PathExists(install_folder_.Append(L"root.txt")));
  const base::FilePath old_status = install_folder_.Append(kOldStatusFolderName);
  // The generation that led out stays for a later look; the other is done.
  EXPECT_TRUE(base::PathExists(old_status.Append(L"installation_status.xml.100")));
  EXPECT_FALSE(base::PathExists(old_status.Append(L"installation_status.xml.200")));
}

TEST_F(InstallerFileStepsHostileLogTest, UninstallDeletesAndBatchesOnlyInsideTheInstallFolder) {
  test::ScopedBatchToolsPath tools;
  ASSERT_NO_FATAL_FAILURE(SetUpHostileInstallation());
  const base::FilePath held_path = install_folder_.Append(L"1.0\\sub\\held.txt");
  base::win::ScopedHandle held = HoldExclusively(held_path);
  ASSERT_TRUE(held.IsValid());
  MakeSettings({}, /*uninstall=*/true);
  ASSERT_EQ(Settings::kOperationUninstall, settings_->GetOperation());
  BindSteps({&Installer::RemoveInstalledFiles, &Installer::CleanUpAfterUninstallation});

  RunInstaller();
  ASSERT_EQ("success", delegate_.events.back());
  installer_.reset();

  ExpectOutsideUntouched();
  for (const wchar_t* file : {L"1.0\\a.dll", L"root.txt", L"launcher.exe", L"0.9"})
    EXPECT_FALSE(base::PathExists(install_folder_.Append(file))) << file;
  std::string text;
  ASSERT_TRUE(base::ReadFileToString(install_folder_.Append(kCleanupBatchFileName), &text));
  EXPECT_EQ(std::string::npos, text.find("PWNED")) << text;
  EXPECT_EQ(std::string::npos, text.find("outside")) << text;
  std::string held_text;
  ASSERT_TRUE(EncodeBatchFilePath(held_path, &held_text));
  EXPECT_NE(std::string::npos, text.find("del \"" + held_text + "\"\n")) << text;
  // Only the wait loop's own commands, the leftovers' deletions and their
  // folders, and the install folder's removal: every path a line names lies
  // in the install folder.
  std::string install_text;
  ASSERT_TRUE(EncodeBatchFilePath(install_folder_, &install_text));
  const std::string folder_removal =
      "start \"\" /b cmd /c ping -n 2 127.0.0.1 ^>NUL ^& rmdir \"" + install_text + "\"";
  for (const std::string& line :
       base::SplitString(text, "\n", base::KEEP_WHITESPACE, base::SPLIT_WANT_NONEMPTY)) {
    const size_t quote = line.find('"');
    const bool names_path = quote != std::string::npos && line.compare(0, 8, "TASKLIST") != 0;
    if (line == folder_removal || line == "cd /d \"%SystemRoot%\"")
      continue;
    if (names_path) {
      EXPECT_EQ(0u, line.compare(quote + 1, install_text.size() + 1, install_text + "\\")) << line;
    }
    static const char* const kCommands[] = {"SET ",  ":",    "IF ",    "TASKLIST ", ")",
                                            "ping ", "del ", "rmdir ", "GOTO "};
    bool known = false;
    for (const char* command : kCommands)
      known |= line.compare(0, strlen(command), command) == 0;
    EXPECT_TRUE(known) << line;
  }

  EndChildCommandInterpreters();
  EXPECT_FALSE(base::PathExists(temp_dir_.GetPath().Append(L"pwned.txt")));
}

}  // namespace
}  // namespace installer
