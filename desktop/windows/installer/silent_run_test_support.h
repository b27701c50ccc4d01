// Test support for silent runs of the installers a user gets
// (velmo_installer_full.exe with the demo package as its payload), as real
// processes under this machine's real registry, shell folders and task
// scheduler: running them, their logs, and what an installation shows.
#ifndef DESKTOP_WINDOWS_INSTALLER_SILENT_RUN_TEST_SUPPORT_H_
#define DESKTOP_WINDOWS_INSTALLER_SILENT_RUN_TEST_SUPPORT_H_

#include <windows.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "base/command_line.h"
#include "base/files/directory_enumerator.h"
#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/files/path_registry.h"
#include "base/files/scoped_temp_dir.h"
#include "base/process.h"
#include "base/string_split.h"
#include "base/string_util.h"
#include "base/utf_string_conversions.h"
#include "base/win/registry.h"
#include "base/win/scoped_com.h"
#include "desktop/windows/installer/installer.h"
#include "desktop/windows/installer/installer_registry_steps.h"
#include "desktop/windows/installer/process_tree_test_support.h"
#include "desktop/windows/installer/product_config.h"
#include "desktop/windows/installer/service/install_log.h"
#include "desktop/windows/installer/service/installation.h"
#include "desktop/windows/installer/service/registry_names.h"
#include "desktop/windows/installer/service/task_scheduler.h"
#include "desktop/windows/installer/service/user_token_test_support.h"
#include "gtest/gtest.h"

namespace installer::test {

// A silent run that takes longer than this is taken as hung.
inline constexpr DWORD kRunTimeoutMs = 180 * 1000;
// How long the clean-up batch file of an upgrade or an uninstallation may
// take to remove what the installer process could not.
inline constexpr int kFolderRemovalWaitMs = 120 * 1000;

inline base::FilePath BinFolder() {
  base::FilePath exe_dir;
  base::PathRegistry::Get(base::kPathExeDirectory, &exe_dir);
  return exe_dir;
}

inline bool RegistryKeyExists(HKEY root, const std::wstring& path, REGSAM view = KEY_WOW64_32KEY) {
  base::win::RegistryKey key;
  return key.Open(root, path.c_str(), KEY_READ | view) == ERROR_SUCCESS;
}

inline std::wstring ReadRegistryString(HKEY root, const std::wstring& path, const wchar_t* name) {
  base::win::RegistryKey key;
  std::wstring value;
  if (key.Open(root, path.c_str(), KEY_READ | KEY_WOW64_32KEY) != ERROR_SUCCESS ||
      key.ReadValue(name, &value) != ERROR_SUCCESS) {
    return std::wstring();
  }
  return value;
}

// Where Wine's task scheduler keeps the definition of task |name|.
inline base::FilePath TaskFile(const std::wstring& name) {
  wchar_t windows[MAX_PATH];
  const UINT length = ::GetWindowsDirectoryW(windows, MAX_PATH);
  return base::FilePath(std::wstring(windows, length)).Append(L"system32\\Tasks").Append(name);
}

// The name of the autoupdate task of the installation |app_id|.
inline std::wstring AutoupdateTaskName(const std::string& app_id) {
  return TaskScheduler::GetTaskName(L"Autoupdate " + base::UTF8ToWide(app_id));
}

// The shortcuts on the desktops and in the start menus, and the files where
// Wine keeps scheduled tasks. (Shortcuts go directly onto a desktop, so its
// subfolders are not searched.)
inline std::set<std::wstring> ShortcutAndTaskFiles() {
  std::set<std::wstring> files;
  for (auto [key, recursive] : {std::pair{base::kPathUserDesktop, false},
                                {base::kPathCommonDesktop, false},
                                {base::kPathStartMenu, true},
                                {base::kPathCommonStartMenu, true}}) {
    base::FilePath folder;
    if (!base::PathRegistry::Get(key, &folder))
      continue;
    base::DirectoryEnumerator entries(folder, recursive, base::DirectoryEnumerator::FILES,
                                      L"*.lnk");
    for (base::FilePath file = entries.Next(); !file.empty(); file = entries.Next())
      files.insert(file.value());
  }
  base::DirectoryEnumerator tasks(TaskFile(L""), true, base::DirectoryEnumerator::FILES);
  for (base::FilePath file = tasks.Next(); !file.empty(); file = tasks.Next())
    files.insert(file.value());
  return files;
}

// Which of |keys| exist, in either root and view, each named with its root
// and view ("HKCU(32)\\...").
inline std::set<std::string> PresentRegistryKeys(const std::set<std::wstring>& keys) {
  std::set<std::string> present;
  for (const std::wstring& key : keys) {
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
      for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
        if (RegistryKeyExists(root, key, view)) {
          present.insert(std::string(root == HKEY_CURRENT_USER ? "HKCU" : "HKLM") +
                         (view == KEY_WOW64_32KEY ? "(32)\\" : "(64)\\") + base::WideToUTF8(key));
        }
      }
    }
  }
  return present;
}

