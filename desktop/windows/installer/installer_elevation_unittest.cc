#include "desktop/windows/installer/elevation.h"

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <memory>
#include <string>
#include <vector>

#include "base/command_line.h"
#include "base/logging.h"
#include "base/process.h"
#include "base/win/scoped_local_alloc.h"
#include "desktop/windows/installer/folder_permission_helper.h"
#include "desktop/windows/installer/installer.h"
#include "desktop/windows/installer/installer_folders.h"
#include "desktop/windows/installer/launcher_steps_test_support.h"
#include "desktop/windows/installer/service/user_admin.h"
#include "gtest/gtest.h"
#include "testing/multiprocess_test.h"

namespace installer {
namespace {

using test::ReadText;
using test::WriteText;

// Switches of the test's child processes.
constexpr char kTestPackageSwitch[] = "test-package";
constexpr char kTestRecordSwitch[] = "test-record";
constexpr char kTestFailSwitch[] = "test-fail";
constexpr char kTestRegistrySwitch[] = "test-registry";

void AppendToRecord(const std::string& line) {
  const base::FilePath record =
      base::CommandLine::ForCurrentProcess()->GetSwitchValuePath(kTestRecordSwitch);
  std::string text = ReadText(record) + line + "\n";
  // The test polls the record: while its read holds the file, the emulator
  // refuses to replace it, so the write is tried again.
  for (int tries = 0; tries < 100 && !WriteText(record, text); ++tries)
    ::Sleep(50);
}

void RecordAclWritten(const base::FilePath&, const std::wstring& dacl_sddl, bool restore) {
  AppendToRecord((restore ? "restore " : "grant ") + base::WideToUTF8(dacl_sddl));
}

std::vector<std::string> ReadRecordLines(const base::FilePath& path) {
  std::vector<std::string> lines;
  const std::string text = ReadText(path);
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
    lines.push_back(text.substr(start, end - start));
  return lines;
}

// The folder's access list as SDDL, as this process reads it.
std::string ReadFolderDacl(const base::FilePath& folder) {
  PACL dacl = nullptr;
  base::win::ScopedLocalAllocTyped<PSECURITY_DESCRIPTOR> descriptor;
  EXPECT_EQ(
      static_cast<DWORD>(ERROR_SUCCESS),
      ::GetNamedSecurityInfoW(folder.value().c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                              nullptr, nullptr, &dacl, nullptr, descriptor.Receive()));
  SECURITY_DESCRIPTOR plain;
  ::InitializeSecurityDescriptor(&plain, SECURITY_DESCRIPTOR_REVISION);
  ::SetSecurityDescriptorDacl(&plain, TRUE, dacl, FALSE);
  base::win::ScopedLocalAllocTyped<wchar_t*> text;
  EXPECT_TRUE(::ConvertSecurityDescriptorToStringSecurityDescriptorW(
      &plain, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, text.Receive(), nullptr));
  return text.IsValid() ? base::WideToUTF8(text.Get()) : std::string();
}

// Waits until |path| has at least |count| lines; false after two minutes,
// as long as a loaded machine needs for a helper process's records.
bool WaitForRecordLines(const base::FilePath& path, size_t count) {
  for (int i = 0; i < 2400; ++i) {
    if (ReadRecordLines(path).size() >= count)
      return true;
    ::Sleep(50);
  }
  return false;
}

}  // namespace

// The elevated copy of the installer: runs the installation of the package
// given by the test (the launcher step, or a failing step) and exits with
// its success.
CHILD_PROCESS_MAIN(ElevatedInstallCopy) {
  const base::CommandLine& command_line = *base::CommandLine::ForCurrentProcess();
  AppendToRecord(base::WideToUTF8(command_line.GetCommandLineString()));
  base::win::ScopedComInitializer com;
  base::MessageLoop loop;
  test::ScopedUserRegistryRedirect registry(command_line.GetSwitchValueNative(kTestRegistrySwitch) +
                                            L"_elevated");
  base::PathRegistry::Override(base::kPathExeDirectory,
                               command_line.GetSwitchValuePath(kTestPackageSwitch));
  Settings settings(command_line, false, false, false,
                    command_line.GetSwitchValuePath("installfolder"), false, false);
  if (!test::WaitForSettingsObtained(&settings))
    return 3;
  Installer installer;
  const bool fail = command_line.HasSwitch(kTestFailSwitch);
  installer.SetStepListBinderForTesting(
      base::Bind([fail](Installer* installer, int32_t) -> Installer::StepList {
        if (fail) {
          return {base::Bind([installer]() { installer->Fail(37055, std::wstring(), "failed"); })};
        }
        return {base::Bind(&Installer::InstallLauncher, base::Unretained(installer)),
                base::Bind([installer]() {
                  installer->NotifyStep();
                  installer->Succeed();
                })};
      }));
  test::RecordingInstallerDelegate delegate(test::RecordingInstallerDelegate::kMainProcessReports);
  installer.AddObserver(&delegate);
  base::LoopRunner runner;
  delegate.runner = &runner;
  installer.Run(&settings);
  runner.Run();
  AppendToRecord("second-pid=" + base::NumberToString(static_cast<unsigned long long>(
                                     installer.second_installer_pid())));
  return installer.success() ? 0 : 1;
}

// The elevated folder-permission process, watched through the access lists
// it writes. It restores at once after Undo.
CHILD_PROCESS_MAIN(FolderPermissionHelper) {
  SetFolderAclWrittenHookForTesting(&RecordAclWritten);
  SetUndoGracePeriodForTesting(0);
  RunFolderPermissionHelper();
  return 0;
}

// An installer that obtains the folder permission and then hangs until the
// test kills it.
CHILD_PROCESS_MAIN(PermissionRequester) {
  const base::CommandLine& command_line = *base::CommandLine::ForCurrentProcess();
  base::win::ScopedComInitializer com;
  base::MessageLoop loop;
  const base::FilePath folder = command_line.GetSwitchValuePath("installfolder");
  Settings settings(command_line, false, false, false, folder, false, false);
  if (!test::WaitForSettingsObtained(&settings))
    return 3;
  Installer installer;
  installer.Run(&settings);
  ScopedElevationForTesting elevation;
  base::CommandLine helper_switches = testing::GetChildCommandLine("FolderPermissionHelper");
  helper_switches.AppendSwitchPath(kTestRecordSwitch,
                                   command_line.GetSwitchValuePath(kTestRecordSwitch));
  elevation.AddSwitches(helper_switches);
  const int result = installer.ObtainFolderPermission(folder, false);
  AppendToRecord(
      "result=" + base::NumberToString(result) + " helper=" +
      base::NumberToString(static_cast<unsigned long long>(installer.second_installer_pid())));
  ::Sleep(INFINITE);
  return 0;
}

namespace {

TEST(ElevationTest, CanElevateFollowsTokensAndPolicy) {
  base::win::ScopedHandle limited = test::MakeNonAdminToken();
  base::win::ScopedHandle elevated = test::DuplicateProcessToken();
  test::ScopedUserRegistryRedirect registry(
      L"VelmoElevationTest_" +
      base::NumberToString16(static_cast<unsigned>(::GetCurrentProcessId())));
  base::win::RegistryKey policy;
  ASSERT_EQ(ERROR_SUCCESS, policy.Create(HKEY_CURRENT_USER, L"Policy", KEY_ALL_ACCESS));
  ScopedElevationForTesting elevation;
  elevation.SetUacPolicyKey(HKEY_CURRENT_USER, L"Policy");
  {
    // An administrator whose elevated token is at hand.
    ScopedAdminTokensForTesting tokens(limited.Get(), elevated.Get());
    EXPECT_TRUE(CanElevate());
  }
  ScopedAdminTokensForTesting tokens(limited.Get(), nullptr);
  // A user who is no administrator can still be prompted for one's
  // credentials, unless UAC is off.
  EXPECT_TRUE(CanElevate());
  ASSERT_EQ(ERROR_SUCCESS, policy.WriteValue(L"EnableLUA", 1u));
  EXPECT_TRUE(CanElevate());
  ASSERT_EQ(ERROR_SUCCESS, policy.WriteValue(L"EnableLUA", 0u));
  EXPECT_FALSE(CanElevate());
}

TEST(ElevationTest, FixEventACLGrantsAdministrators) {
  base::win::ScopedHandle event(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
  ASSERT_TRUE(event.IsValid());
  ASSERT_TRUE(FixEventACL(event.Get()));
  PACL dacl = nullptr;
  base::win::ScopedLocalAllocTyped<PSECURITY_DESCRIPTOR> descriptor;
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS),
            ::GetSecurityInfo(event.Get(), SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                              nullptr, &dacl, nullptr, descriptor.Receive()));
  base::win::ScopedLocalAllocTyped<wchar_t*> text;
  ASSERT_TRUE(::ConvertSecurityDescriptorToStringSecurityDescriptorW(
      descriptor.Get(), SDDL_REVISION_1, DACL_SECURITY_INFORMATION, text.Receive(), nullptr));
  EXPECT_NE(std::wstring::npos, std::wstring(text.Get()).find(L"(A;;GA;;;BA)")) << text.Get();
}

class InstallerElevationTest : public test::InstallerRunTest {
 protected:
  void SetUp() override {
    test::InstallerRunTest::SetUp();
    record_ = temp_dir_.GetPath().Append(L"record.txt");
    limited_ = test::MakeNonAdminToken();
    elevated_ = test::DuplicateProcessToken();
  }

