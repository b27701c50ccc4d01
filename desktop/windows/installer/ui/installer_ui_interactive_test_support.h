// The fixture of the tests that run the real installer executable as a
// process of its own and drive its window from outside: it starts
// installers with the test's download folder and log folder, reads their
// logs, and takes away what an installation of theirs left behind.
#ifndef DESKTOP_WINDOWS_INSTALLER_UI_INSTALLER_UI_INTERACTIVE_TEST_SUPPORT_H_
#define DESKTOP_WINDOWS_INSTALLER_UI_INSTALLER_UI_INTERACTIVE_TEST_SUPPORT_H_

#include <windows.h>

#include <tlhelp32.h>

#include <memory>
#include <string>
#include <vector>

#include "base/command_line.h"
#include "base/files/directory_enumerator.h"
#include "base/files/file_util.h"
#include "base/files/path_registry.h"
#include "base/files/scoped_temp_dir.h"
#include "base/process.h"
#include "base/win/scoped_com.h"
#include "base/utf_string_conversions.h"
#include "base/win/registry.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/cleanup_batch_file.h"
#include "desktop/windows/installer/installer.h"
#include "desktop/windows/installer/installer_registry_steps.h"
#include "desktop/windows/installer/product_config.h"
#include "desktop/windows/installer/service/install_log.h"
#include "desktop/windows/installer/service/installation.h"
#include "desktop/windows/installer/service/registry_names.h"
#include "desktop/windows/installer/service/user_token_test_support.h"
#include "desktop/windows/installer/ui/installer_resource_ids.h"
#include "desktop/windows/installer/ui/installer_ui_driver_test_support.h"
#include "gtest/gtest.h"

namespace installer {
namespace test {

inline base::FilePath InstallerBinFolder() {
  base::FilePath folder;
  base::PathRegistry::Get(base::kPathExeDirectory, &folder);
  return folder;
}

// How InteractiveInstallerTest starts an installer.
struct InstallerLaunch {
  // The built installer.exe when empty.
  base::FilePath host;
  // Whether "installfolder" names the test's folder (an uninstallation
  // never gets it); without it the window starts on the default folder.
  bool install_folder = true;
  // Started with a token whose Administrators group is deny-only: a user
  // who is no administrator, which Wine's user never is.
  bool non_admin = false;
};

class InteractiveInstallerTest : public testing::Test {
 protected:
  using Launch = InstallerLaunch;

  void SetUp() override {
    // Whatever the installers start (a browser for a web page among them)
    // ends with the test at the latest.
    job_.Reset(::CreateJobObjectW(nullptr, nullptr));
    ASSERT_TRUE(job_.IsValid());
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    ASSERT_TRUE(::SetInformationJobObject(job_.Get(), JobObjectExtendedLimitInformation, &limits,
                                          sizeof(limits)));
    // An installation remembers its folder for the next one, and an
    // uninstallation keeps that: the value comes back as it was.
    base::win::RegistryKey company;
    had_last_install_path_ =
        company.Open(HKEY_CURRENT_USER, GetCompanyRegistryKey().c_str(), KEY_QUERY_VALUE) ==
            ERROR_SUCCESS &&
        company.ReadValue(LastInstallPathValueName().c_str(), &last_install_path_) == ERROR_SUCCESS;
    ASSERT_TRUE(temp_.CreateUniqueTempDir());
    // The installers started here write their logs into the test's folder.
    SetChildEnvironment(L"TEMP", temp_.GetPath().value());
    SetChildEnvironment(L"TMP", temp_.GetPath().value());
    downloads_ = temp_.GetPath().Append(L"downloads");
    install_folder_ = temp_.GetPath().Append(L"Installed");
  }