// The front end's log of silent runs (the one whose command line is not a
// back end's; the back end adds its lines to it), without the lines'
// prefixes, and whether any log says a back end was launched.
struct FrontEndLog {
  std::vector<std::string> lines;
  bool backend_launched = false;
};

class SilentRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    shell_files_before_ = ShortcutAndTaskFiles();
    product_keys_before_ = ProductRegistryKeys();
    ASSERT_TRUE(temp_.CreateUniqueTempDir());
    install_folder_ = temp_.GetPath().Append(L"Velmo Demo");
    download_root_ = temp_.GetPath().Append(L"downloads");
    wchar_t saved[MAX_PATH];
    const DWORD length = ::GetEnvironmentVariableW(L"TEMP", saved, MAX_PATH);
    saved_temp_.assign(saved, length < MAX_PATH ? length : 0);
    // The children inherit the environment: their logs go to this test's
    // own folder.
    ASSERT_TRUE(::SetEnvironmentVariableW(L"TEMP", temp_.GetPath().c_str()));
    ASSERT_TRUE(::SetEnvironmentVariableW(L"TMP", temp_.GetPath().c_str()));
    // A run whose package cannot be had keeps the installers' full count of
    // retries; only the pause between them is shortened (test builds read
    // it), so that it fails in seconds instead of an hour.
    ASSERT_TRUE(::SetEnvironmentVariableW(L"VELMO_TEST_RETRY_DELAY_MS", L"20"));
  }

  void TearDown() override {
    // An installation that a failing test left behind is taken away, its
    // task along with it.
    std::vector<base::FilePath> folders = other_install_folders_;
    folders.push_back(install_folder_);
    for (const base::FilePath& folder : folders) {
      InstallLog log;
      if (!base::PathExists(folder.Append(Installation::kInstallLogFileName)) ||
          !log.Load(folder.Append(Installation::kInstallLogFileName)) || log.subfolder.empty()) {
        continue;
      }
      Run(folder.Append(log.subfolder).Append(kPackageInstallerFileName),
          {L"--uninstall", L"--silent", L"--enable-installer-stats=0"});
      if (!log.app_id.empty())
        DeleteAutoupdateTask(&log.app_id);
    }
    ::SetEnvironmentVariableW(L"TEMP", saved_temp_.c_str());
    ::SetEnvironmentVariableW(L"TMP", saved_temp_.c_str());
    ::SetEnvironmentVariableW(L"VELMO_TEST_RETRY_DELAY_MS", nullptr);
  }

  // |program| with the switches |args| ("--name" or "--name=value").
  static base::CommandLine MakeCommandLine(const base::FilePath& program,
                                           const std::vector<std::wstring>& args) {
    base::CommandLine command_line(program);
    for (const std::wstring& arg : args) {
      const size_t equals = arg.find(L'=');
      const std::string name = base::WideToUTF8(
          arg.substr(2, equals == std::wstring::npos ? std::wstring::npos : equals - 2));
      if (equals == std::wstring::npos)
        command_line.AppendSwitch(name);
      else
        command_line.AppendSwitchNative(name, arg.substr(equals + 1));
    }
    return command_line;
  }

  // Runs |program| with |args| to its end; its exit code, or -1 when it
  // could not start or did not end in time. Every process the run started
  // (back ends, the package's installer, the clean-up batch file) has ended
  // too when it returns: what a test looks at next is no longer changing.
  // |working_folder|: the run's own, as a double-click in the file manager
  // gives the program's folder (empty: this process's). |non_admin|: started
  // with a token whose Administrators group is deny-only, as a user without
  // administrator rights starts it (the emulator's user is always one).
  static int Run(const base::FilePath& program, const std::vector<std::wstring>& args,
                 const base::FilePath& working_folder = base::FilePath(), bool non_admin = false) {
    return Run(MakeCommandLine(program, args), working_folder, non_admin);
  }

  // The same for a whole |command_line|.
  static int Run(const base::CommandLine& command_line,
                 const base::FilePath& working_folder = base::FilePath(), bool non_admin = false) {
    base::Process process;
    if (non_admin) {
      process = LaunchAsNonAdmin(command_line, working_folder);
    } else {
      base::LaunchOptions options;
      options.current_directory = working_folder;
      process = base::LaunchProcess(command_line, options);
    }
    EXPECT_TRUE(process.IsValid()) << command_line.GetCommandLineString();
    if (!process.IsValid())
      return -1;
    ProcessTree tree(process.Handle());
    const ULONGLONG deadline = ::GetTickCount64() + kRunTimeoutMs;
    // Looks for the run's processes while it goes on, so that none is
    // missed.
    while (::WaitForSingleObject(process.Handle(), 20) == WAIT_TIMEOUT) {
      tree.Refresh();
      if (::GetTickCount64() > deadline) {
        ADD_FAILURE() << "did not end in time: " << command_line.GetCommandLineString() << "\n"
                      << tree.Describe();
        tree.TerminateAll();
        return -1;
      }
    }
    int exit_code = -1;
    EXPECT_TRUE(process.WaitForExit(&exit_code));
    if (!tree.WaitForAll(kRunTimeoutMs)) {
      ADD_FAILURE() << "processes of the run did not end: " << command_line.GetCommandLineString()
                    << "\n"
                    << tree.Describe();
      tree.TerminateAll();
    }
    return exit_code;
  }

  // The switches of a silent current-user installation into the test's
  // folder, without statistics and without starting the browser.
  std::vector<std::wstring> InstallSwitches(bool all_users) const {
    return {L"--silent", L"--v=1", L"--installfolder=" + install_folder_.value(),
            L"--temp-folder=" + download_root_.value(),
            std::wstring(L"--allusers=") + (all_users ? L"1" : L"0"), L"--desktopshortcut=1",
            L"--startmenushortcut=1", L"--quicklaunchshortcut=0", L"--pintotaskbar=0",
            L"--setdefaultbrowser=0", L"--launchbrowser=0", L"--enable-installer-stats=0",
            // The preference overrides come from the product's server,
            // which a test machine cannot reach.
            L"--with-feature:installer-pref-default-overrides-support=off"};
  }

  // A copy of the offline installer (and the engine beside it) in the
  // test's folder, changed by |edit|.
  base::FilePath CopyOfFullInstaller(void (*edit)(std::string* image)) {
    const base::FilePath folder = temp_.GetPath().Append(L"copy");
    EXPECT_TRUE(base::CreateDirectoryTree(folder));
    std::string image;
    EXPECT_TRUE(base::ReadFileToString(BinFolder().Append(L"velmo_installer_full.exe"), &image));
    edit(&image);
    const base::FilePath copy = folder.Append(L"velmo_installer_full.exe");
    EXPECT_EQ(static_cast<int>(image.size()),
              base::WriteFileBytes(copy, image.data(), static_cast<int>(image.size())));
    EXPECT_TRUE(base::CopySingleFile(BinFolder().Append(L"installer_engine.dll"),
                                     folder.Append(L"installer_engine.dll")));
    return copy;
  }

  // Every installer log written so far (the front end's and the back
  // ends'), each as its lines, without their prefixes; the logs are then
  // removed so that the next run starts with none.
  // |with_process_ids| keeps each line's prefix, which names the process
  // that wrote it: several processes of a run log into one file.
  std::vector<std::vector<std::string>> TakeLogs(bool with_process_ids = false) {
    std::vector<std::vector<std::string>> taken;
    const base::FilePath folder = temp_.GetPath().Append(L"Velmo Installer");
    base::DirectoryEnumerator logs(folder, false, base::DirectoryEnumerator::FILES,
                                   L"velmo_installer_*.log");
    for (base::FilePath log = logs.Next(); !log.empty(); log = logs.Next()) {
      std::string text;
      EXPECT_TRUE(base::ReadFileToString(log, &text)) << log;
      std::vector<std::string> lines =
          base::SplitString(text, "\n", base::TRIM_WHITESPACE, base::SPLIT_WANT_NONEMPTY);
      for (std::string& line : lines) {
        const size_t end = line.find("] ");
        if (end != std::string::npos && !with_process_ids)
          line = line.substr(end + 2);
      }
      taken.push_back(std::move(lines));
      base::DeletePath(log, false);
    }
    return taken;
  }

  // The lines of every log, as TakeLogs takes them, one log after another.
  std::vector<std::string> TakeLogLines(bool with_process_ids = false) {
    std::vector<std::string> lines;
    for (const std::vector<std::string>& log : TakeLogs(with_process_ids))
      lines.insert(lines.end(), log.begin(), log.end());
    return lines;
  }

  // The front end's log of the runs so far (see FrontEndLog); every log is
  // then removed, as TakeLogs does.
  FrontEndLog TakeFrontEndLog() {
    FrontEndLog front_end;
    for (std::vector<std::string>& lines : TakeLogs()) {
      for (const std::string& line : lines) {
        front_end.backend_launched =
            front_end.backend_launched || line.rfind("launching installer backend: ", 0) == 0;
      }
      if (lines.size() > 1 && lines[1].rfind("Command line: ", 0) == 0 &&
          lines[1].find("--backend") == std::string::npos) {
        front_end.lines = std::move(lines);
      }
    }
    return front_end;
  }

  static bool HasLine(const std::vector<std::string>& lines, const std::string& text) {
    for (const std::string& line : lines) {
      if (line == text)
        return true;
    }
    return false;
  }

  static bool HasLineStartingWith(const std::vector<std::string>& lines, const std::string& text) {
    for (const std::string& line : lines) {
      if (line.rfind(text, 0) == 0)
        return true;
    }
    return false;
  }

  // What |folder| holds, one path a line, for a failure message.
  static std::string ListFolder(const base::FilePath& folder) {
    std::string list;
    base::DirectoryEnumerator entries(
        folder, true, base::DirectoryEnumerator::FILES | base::DirectoryEnumerator::DIRECTORIES);
    for (base::FilePath entry = entries.Next(); !entry.empty(); entry = entries.Next())
      list += entry.AsUTF8Unsafe() + "\n";
    return list.empty() ? std::string("(nothing)\n") : list;
  }

  HKEY Root(bool all_users) const { return all_users ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER; }

  // What an installation in the test's folder shows a user: the files of
  // the package, the Add/Remove Programs entry, the shortcuts and the
  // scheduled task. Gives the installation's record. Unless |alone| (another
  // installation of the other mode is there too), no entry of the other
  // mode is there.
  InstallLog ExpectInstalled(bool all_users, bool alone = true) {
    InstallLog log;
    EXPECT_TRUE(log.Load(install_folder_.Append(Installation::kInstallLogFileName)));
    EXPECT_EQ(GetVersionString(), log.version);
    EXPECT_EQ(all_users, log.all_users);
    const base::FilePath version_folder = install_folder_.Append(log.subfolder);
    // The demo package: browser, installer, engine and the resources.
    EXPECT_GE(log.files.size(), 10u);
    for (const base::FilePath& file : log.files)
      EXPECT_TRUE(base::PathExists(version_folder.Append(file))) << file;
    EXPECT_TRUE(base::PathExists(version_folder.Append(L"resources\\locales\\en-US.pak")));
    EXPECT_TRUE(base::PathExists(install_folder_.Append(L"launcher.exe")));

    const std::wstring uninstall_key = GetUninstallKeyName(L"");
    EXPECT_EQ(install_folder_.value(),
              ReadRegistryString(Root(all_users), uninstall_key, L"InstallLocation"));
    EXPECT_EQ(base::UTF8ToWide(GetVersionString()),
              ReadRegistryString(Root(all_users), uninstall_key, L"DisplayVersion"));
    if (alone) {
      EXPECT_FALSE(RegistryKeyExists(Root(!all_users), uninstall_key));
    }

    EXPECT_FALSE(log.desktop_shortcut.empty());
    EXPECT_FALSE(log.start_menu_shortcut.empty());
    EXPECT_TRUE(base::PathExists(log.desktop_shortcut)) << log.desktop_shortcut;
    EXPECT_TRUE(base::PathExists(log.start_menu_shortcut)) << log.start_menu_shortcut;
    EXPECT_FALSE(log.app_id.empty());
    EXPECT_TRUE(base::PathExists(TaskFile(AutoupdateTaskName(log.app_id)))) << log.app_id;
    return log;
  }

  // Waits until |path| is gone: the clean-up batch file of an upgrade or an
  // uninstallation removes folders after the installer process has ended.
  static bool WaitUntilGone(const base::FilePath& path) {
    for (int waited = 0; base::PathExists(path) && waited < kFolderRemovalWaitMs; waited += 100)
      ::Sleep(100);
    return !base::PathExists(path);
  }

  // Nothing of a failed installation into the test's folder is left: no
  // folder, none of the product's own registry keys that were not there
  // before, no new shortcut, no new task.
  void ExpectNothingInstalled() {
    EXPECT_FALSE(base::PathExists(install_folder_));
    const std::set<std::string> keys = ProductRegistryKeys();
    for (const std::string& key : keys)
      EXPECT_TRUE(product_keys_before_.count(key)) << "left behind: " << key;
    const std::set<std::wstring> now = ShortcutAndTaskFiles();
    for (const std::wstring& file : now)
      EXPECT_TRUE(shell_files_before_.count(file)) << "left behind: " << base::WideToUTF8(file);
  }

  // Which of the keys that only an installation of the product makes exist,
  // in either root and view.
  static std::set<std::string> ProductRegistryKeys() {
    const std::wstring prog_id = base::UTF8ToWide(GetProductName() + GetStreamName());
    return PresentRegistryKeys({GetUninstallKeyName(L""), L"Software\\Classes\\" + prog_id,
                                L"Software\\Clients\\StartMenuInternet\\" + prog_id});
  }

  // Nothing that the installation described by |log| made is left: its
  // files, the launcher, the uninstall entry, the shortcuts, the task, and
  // at last the install folder itself, which the clean-up batch file
  // removes once it has deleted what the uninstaller's processes held.
  // Unless |alone| (another installation of the other mode stays), the
  // entry of the other mode is not looked at.
  void ExpectUninstalled(const InstallLog& log, bool alone = true) {
    const base::FilePath version_folder = install_folder_.Append(log.subfolder);
    EXPECT_TRUE(WaitUntilGone(install_folder_.Append(L"launcher.exe")));
    for (const base::FilePath& file : log.files)
      EXPECT_FALSE(base::PathExists(version_folder.Append(file))) << file;
    EXPECT_FALSE(base::PathExists(install_folder_.Append(Installation::kInstallLogFileName)));
    const std::wstring uninstall_key = GetUninstallKeyName(L"");
    EXPECT_FALSE(RegistryKeyExists(Root(log.all_users), uninstall_key));
    if (alone) {
      EXPECT_FALSE(RegistryKeyExists(Root(!log.all_users), uninstall_key));
    }
    EXPECT_FALSE(base::PathExists(log.desktop_shortcut)) << log.desktop_shortcut;
    EXPECT_FALSE(base::PathExists(log.start_menu_shortcut)) << log.start_menu_shortcut;
    EXPECT_FALSE(base::PathExists(TaskFile(AutoupdateTaskName(log.app_id))));
    EXPECT_TRUE(WaitUntilGone(install_folder_)) << ListFolder(install_folder_);
  }

  // The silent uninstallation of the installation |log| describes, with the
  // installer of its version folder, as its uninstall entry runs it.
  int Uninstall(const InstallLog& log, const base::FilePath& working_folder = base::FilePath(),
                bool non_admin = false) {
    return Run(install_folder_.Append(log.subfolder).Append(kPackageInstallerFileName),
               {L"--uninstall", L"--silent", L"--v=1", L"--enable-installer-stats=0"},
               working_folder, non_admin);
  }

  // Whether |log| ends with the cause line of a failed run that names
  // |cause|.
  static bool EndsWithCause(const FrontEndLog& log, const std::string& cause) {
    return !log.lines.empty() &&
           log.lines.back().rfind("The run failed (exit code 1): " + cause, 0) == 0;
  }

  // A package in a payload host of the real installer, which a silent run
  // refuses, and the cause the front end's log ends with. A package refused
  // when its archive is opened never starts a back end; one whose fault
  // shows only while it is decoded, or once it is unpacked, may.
  struct RefusedPackage {
    const wchar_t* host;
    const char* cause;
    bool backend_may_launch;
  };

  // Installs each of |packages| silently: each run fails, its front end's
  // log ends with its cause, and the install folder is not there.
  void ExpectEachRefusedWithItsCause(const std::vector<RefusedPackage>& packages) {
    for (const RefusedPackage& package : packages) {
      SCOPED_TRACE(package.host);
      EXPECT_EQ(1, Run(BinFolder().Append(L"payload_hosts").Append(package.host),
                       InstallSwitches(false)));
      const FrontEndLog log = TakeFrontEndLog();
      ASSERT_FALSE(log.lines.empty()) << "no front end's log";
      EXPECT_TRUE(EndsWithCause(log, package.cause)) << base::JoinString(log.lines, "\n");
      if (!package.backend_may_launch) {
        EXPECT_FALSE(log.backend_launched) << base::JoinString(log.lines, "\n");
      }
      // (Only the install folder is looked at here; the tests of single
      // failures check the rest with ExpectNothingInstalled.)
      EXPECT_FALSE(base::PathExists(install_folder_));
    }
  }

  // The silent uninstallation of |log|'s installation is refused while a
  // browser of it runs: exit code 1, and the cause last in the front end's
  // log.
  void ExpectUninstallRefusedWhileTheBrowserRuns(const InstallLog& log) {
    EXPECT_EQ(1, Uninstall(log));
    const std::vector<std::string> lines = TakeFrontEndLog().lines;
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ("The run failed (exit code 1): The installer back end failed: Can't uninstall when " +
                  base::WideToUTF8(GetBrowserExeName()) + " is in use",
              lines.back());
  }

  // The installation record is XML, read through COM.
  base::win::ScopedComInitializer com_;
  base::ScopedTempDir temp_;
  base::FilePath install_folder_;
  // Folders of further installations a test makes (install_folder_ names
  // the one it works on now); TearDown removes what is left in them too.
  std::vector<base::FilePath> other_install_folders_;
  base::FilePath download_root_;
  std::wstring saved_temp_;
  std::set<std::wstring> shell_files_before_;
  std::set<std::string> product_keys_before_;
};

}  // namespace installer::test

#endif  // DESKTOP_WINDOWS_INSTALLER_SILENT_RUN_TEST_SUPPORT_H_