  base::FilePath record_;
  base::win::ScopedHandle limited_;
  base::win::ScopedHandle elevated_;
};

// An all-users installation by an administrator without an elevated token:
// the prompt declined ends the run with 37061; with UAC off nobody is asked.
TEST_F(InstallerElevationTest, DeclinedPromptAndUacOff) {
  MakeSettings({L"--allusers=1"});
  ASSERT_TRUE(settings_->IsFlagSet(Settings::ALL_USERS_FLAG));
  {
    ScopedAdminTokensForTesting tokens(limited_.Get(), elevated_.Get());
    ScopedElevationForTesting elevation;
    elevation.DeclinePrompt();
    RunInstaller();
  }
  // No process took over, and none hands back: the observers hear of the
  // return only after a wait for an elevated process.
  EXPECT_EQ(std::vector<std::string>(
                {"starting:0", "error:37061::Elevated installation failed.", "terminated:0"}),
            delegate_.events);
  EXPECT_FALSE(base::PathExists(install_folder_));

  delegate_.events.clear();
  MakeSettings({L"--allusers=1"});
  base::win::RegistryKey policy;
  ASSERT_EQ(ERROR_SUCCESS, policy.Create(HKEY_CURRENT_USER, L"Policy", KEY_ALL_ACCESS));
  ASSERT_EQ(ERROR_SUCCESS, policy.WriteValue(L"EnableLUA", 0u));
  {
    ScopedAdminTokensForTesting tokens(limited_.Get(), nullptr);
    ScopedElevationForTesting elevation;
    elevation.SetUacPolicyKey(HKEY_CURRENT_USER, L"Policy");
    RunInstaller();
  }
  EXPECT_EQ(
      std::vector<std::string>({"error:37061::Elevated installation failed.", "terminated:0"}),
      delegate_.events);
}

// A real "runas" copy performs the installation, adding to the run's log;
// its success brings the user's part: the browser started as this user. Its
// failure fails the run.
TEST_F(InstallerElevationTest, ElevatedCopyRunsTheInstallation) {
  // This process logs to a run's log for the time of the test.
  const base::FilePath run_log =
      temp_dir_.GetPath().Append(LogFileNameForTime(2022, 1, 2, 3, 4, 5));
  logging::LoggingSettings log_settings;
  log_settings.log_file = run_log;
  ASSERT_TRUE(logging::InitLogging(log_settings));
  struct LogRestorer {
    ~LogRestorer() {
      logging::LoggingSettings none;
      none.logging_dest = logging::LOG_NONE;
      logging::InitLogging(none);
    }
  } log_restorer;
  for (bool fail : {false, true}) {
    SCOPED_TRACE(fail);
    base::DeletePath(record_, false);
    delegate_.events.clear();
    MakeSettings({L"--allusers=1", L"--launchvelmo=1"});
    {
      ScopedAdminTokensForTesting tokens(limited_.Get(), elevated_.Get());
      ScopedElevationForTesting elevation;
      base::CommandLine child = testing::GetChildCommandLine("ElevatedInstallCopy");
      child.AppendSwitchPath(kTestPackageSwitch, package_folder_);
      child.AppendSwitchPath(kTestRecordSwitch, record_);
      child.AppendSwitchNative(
          kTestRegistrySwitch,
          L"VelmoElevationTest_" +
              base::NumberToString16(static_cast<unsigned>(::GetCurrentProcessId())));
      if (fail)
        child.AppendSwitch(kTestFailSwitch);
      elevation.AddSwitches(child);
      RunInstaller();
    }
    const std::vector<std::string> record = ReadRecordLines(record_);
    ASSERT_EQ(2u, record.size());
    const std::string pid =
        base::NumberToString(static_cast<unsigned long long>(::GetCurrentProcessId()));
    EXPECT_NE(std::string::npos, record[0].find("--parent-pid=" + pid)) << record[0];
    EXPECT_NE(std::string::npos, record[0].find("--backend")) << record[0];
    EXPECT_NE(std::string::npos, record[0].find("--launchvelmo=0")) << record[0];
    EXPECT_NE(std::string::npos, record[0].find("--log-file=" + run_log.AsUTF8Unsafe()))
        << record[0];
    EXPECT_EQ("second-pid=" + pid, record[1]);
    if (!fail) {
      EXPECT_EQ(std::vector<std::string>({"starting:0", "returned", "success"}), delegate_.events);
      EXPECT_EQ(ReadText(package_folder_.Append(L"launcher.exe")),
                ReadText(install_folder_.Append(L"launcher.exe")));
      const std::vector<std::wstring> launches = test::ReadLauncherRecord(install_folder_);
      ASSERT_EQ(1u, launches.size());
      EXPECT_NE(std::wstring::npos, launches[0].find(L"--start-maximized")) << launches[0];
      installer_.reset();
      settings_.reset();
      ASSERT_TRUE(base::DeletePath(install_folder_, true));
    } else {
      EXPECT_EQ(
          std::vector<std::string>({"starting:0", "returned",
                                    "error:37055::Installer process did not complete successfully.",
                                    "terminated:0"}),
          delegate_.events);
      EXPECT_FALSE(base::PathExists(install_folder_.Append(L"launcher.exe")));
    }
  }
}

// The folder-permission process grants the access, and puts the old list
// back when the run ends; a permanent grant is never undone.
TEST_F(InstallerElevationTest, FolderPermissionUndoneAtTheEndOfTheRun) {
  ASSERT_TRUE(base::CreateDirectoryTree(install_folder_));
  const std::string original = ReadFolderDacl(install_folder_);
  for (bool permanent : {false, true}) {
    SCOPED_TRACE(permanent);
    base::DeletePath(record_, false);
    delegate_.events.clear();
    MakeSettings({});
    SetSteps({});
    ScopedElevationForTesting elevation;
    base::CommandLine child = testing::GetChildCommandLine("FolderPermissionHelper");
    child.AppendSwitchPath(kTestRecordSwitch, record_);
    elevation.AddSwitches(child);
    int result = -1;
    base::Process helper;
    RunInstaller(base::Bind([&]() {
      result = installer_->ObtainFolderPermission(install_folder_, permanent);
      helper = base::Process::Open(installer_->second_installer_pid());
      // A temporary grant lasts while the run does.
      if (!permanent) {
        EXPECT_FALSE(helper.WaitForExitWithTimeout(500, nullptr));
      }
    }));
    EXPECT_EQ(Installer::kElevationSucceeded, result);
    ASSERT_TRUE(helper.IsValid());
    EXPECT_EQ(std::vector<std::string>({"ready", "success"}), delegate_.events);
    int exit_code = -1;
    ASSERT_TRUE(helper.WaitForExitWithTimeout(120000, &exit_code));
    const std::vector<std::string> lines = ReadRecordLines(record_);
    ASSERT_EQ(permanent ? 1u : 2u, lines.size());
    EXPECT_EQ("grant ", lines[0].substr(0, 6));
    EXPECT_NE("grant " + original, lines[0]);
    EXPECT_NE(std::string::npos, lines[0].find(";GA;;;")) << lines[0];
    if (!permanent) {
      EXPECT_EQ("restore " + original, lines[1]);
    }
    installer_.reset();
    settings_.reset();
  }
}

// When the installer that asked for the permission is killed, the helper
// does not wait for an Undo that never comes: it restores and ends.
TEST_F(InstallerElevationTest, FolderPermissionRestoredWhenTheRequesterIsKilled) {
  ASSERT_TRUE(base::CreateDirectoryTree(install_folder_));
  const std::string original = ReadFolderDacl(install_folder_);
  base::CommandLine requester_command = testing::GetChildCommandLine("PermissionRequester");
  requester_command.AppendSwitchPath(kTestRecordSwitch, record_);
  requester_command.AppendSwitchPath("installfolder", install_folder_);
  base::Process requester = base::LaunchProcess(requester_command, base::LaunchOptions());
  ASSERT_TRUE(requester.IsValid());
  ASSERT_TRUE(WaitForRecordLines(record_, 2));
  std::vector<std::string> lines = ReadRecordLines(record_);
  ASSERT_EQ("grant ", lines[0].substr(0, 6));
  ASSERT_EQ("result=0 helper=", lines[1].substr(0, 16)) << lines[1];
  uint32_t helper_pid = 0;
  ASSERT_TRUE(base::StringToUint(lines[1].substr(16), &helper_pid));
  base::Process helper = base::Process::Open(helper_pid);
  ASSERT_TRUE(helper.IsValid());
  EXPECT_FALSE(helper.WaitForExitWithTimeout(500, nullptr));

  ASSERT_TRUE(requester.Terminate(9, true));
  ASSERT_TRUE(helper.WaitForExitWithTimeout(120000, nullptr));
  lines = ReadRecordLines(record_);
  ASSERT_EQ(3u, lines.size());
  EXPECT_EQ("restore " + original, lines[2]);
}

}  // namespace
}  // namespace installer