  void TearDown() override {
    for (const auto& process : processes_) {
      int exit_code = 0;
      if (process->IsValid() && !process->WaitForExitWithTimeout(0, &exit_code))
        process->Terminate(1, true);
    }
    RemoveInstallation();
    ::TerminateJobObject(job_.Get(), 1);
    base::win::RegistryKey company;
    if (company.Open(HKEY_CURRENT_USER, GetCompanyRegistryKey().c_str(), KEY_SET_VALUE) ==
        ERROR_SUCCESS) {
      if (had_last_install_path_)
        company.WriteValue(LastInstallPathValueName().c_str(), last_install_path_);
      else
        company.DeleteValue(LastInstallPathValueName().c_str());
    }
    for (auto it = saved_environment_.rbegin(); it != saved_environment_.rend(); ++it)
      ::SetEnvironmentVariableW(it->first.c_str(),
                                it->second.empty() ? nullptr : it->second.c_str());
  }

  // Sets |name| for the installers started from now on (they inherit this
  // process's environment) until the test ends.
  void SetChildEnvironment(const std::wstring& name, const std::wstring& value) {
    std::wstring saved(32767, L'\0');
    const DWORD length = ::GetEnvironmentVariableW(name.c_str(), saved.data(), 32767);
    saved.resize(length < 32767 ? length : 0);
    saved_environment_.emplace_back(name, saved);
    ASSERT_TRUE(::SetEnvironmentVariableW(name.c_str(), value.c_str()));
  }

  // Starts the installer with the switches |args| and the test's download
  // folder. Unless |args| name another, the package server is one where
  // nothing listens: fetching fails and is retried for as long as the run
  // lasts. No statistics are sent (their sending would wait for the
  // network), and the preference overrides, which come from the product's
  // own server, are not fetched.
  const base::Process& Start(std::vector<std::wstring> args, const Launch& launch = Launch()) {
    base::CommandLine command_line(
        launch.host.empty() ? InstallerBinFolder().Append(L"installer.exe") : launch.host);
    command_line.AppendSwitchNative("temp-folder", downloads_.value());
    command_line.AppendSwitchASCII("enable-installer-stats", "0");
    command_line.AppendSwitchASCII("with-feature:installer-pref-default-overrides-support", "off");
    bool package_server_given = false;
    bool uninstall = false;
    for (const std::wstring& arg : args) {
      package_server_given |= arg.rfind(L"--internal-package-server=", 0) == 0;
      uninstall |= arg == L"--uninstall";
    }
    // An installation goes into the test's folder, never the machine's.
    if (!uninstall && launch.install_folder)
      command_line.AppendSwitchNative("installfolder", install_folder_.value());
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
    processes_.push_back(std::make_unique<base::Process>(
        launch.non_admin ? LaunchAsNonAdmin(command_line)
                         : base::LaunchProcess(command_line, base::LaunchOptions())));
    EXPECT_TRUE(processes_.back()->IsValid());
    // Before it can have started anything: it waits for its window's clicks.
    EXPECT_TRUE(::AssignProcessToJobObject(job_.Get(), processes_.back()->Handle()));
    return *processes_.back();
  }

  static int WaitForExit(const base::Process& process,
                         DWORD timeout_ms = InstallerUIDriver::kWaitMs) {
    int exit_code = -1;
    EXPECT_TRUE(process.WaitForExitWithTimeout(timeout_ms, &exit_code));
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
  bool LogsContain(const std::string& text) const { return LogCount(text) > 0; }

  // How many lines of the test's installer logs hold |text|.
  int LogCount(const std::string& text) const {
    int count = 0;
    base::DirectoryEnumerator logs(temp_.GetPath().Append(L"Velmo Installer"), false,
                                   base::DirectoryEnumerator::FILES, L"*.log");
    for (base::FilePath log = logs.Next(); !log.empty(); log = logs.Next()) {
      std::string content;
      if (!base::ReadFileToString(log, &content))
        continue;
      for (size_t at = content.find(text); at != std::string::npos;
           at = content.find(text, at + text.size())) {
        ++count;
      }
    }
    return count;
  }

  // Types |folder| into the path box of the options page and waits until
  // the installer has read that folder's own status: what the window shows
  // before may still be the previous folder's.
  // The driver's text reaches the box at once, ahead of what the window has
  // still queued (a user's typing would come after it): a refill of the box
  // that an earlier choice queued may then overwrite it. So the folder is
  // typed again when its status read does not come.
  void TypeFolder(InstallerUIDriver* driver, const std::wstring& folder) const {
    const std::string line = "Install folder set: " + base::WideToUTF8(folder);
    const int before = LogCount(line);
    bool read = false;
    for (int attempt = 0; attempt < 3 && !read; ++attempt) {
      driver->Type(IDC_INSTALL_PATH_COMBO, folder);
      read = InstallerUIDriver::WaitUntil([&] { return LogCount(line) > before; }, 20000);
    }
    EXPECT_TRUE(read) << "no status read of " << line;
  }

  // Closes the window with its title-bar button and answers the question
  // with |answer|.
  static void CloseAndAnswer(InstallerUIDriver* driver, int answer) {
    driver->Close();
    HWND box = driver->WaitForMessageBox();
    ASSERT_TRUE(box);
    InstallerUIDriver::Answer(box, answer);
  }

  // The record of the installation in the test's install folder; false
  // when there is none.
  bool LoadInstallLog(InstallLog* log) const {
    return log->Load(install_folder_.Append(Installation::kInstallLogFileName));
  }

  // An installation that a test made, or a failing test left behind, is
  // uninstalled silently, its scheduled task along with it.
  void RemoveInstallation() {
    InstallLog log;
    if (!LoadInstallLog(&log) || log.subfolder.empty())
      return;
    base::CommandLine command_line(
        install_folder_.Append(log.subfolder).Append(kPackageInstallerFileName));
    command_line.AppendSwitch("uninstall");
    command_line.AppendSwitch("silent");
    command_line.AppendSwitchASCII("enable-installer-stats", "0");
    base::Process uninstaller = base::LaunchProcess(command_line, base::LaunchOptions());
    int exit_code = -1;
    if (!uninstaller.IsValid() || !uninstaller.WaitForExitWithTimeout(180000, &exit_code))
      ADD_FAILURE() << "the clean-up uninstallation did not run";
    WaitForCleanupBatchFile();
    if (!log.app_id.empty())
      DeleteAutoupdateTask(&log.app_id);
  }

  // The programs (full image paths) of the processes that process |pid|
  // started, running or ended.
  static std::vector<std::wstring> ProgramsStartedBy(DWORD pid) {
    std::vector<std::wstring> programs;
    base::win::ScopedHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = ::Process32FirstW(snapshot.Get(), &entry); more;
         more = ::Process32NextW(snapshot.Get(), &entry)) {
      if (entry.th32ParentProcessID != pid)
        continue;
      base::win::ScopedHandle child(
          ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID));
      wchar_t image[MAX_PATH] = {};
      DWORD length = MAX_PATH;
      if (child.IsValid() && ::QueryFullProcessImageNameW(child.Get(), 0, image, &length))
        programs.emplace_back(image, length);
    }
    return programs;
  }

  // Waits until the clean-up batch file that an uninstallation leaves in
  // the install folder has done its work and deleted itself; false after
  // two minutes (a loaded machine).
  bool WaitForCleanupBatchFile() const {
    return InstallerUIDriver::WaitUntil(
        [this] { return !base::PathExists(install_folder_.Append(kCleanupBatchFileName)); },
        120000);
  }

  // The installation record is XML, read through COM.
  base::win::ScopedComInitializer com_;
  base::ScopedTempDir temp_;
  base::FilePath downloads_;
  base::FilePath install_folder_;
  std::vector<std::unique_ptr<base::Process>> processes_;

 private:
  static std::wstring LastInstallPathValueName() {
    return L"Last " + base::UTF8ToWide(GetStreamName()) + L" Install Path";
  }

  std::vector<std::pair<std::wstring, std::wstring>> saved_environment_;
  bool had_last_install_path_ = false;
  std::wstring last_install_path_;
  base::win::ScopedHandle job_;
};

}  // namespace test
}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_UI_INSTALLER_UI_INTERACTIVE_TEST_SUPPORT_H_
