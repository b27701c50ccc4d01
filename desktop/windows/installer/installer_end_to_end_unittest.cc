// Whole runs of the real Installer with its real step lists over a demo
// package of the test's own: an installation, an upgrade by a newer version
// and the uninstallation, and every installation step failing in turn. The
// user's registry and every shell folder go to the test's temporary places
// (see step_run_test_support.h).
#include <windows.h>

#include <tlhelp32.h>

#include <cstddef>
#include <cstring>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "base/bind.h"
#include "base/features/command_line_feature_reader.h"
#include "base/features/feature_registry.h"
#include "base/files/directory_enumerator.h"
#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/json_file_deserializer.h"
#include "base/string_util.h"
#include "base/threading/current_task_runner.h"
#include "base/threading/loop_runner.h"
#include "base/utf_string_conversions.h"
#include "base/values.h"
#include "base/win/registry.h"
#include "base/win/shortcut.h"
#include "desktop/windows/installer/association_change_notice.h"
#include "desktop/windows/installer/cleanup_batch_file.h"
#include "desktop/windows/installer/cleanup_batch_test_support.h"
#include "desktop/windows/installer/installer.h"
#include "desktop/windows/installer/installer_file_steps.h"
#include "desktop/windows/installer/installer_launcher_steps.h"
#include "desktop/windows/installer/installer_registry_steps.h"
#include "desktop/windows/installer/installer_shortcuts.h"
#include "desktop/windows/installer/installer_status.h"
#include "desktop/windows/installer/launcher_steps_test_support.h"
#include "desktop/windows/installer/product_config.h"
#include "desktop/windows/installer/service/install_log.h"
#include "desktop/windows/installer/service/installation.h"
#include "desktop/windows/installer/service/registry_names.h"
#include "desktop/windows/installer/step_run_test_support.h"
// Last: its namespace installer::testing would hide ::testing in the
// headers above.
#include "desktop/windows/installer/service/transactions/machine_state_for_testing.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

using MachineState = ::installer::testing::MachineState;

constexpr wchar_t kPayloadFile[] = L"resources\\payload.pak";
constexpr wchar_t kEngineFile[] = L"installer_engine.dll";
constexpr wchar_t kRootFile[] = L"root_notes.txt";

using test::ScopedExperiments;
using test::ScopedNewerVersion;

std::wstring ReadRegistryString(HKEY root, const std::wstring& path, const wchar_t* name,
                                REGSAM view) {
  base::win::RegistryKey key;
  std::wstring value;
  if (key.Open(root, path.c_str(), KEY_READ | view) != ERROR_SUCCESS ||
      key.ReadValue(name, &value) != ERROR_SUCCESS) {
    return L"<missing>";
  }
  return value;
}

bool RegistryKeyExists(HKEY root, const std::wstring& path, REGSAM view) {
  base::win::RegistryKey key;
  return key.Open(root, path.c_str(), KEY_READ | view) == ERROR_SUCCESS;
}

base::FilePath ShortcutTarget(const base::FilePath& shortcut) {
  base::FilePath target;
  if (!base::win::ResolveShortcut(shortcut, &target, nullptr))
    return base::FilePath();
  return target;
}

// The lines of |state| that differ between |before| and |after|.
std::string Differences(const MachineState& before, const MachineState& after) {
  std::string text;
  for (const auto& [name, value] : before) {
    auto it = after.find(name);
    if (it == after.end())
      text += "  gone: " + name + "\n";
    else if (it->second != value)
      text += "  changed: " + name + "\n";
  }
  for (const auto& [name, value] : after) {
    if (!before.count(name))
      text += "  new: " + name + "\n";
  }
  return text;
}

// What of |state| is the user's registry (keys and values, both views),
// or the machine's with |machine|, without the install path the installer
// remembers on purpose (its values and the company key that holds them,
// with the keys above it) and the values the emulator writes into the
// machine's key on its own.
MachineState RegistryOf(const MachineState& state, bool machine) {
  const std::string company = base::WideToUTF8(GetCompanyRegistryKey());
  MachineState registry;
  for (const auto& [name, value] : state) {
    if (!base::StartsWith(name, "hkcu", base::CompareCase::SENSITIVE))
      continue;
    const std::string path = name.substr(name.find(':') + 1);
    const std::string key = path.substr(0, path.find_first_of("#|"));
    if (base::StartsWith(path, "Machine\\", base::CompareCase::SENSITIVE) != machine ||
        key == company || base::StartsWith(company, key + "\\", base::CompareCase::SENSITIVE) ||
        name.find("\\ProfileList") != std::string::npos) {
      continue;
    }
    registry[name] = value;
  }
  return registry;
}

// The command processors this process started that are running now.
std::set<DWORD> ChildCommandProcessors() {
  std::set<DWORD> pids;
  HANDLE raw = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (raw == INVALID_HANDLE_VALUE)
    return pids;
  base::win::ScopedHandle snapshot(raw);
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof(entry);
  for (BOOL ok = ::Process32FirstW(snapshot.Get(), &entry); ok;
       ok = ::Process32NextW(snapshot.Get(), &entry)) {
    if (entry.th32ParentProcessID == ::GetCurrentProcessId() &&
        _wcsicmp(entry.szExeFile, L"cmd.exe") == 0) {
      pids.insert(entry.th32ProcessID);
    }
  }
  return pids;
}

// Ends the command processors of |now| that were not in |before|: the
// clean-up batch file of an uninstallation waits for this process to end
// and holds its file (in the test's folder) open until then.
void EndNewCommandProcessors(const std::set<DWORD>& before, const std::set<DWORD>& now) {
  for (DWORD pid : now) {
    if (before.count(pid))
      continue;
    base::win::ScopedHandle process(::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid));
    if (!process.IsValid())
      continue;
    ::TerminateProcess(process.Get(), 1);
    ::WaitForSingleObject(process.Get(), 60000);
  }
}

class EndToEndTest : public test::StepRunTest {
 protected:
  void SetUp() override {
    StepRunTest::SetUp();
    // The machine's registry goes to a key of the test's own too: the
    // tests install for the current user and look that nothing goes there,
    // or install for all users.
    ASSERT_EQ(ERROR_SUCCESS,
              machine_root_.Create(registry_.root().Handle(), L"Machine", KEY_ALL_ACCESS));
    ASSERT_EQ(ERROR_SUCCESS, ::RegOverridePredefKey(HKEY_LOCAL_MACHINE, machine_root_.Handle()));
    // Every machine has its software key; nothing removes it.
    base::win::RegistryKey software;
    ASSERT_EQ(ERROR_SUCCESS, software.Create(machine_root_.Handle(), L"Software", KEY_ALL_ACCESS));
    const base::FilePath bin = test::GetTestBinFolder();
    // The demo package: the host installer, the engine library, a browser
    // and a launcher that record how they were started, payload files and
    // the two file lists.
    const std::wstring browser = GetBrowserExeName();
    ASSERT_TRUE(base::CopySingleFile(bin.Append(kPackageInstallerFileName),
                                     package_folder_.Append(kPackageInstallerFileName)));
    ASSERT_TRUE(base::CopySingleFile(bin.Append(kEngineFile), package_folder_.Append(kEngineFile)));
    ASSERT_TRUE(base::CopySingleFile(bin.Append(L"launcher_fixture.exe"),
                                     package_folder_.Append(kLauncherFileName)));
    ASSERT_TRUE(
        base::CopySingleFile(bin.Append(L"launcher_fixture.exe"), package_folder_.Append(browser)));
    ASSERT_TRUE(base::CreateDirectoryTree(package_folder_.Append(L"resources")));
    ASSERT_TRUE(WriteText(package_folder_.Append(kPayloadFile), "payload " + Pid()));
    ASSERT_TRUE(WriteText(package_folder_.Append(kRootFile), "root file " + Pid()));
    ASSERT_TRUE(WriteText(package_folder_.Append(kFilesListFileName),
                          base::WideToUTF8(browser) + "\r\n" + base::WideToUTF8(kEngineFile) +
                              "\r\n" + base::WideToUTF8(kPayloadFile) + "\r\n"));
    ASSERT_TRUE(WriteText(package_folder_.Append(kRootFilesListFileName),
                          base::WideToUTF8(kRootFile) + "\r\n"));
  }

  void TearDown() override {
    ::RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
    machine_root_.Close();
    // An installation a test left behind takes its scheduled task along.
    InstallLog log;
    const base::FilePath log_path = install_folder_.Append(Installation::kInstallLogFileName);
    if (base::PathExists(log_path) && log.Load(log_path) && !log.app_id.empty()) {
      DeleteAutoupdateTask(&log.app_id);
    }
    StepRunTest::TearDown();
  }

  void ResetDelegate() {
    delegate_.errors.clear();
    delegate_.succeeded = false;
    delegate_.terminated = false;
  }

  static std::string Pid() { return std::to_string(::GetCurrentProcessId()); }

  std::vector<std::wstring> InstallSwitches() const {
    return {L"--allusers=0",
            L"--desktopshortcut=1",
            L"--startmenushortcut=1",
            L"--quicklaunchshortcut=0",
            L"--pintotaskbar=0",
            L"--setdefaultbrowser=0",
            L"--launchvelmo=1",
            L"--import-bookmarks=1",
            L"--silent",
            L"--with-feature:installer-experiment-test=on"};
  }

  // Runs the installer over the settings until its run ends, with the real
  // step list unless a binder was set.
  void Run() { test::RunInstallerToItsEnd(installer_.get(), settings_.get(), &delegate_); }

  // The real list of the operation with a failing step after its step
  // |position| (before the first one when negative).
  void InjectFailureAfter(int position) {
    installer_->SetStepListBinderForTesting(
        base::Bind([position](Installer* installer, int32_t operation) -> Installer::StepList {
          Installer::StepList list = installer->BindStepList(operation);
          EXPECT_LT(position + 1, static_cast<int>(list.size()));
          list.insert(list.begin() + (position + 1), base::Bind([installer]() {
                        installer->Fail(37055, std::wstring(), "injected failure");
                      }));
          return list;
        }));
  }

  base::FilePath VersionFolder() const {
    return install_folder_.Append(base::UTF8ToWide(GetVersionString()));
  }
  base::FilePath Launcher() const { return install_folder_.Append(kLauncherFileName); }
  std::wstring ProgId() const { return base::UTF8ToWide(GetProductName() + GetStreamName()); }

  // Every file of the sandbox (the package folder aside, where the engine
  // writes its master shortcut) and every registry value of the redirected
  // current user, in both views.
  MachineState Snapshot() const {
    MachineState state;
    MachineState files;
    ::installer::testing::AddFiles(temp_dir_.GetPath(), &files);
    const std::string package = "file:" + package_folder_.BaseName().AsUTF8Unsafe();
    for (const auto& [name, value] : files) {
      if (!base::StartsWith(name, package, base::CompareCase::SENSITIVE))
        state[name] = value;
    }
    for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
      const std::string label = view == KEY_WOW64_32KEY ? "hkcu32:" : "hkcu64:";
      for (DWORD index = 0;; ++index) {
        wchar_t name[256];
        DWORD length = 256;
        if (::RegEnumKeyExW(registry_.root().Handle(), index, name, &length, nullptr, nullptr,
                            nullptr, nullptr) != ERROR_SUCCESS) {
          break;
        }
        const std::wstring child(name, length);
        ::installer::testing::AddRegistryTree(registry_.root().Handle(), child, view,
                                              label + base::WideToUTF8(child), &state);
      }
    }
    return state;
  }

  // The sandbox once the work the run left to other threads is done (the
  // preference writes of the installation's files and the broadcast of the
  // changed registration) and, up to 30 s, once it is back to |expected|:
  // the emulator writes and removes keys of its own below the machine's key
  // at times of its choosing.
  MachineState SettledSnapshot(const MachineState& expected) const {
    test::FlushPrefsWrites(install_folder_.Append(Installation::kInstallerPrefsFileName));
    EXPECT_TRUE(WaitForAssociationChangeBroadcasts(base::TimeSpan::FromSeconds(60)));
    MachineState state = Snapshot();
    for (int i = 0; i < 300 && state != expected; ++i) {
      ::Sleep(100);
      state = Snapshot();
    }
    return state;
  }

  // The installer preferences, with their experiment lists.
  std::unique_ptr<base::Value> ReadPrefs() const {
    const base::FilePath path = install_folder_.Append(Installation::kInstallerPrefsFileName);
    test::FlushPrefsWrites(path);
    std::unique_ptr<base::Value> value =
        base::JsonStringDeserializer(test::ReadText(path)).Deserialize(nullptr, nullptr);
    const base::DictValue* dict = nullptr;
    const base::Value* list = nullptr;
    if (!value || !value->GetAsDictionary(&dict) || !dict->Get("all-installer-experiments", &list))
      return nullptr;
    return value;
  }

  // A first installation of the demo package, committed.
  void Install(bool check) {
    MakeSettings(InstallSwitches());
    ASSERT_EQ(Settings::kOperationInstall, settings_->GetOperation());
    ScopedExperiments experiments(settings_->command_line());
    Run();
    ASSERT_TRUE(delegate_.succeeded) << ::testing::PrintToString(delegate_.errors);
    if (check) {
      // What the run recorded.
      const InstallLog& log = RunLog();
      EXPECT_EQ(user_desktop_.Append(GetShortcutName(false)), log.desktop_shortcut);
      EXPECT_EQ(start_menu_.Append(GetShortcutName(false)), log.start_menu_shortcut);
      EXPECT_TRUE(log.quick_launch_shortcut.empty());
    }
    FinishRun();
    ResetDelegate();
  }

  // A silent uninstallation through the real step list, to the end of its
  // run; |all_users|, when given, is the mode it must take. The clean-up
  // batch file it starts waits for this process and holds its file open
  // until then: the command processors the run started are ended here.
  // |processors_started|, when given, gets how many more of them there were
  // after the run than before it.
  void Uninstall(std::optional<bool> all_users = std::nullopt,
                 std::ptrdiff_t* processors_started = nullptr) {
    MakeSettings({L"--silent"}, /*uninstall=*/true);
    ASSERT_EQ(Settings::kOperationUninstall, settings_->GetOperation());
    if (all_users) {
      EXPECT_EQ(*all_users, settings_->IsFlagSet(Settings::ALL_USERS_FLAG));
    }
    const std::set<DWORD> processors_before = ChildCommandProcessors();
    Run();
    const std::set<DWORD> processors_after = ChildCommandProcessors();
    EndNewCommandProcessors(processors_before, processors_after);
    if (processors_started) {
      *processors_started = static_cast<std::ptrdiff_t>(processors_after.size()) -
                            static_cast<std::ptrdiff_t>(processors_before.size());
    }
    ASSERT_TRUE(delegate_.succeeded) << ::testing::PrintToString(delegate_.errors);
    FinishRun();
  }

  // Uninstalls (see Uninstall) and expects the user's registry as it was in
  // |before| and the machine's as |machine|; |after| gets the sandbox then.
  void UninstallLeavingTheRegistries(const MachineState& before, const MachineState& machine,
                                     MachineState* after,
                                     std::optional<bool> all_users = std::nullopt) {
    ASSERT_NO_FATAL_FAILURE(Uninstall(all_users));
    *after = Snapshot();
    EXPECT_EQ("", Differences(RegistryOf(before, false), RegistryOf(*after, false)));
    EXPECT_EQ("", Differences(machine, RegistryOf(*after, /*machine=*/true)));
  }

  base::win::RegistryKey machine_root_;
  test::ScopedBatchToolsPath batch_tools_;
};

// Installation, upgrade by a newer version and uninstallation of the demo
// package, each through the real installer and its real step list.
TEST_F(EndToEndTest, InstallUpgradeUninstall) {
  const std::string version1 = GetVersionString();
  const std::wstring browser = GetBrowserExeName();

  // --- Installation. ---
  ASSERT_NO_FATAL_FAILURE(Install(/*check=*/true));
  for (const wchar_t* file : {browser.c_str(), kEngineFile, kPayloadFile}) {
    EXPECT_EQ(test::ReadText(package_folder_.Append(file)),
              test::ReadText(VersionFolder().Append(file)))
        << file;
  }
  EXPECT_EQ("root file " + Pid(), test::ReadText(install_folder_.Append(kRootFile)));
  EXPECT_EQ(test::ReadText(package_folder_.Append(kLauncherFileName)), test::ReadText(Launcher()));

  InstallLog status;
  ASSERT_TRUE(status.Load(install_folder_.Append(Installation::kInstallLogFileName)));
  EXPECT_EQ(version1, status.version);
  EXPECT_EQ(base::UTF8ToWide(version1), status.subfolder.value());
  EXPECT_EQ(3u, status.files.size());
  ASSERT_EQ(1u, status.root_files.size());
  EXPECT_EQ(kRootFile, status.root_files[0].value());
  const base::FilePath desktop = user_desktop_.Append(GetShortcutName(false));
  const base::FilePath start_menu = start_menu_.Append(GetShortcutName(false));
  EXPECT_EQ(desktop, status.desktop_shortcut);
  EXPECT_EQ(start_menu, status.start_menu_shortcut);
  EXPECT_FALSE(status.app_id.empty());
  EXPECT_FALSE(status.hkcu_keys.empty());
  // What the system wrote into the machine's registry meanwhile (the shell
  // folders it looked up) is no part of the installation.
  const MachineState machine = RegistryOf(Snapshot(), /*machine=*/true);

  // The uninstall entry and the other rows, their placeholders resolved.
  const std::wstring uninstall_key = GetUninstallKeyName(L"");
  const std::wstring quoted_launcher = L"\"" + install_folder_.value() + L"\\Launcher.exe\"";
  EXPECT_EQ(base::UTF8ToWide(version1), ReadRegistryString(HKEY_CURRENT_USER, uninstall_key,
                                                           L"DisplayVersion", KEY_WOW64_32KEY));
  EXPECT_EQ(install_folder_.value(), ReadRegistryString(HKEY_CURRENT_USER, uninstall_key,
                                                        L"InstallLocation", KEY_WOW64_32KEY));
  EXPECT_EQ(
      quoted_launcher + L" /uninstall",
      ReadRegistryString(HKEY_CURRENT_USER, uninstall_key, L"UninstallString", KEY_WOW64_32KEY));
  const std::wstring display_name =
      ReadRegistryString(HKEY_CURRENT_USER, uninstall_key, L"DisplayName", KEY_WOW64_32KEY);
  EXPECT_NE(std::wstring::npos, display_name.find(base::UTF8ToWide(version1))) << display_name;
  const std::wstring command_key = L"Software\\Classes\\" + ProgId() + L"\\shell\\open\\command";
  EXPECT_EQ(quoted_launcher + L" -noautoupdate -- \"%1\"",
            ReadRegistryString(HKEY_CURRENT_USER, command_key, nullptr, KEY_WOW64_64KEY));
  // No placeholder is left in any value the run wrote.
  const MachineState installed = Snapshot();
  for (const auto& [name, value] : installed) {
    if (!base::StartsWith(name, "hkcu", base::CompareCase::SENSITIVE) ||
        name.find('#') != std::string::npos || value.rfind("1:", 0) != 0) {
      continue;
    }
    // "{" as UTF-16 ("7b00") at an even offset of the REG_SZ data.
    const std::string hex = value.substr(2);
    for (size_t at = 0; at + 4 <= hex.size(); at += 4)
      EXPECT_NE("7b00", hex.substr(at, 4)) << name;
  }

  // The shortcuts lead to the launcher.
  EXPECT_EQ(Launcher(), ShortcutTarget(desktop));
  EXPECT_EQ(Launcher(), ShortcutTarget(start_menu));

  // The installer preferences with the experiment entries.
  std::unique_ptr<base::Value> prefs = ReadPrefs();
  ASSERT_TRUE(prefs);
  const base::DictValue* dict = nullptr;
  ASSERT_TRUE(prefs->GetAsDictionary(&dict));
  const base::ListValue* changed = nullptr;
  ASSERT_TRUE(dict->GetList("installer-experiments", &changed));
  ASSERT_EQ(1u, changed->size());
  std::string entry;
  EXPECT_TRUE(changed->GetString(0, &entry));
  EXPECT_EQ(FormatExperimentEntry("installer-experiment-test", true), entry);

  // The launcher was started with the switches of a new installation.
  std::vector<std::wstring> record = test::ReadLauncherRecord(install_folder_);
  ASSERT_EQ(1u, record.size());
  EXPECT_NE(std::wstring::npos, record[0].find(L"--start-maximized")) << record[0];
  EXPECT_NE(std::wstring::npos, record[0].find(L"--import-bookmarks=1")) << record[0];
  ASSERT_TRUE(base::DeletePath(install_folder_.Append(L"launcher_command_line.txt"), false));

  // --- Upgrade by the next major version, whose installation had
  // versioned shortcut names. ---
  const std::wstring versioned1 = GetShortcutName(true);
  ASSERT_TRUE(base::MovePath(desktop, user_desktop_.Append(versioned1)));
  ASSERT_TRUE(base::MovePath(start_menu, start_menu_.Append(versioned1)));
  status.desktop_shortcut = user_desktop_.Append(versioned1);
  status.start_menu_shortcut = start_menu_.Append(versioned1);
  ASSERT_TRUE(status.Save(install_folder_.Append(Installation::kInstallLogFileName)));
  const std::string old_status_text =
      test::ReadText(install_folder_.Append(Installation::kInstallLogFileName));
  {
    ScopedNewerVersion newer(1);
    const std::string version2 = GetVersionString();
    ASSERT_NE(version1, version2);
    const std::wstring versioned2 = GetShortcutName(true);
    ASSERT_NE(versioned1, versioned2);

    MakeSettings(InstallSwitches());
    ASSERT_EQ(Settings::kOperationUpgrade, settings_->GetOperation());
    // The installation for the current user stays one: its shortcuts stay
    // in the user's folders and its rows in the user's registry.
    ASSERT_FALSE(settings_->IsFlagSet(Settings::ALL_USERS_FLAG));
    {
      ScopedExperiments experiments(settings_->command_line());
      Run();
    }
    ASSERT_TRUE(delegate_.succeeded) << ::testing::PrintToString(delegate_.errors);
    const std::string app_id = RunLog().app_id;
    EXPECT_EQ(status.app_id, app_id);
    FinishRun();
    ResetDelegate();

    // The files of the new version; the old version's stay until the next
    // upgrade, its status preserved.
    EXPECT_EQ(test::ReadText(package_folder_.Append(kPayloadFile)),
              test::ReadText(VersionFolder().Append(kPayloadFile)));
    EXPECT_TRUE(base::PathExists(install_folder_.Append(base::UTF8ToWide(version1))));
    InstallLog upgraded;
    ASSERT_TRUE(upgraded.Load(install_folder_.Append(Installation::kInstallLogFileName)));
    EXPECT_EQ(version2, upgraded.version);
    const std::vector<base::FilePath> preserved = test::PreservedStatusFiles(install_folder_);
    ASSERT_EQ(1u, preserved.size());
    EXPECT_EQ(old_status_text, test::ReadText(preserved[0]));

    // The versioned shortcuts carry the new version's name now.
    for (const base::FilePath& folder : {user_desktop_, start_menu_}) {
      EXPECT_FALSE(base::PathExists(folder.Append(versioned1))) << folder;
      EXPECT_EQ(Launcher(), ShortcutTarget(folder.Append(versioned2))) << folder;
    }
    EXPECT_EQ(user_desktop_.Append(versioned2), upgraded.desktop_shortcut);
    EXPECT_EQ(start_menu_.Append(versioned2), upgraded.start_menu_shortcut);
    EXPECT_FALSE(upgraded.all_users);
    EXPECT_TRUE(upgraded.hklm_keys.empty());
    // The new version's uninstall entry replaces the old one, under the
    // user's root; nothing went to the machine's registry.
    EXPECT_FALSE(RegistryKeyExists(HKEY_CURRENT_USER, uninstall_key, KEY_WOW64_32KEY));
    EXPECT_EQ(base::UTF8ToWide(version2),
              ReadRegistryString(HKEY_CURRENT_USER, GetUninstallKeyName(L""), L"DisplayVersion",
                                 KEY_WOW64_32KEY));
    EXPECT_EQ("", Differences(machine, RegistryOf(Snapshot(), /*machine=*/true)));
    // An upgrade starts the launcher without the new installation's switch.
    record = test::ReadLauncherRecord(install_folder_);
    ASSERT_EQ(1u, record.size());
    EXPECT_EQ(std::wstring::npos, record[0].find(L"--start-maximized")) << record[0];
    ASSERT_TRUE(base::DeletePath(install_folder_.Append(L"launcher_command_line.txt"), false));

    // --- Uninstallation. ---
    std::ptrdiff_t processors_started = 0;
    ASSERT_NO_FATAL_FAILURE(Uninstall(std::nullopt, &processors_started));
    // The run started the clean-up batch file.
    EXPECT_LT(0, processors_started);

    const MachineState after = Snapshot();
    // No registry value of the installation is left.
    for (const auto& [name, value] : after) {
      if (!base::StartsWith(name, "hkcu", base::CompareCase::SENSITIVE) ||
          name.find('#') != std::string::npos) {
        continue;
      }
      // The system's own profile folder value, which the emulator writes
      // into the machine's key on first use, is no value of the
      // installation.
      if (name.find("\\ProfileList|") != std::string::npos)
        continue;
      // Only the remembered install path of the company key may stay.
      EXPECT_NE(std::string::npos, name.find("Install Path")) << name << " = " << value;
    }
    for (const base::FilePath& folder :
         {user_desktop_, start_menu_, common_desktop_, common_start_menu_}) {
      EXPECT_FALSE(base::PathExists(folder.Append(versioned2))) << folder;
    }
    EXPECT_FALSE(base::PathExists(install_folder_.Append(Installation::kInstallLogFileName)));
    EXPECT_FALSE(base::PathExists(Launcher()));
    EXPECT_FALSE(base::PathExists(install_folder_.Append(kRootFile)));
    EXPECT_FALSE(base::PathExists(VersionFolder()));
    // What is left in the install folder is for the clean-up batch file.
    std::vector<std::string> left;
    const std::string prefix = "file:" + install_folder_.BaseName().AsUTF8Unsafe() + "\\";
    for (const auto& [name, value] : after) {
      if (base::StartsWith(name, prefix, base::CompareCase::SENSITIVE))
        left.push_back(name.substr(prefix.size()));
    }
    EXPECT_TRUE(base::PathExists(install_folder_.Append(kCleanupBatchFileName)));
    for (const std::string& name : left) {
      EXPECT_TRUE(name == base::WideToUTF8(kCleanupBatchFileName) ||
                  name == base::WideToUTF8(Installation::kInstallerPrefsFileName))
          << name;
    }
  }
}

// An installation for the current user, upgraded and then installed over
// itself again (the same version): each run keeps it the user's, with the
// new registration and root files, and writes nothing into the machine's
// registry; the uninstallation leaves no key or value of it (but the
// remembered install path) and nothing outside the install folder, which
// the clean-up batch file removes.
TEST_F(EndToEndTest, PerUserUpgradeAndReinstallStayTheUsersAndLeaveNothing) {
  const MachineState before = Snapshot();
  ASSERT_NO_FATAL_FAILURE(Install(/*check=*/false));
  // What the system wrote into the machine's registry meanwhile (the shell
  // folders it looked up) is no part of the installation.
  const MachineState machine = RegistryOf(Snapshot(), /*machine=*/true);

  const std::wstring classes = L"Software\\Classes\\" + ProgId();
  const std::wstring clients = L"Software\\Clients\\StartMenuInternet\\" + ProgId();
  const std::wstring app_paths =
      L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\" + GetBrowserExeName();
  for (const char* run : {"upgrade", "re-installation"}) {
    SCOPED_TRACE(run);
    ScopedNewerVersion newer(1);
    ASSERT_TRUE(WriteText(package_folder_.Append(kRootFile), std::string("new root ") + run));
    MakeSettings(InstallSwitches());
    ASSERT_EQ(Settings::kOperationUpgrade, settings_->GetOperation());
    ASSERT_FALSE(settings_->IsFlagSet(Settings::ALL_USERS_FLAG));
    {
      ScopedExperiments experiments(settings_->command_line());
      Run();
    }
    ASSERT_TRUE(delegate_.succeeded) << ::testing::PrintToString(delegate_.errors);
    EXPECT_FALSE(RunLog().all_users);
    EXPECT_TRUE(RunLog().hklm_keys.empty());
    // One record a key.
    std::set<std::string> paths;
    for (const InstallLogRegistryKey& record : RunLog().hkcu_keys)
      EXPECT_TRUE(paths.insert(base::ToLowerASCII(record.path)).second) << record.path;
    FinishRun();
    ResetDelegate();
    EXPECT_EQ(std::string("new root ") + run, test::ReadText(install_folder_.Append(kRootFile)));
    for (const std::wstring& key : {classes, clients, app_paths})
      EXPECT_TRUE(RegistryKeyExists(HKEY_CURRENT_USER, key, KEY_WOW64_64KEY)) << key;
    EXPECT_EQ(L"\"" + install_folder_.value() + L"\\Launcher.exe\"",
              ReadRegistryString(HKEY_CURRENT_USER, app_paths, nullptr, KEY_WOW64_64KEY));
    EXPECT_EQ("", Differences(machine, RegistryOf(Snapshot(), /*machine=*/true)));
  }

  MachineState after;
  ASSERT_NO_FATAL_FAILURE(
      UninstallLeavingTheRegistries(before, machine, &after, /*all_users=*/false));
  const std::string install_prefix = "file:" + install_folder_.BaseName().AsUTF8Unsafe();
  for (const auto& [name, value] : after) {
    if (base::StartsWith(name, "file:", base::CompareCase::SENSITIVE) && !before.count(name) &&
        !base::StartsWith(name, install_prefix, base::CompareCase::SENSITIVE)) {
      ADD_FAILURE() << "left behind: " << name;
    }
  }
}

// An installation whose install log has no all-users flag (as the former
// engine wrote them) and keys of its user is one for all users: its upgrade
// registers under the machine's root. The new install log keeps the records
// of what the clean-up left under the user's root (the keys the first
// registration created), so that the uninstallation removes both
// generations' registration.
TEST_F(EndToEndTest, UpgradeUnderTheOtherRootKeepsTheRecordsOfWhatIsLeft) {
  const MachineState before = Snapshot();
  ASSERT_NO_FATAL_FAILURE(Install(/*check=*/false));
  const MachineState machine = RegistryOf(Snapshot(), /*machine=*/true);
  const base::FilePath log_path = install_folder_.Append(Installation::kInstallLogFileName);
  std::string text = test::ReadText(log_path);
  const size_t flag = text.find(" all_users=\"0\"");
  ASSERT_NE(std::string::npos, flag) << text;
  text.erase(flag, std::strlen(" all_users=\"0\""));
  ASSERT_TRUE(WriteText(log_path, text));

  ScopedNewerVersion newer(1);
  MakeSettings(InstallSwitches());
  ASSERT_EQ(Settings::kOperationUpgrade, settings_->GetOperation());
  ASSERT_TRUE(settings_->IsFlagSet(Settings::ALL_USERS_FLAG));
  {
    ScopedExperiments experiments(settings_->command_line());
    Run();
  }
  ASSERT_TRUE(delegate_.succeeded) << ::testing::PrintToString(delegate_.errors);
  EXPECT_TRUE(RunLog().all_users);
  EXPECT_FALSE(RunLog().hklm_keys.empty());
  EXPECT_FALSE(RunLog().hkcu_keys.empty());
  FinishRun();
  ResetDelegate();

  MachineState after;
  UninstallLeavingTheRegistries(before, machine, &after);
}

// Every step of an installation failing in turn: the run leaves the sandbox
// (files, registry values, shortcuts) as it found it.
TEST_F(EndToEndTest, FailingEachInstallationStepRestoresTheMachine) {
  size_t steps = 0;
  {
    MakeSettings(InstallSwitches());
    steps = installer_->BindStepList(settings_->GetOperation()).size();
    FinishRun();
  }
  ASSERT_EQ(8u, steps);
  const MachineState before = Snapshot();
  ASSERT_FALSE(before.empty());
  for (int position = -1; position + 1 < static_cast<int>(steps); ++position) {
    SCOPED_TRACE("failure after step " + std::to_string(position));
    MakeSettings(InstallSwitches());
    ASSERT_EQ(Settings::kOperationInstall, settings_->GetOperation());
    ScopedExperiments experiments(settings_->command_line());
    InjectFailureAfter(position);
    Run();
    EXPECT_FALSE(delegate_.succeeded);
    EXPECT_TRUE(delegate_.terminated);
    ASSERT_EQ(1u, delegate_.errors.size()) << ::testing::PrintToString(delegate_.errors);
    EXPECT_EQ("injected failure", delegate_.errors[0]);
    FinishRun();
    ResetDelegate();
    const MachineState after = SettledSnapshot(before);
    EXPECT_TRUE(before == after) << Differences(before, after);
  }
}

// Every step of an upgrade and of an uninstallation failing in turn: the
// installation stays as it was.
TEST_F(EndToEndTest, FailingEachUpgradeAndUninstallationStepKeepsTheInstallation) {
  ASSERT_NO_FATAL_FAILURE(Install(/*check=*/false));
  ReadPrefs();
  ASSERT_TRUE(base::DeletePath(install_folder_.Append(L"launcher_command_line.txt"), false));
  const MachineState before = Snapshot();
  ScopedNewerVersion newer(1);
  for (bool uninstall : {false, true}) {
    size_t steps = 0;
    {
      MakeSettings(uninstall ? std::vector<std::wstring>{L"--silent"} : InstallSwitches(),
                   uninstall);
      steps = installer_->BindStepList(settings_->GetOperation()).size();
      FinishRun();
    }
    ASSERT_EQ(uninstall ? 6u : 12u, steps);
    for (int position = -1; position + 1 < static_cast<int>(steps); ++position) {
      SCOPED_TRACE((uninstall ? "uninstallation" : "upgrade") + std::string(" failing after ") +
                   std::to_string(position));
      MakeSettings(uninstall ? std::vector<std::wstring>{L"--silent"} : InstallSwitches(),
                   uninstall);
      ASSERT_EQ(uninstall ? Settings::kOperationUninstall : Settings::kOperationUpgrade,
                settings_->GetOperation());
      ScopedExperiments experiments(settings_->command_line());
      InjectFailureAfter(position);
      Run();
      EXPECT_FALSE(delegate_.succeeded);
      ASSERT_EQ(1u, delegate_.errors.size()) << ::testing::PrintToString(delegate_.errors);
      FinishRun();
      ResetDelegate();
      const MachineState after = SettledSnapshot(before);
      EXPECT_TRUE(before == after) << Differences(before, after);
    }
  }
}

}  // namespace
// An installation whose install log was tampered with after it was made
// (entries and registry records that reach outside the product, an entry
// built to break out of its quotes in the clean-up batch file): the whole
// uninstallation still removes the installation and its registration, and
// every file and registry value that was on the machine before the
// installation stays exactly as it was.
TEST_F(EndToEndTest, UninstallOfATamperedInstallationKeepsTheRestOfTheMachine) {
  const base::FilePath top = temp_dir_.GetPath();
  ASSERT_TRUE(base::CreateDirectoryTree(top.Append(L"outside\\sub")));
  for (const wchar_t* file : {L"outside\\decoy.txt", L"outside\\sub\\x.txt", L"x"})
    ASSERT_TRUE(WriteText(top.Append(file), "someone else's"));
  const HKEY cu = HKEY_CURRENT_USER;
  const std::wstring other_product = GetUninstallRegistryKey() + L"\\Other Product 1.0";
  // This product's entry of another installation, in another folder.
  const std::wstring elsewhere =
      GetUninstallRegistryKey() + L"\\" + base::UTF8ToWide(GetProductName()) + L" Stable 0.1";
  const struct {
    std::wstring key;
    const wchar_t* name;
    REGSAM view;
  } decoys[] = {
      {L"Software\\Microsoft\\Windows\\CurrentVersion\\Run", L"DecoyRun", KEY_WOW64_64KEY},
      {L"Software\\Classes\\.html", nullptr, KEY_WOW64_64KEY},
      {L"Software\\Classes\\.html\\OpenWithProgIDs", L"htmlfile", KEY_WOW64_64KEY},
      {L"Software\\DecoyVendor\\Product\\Sub", L"V", KEY_WOW64_64KEY},
      {L"Software\\Classes\\DecoyApp\\a\\b", L"V", KEY_WOW64_64KEY},
      {L"Software\\Classes\\Applications\\other.exe\\shell\\open\\command", nullptr,
       KEY_WOW64_64KEY},
      {L"Software\\RegisteredApplications", L"Other App", KEY_WOW64_64KEY},
      {other_product, L"InstallLocation", KEY_WOW64_32KEY},
      {elsewhere, L"InstallLocation", KEY_WOW64_32KEY},
  };
  for (const auto& decoy : decoys) {
    base::win::RegistryKey key;
    ASSERT_EQ(ERROR_SUCCESS, key.Create(cu, decoy.key.c_str(), KEY_ALL_ACCESS | decoy.view));
    ASSERT_EQ(ERROR_SUCCESS, key.WriteValue(decoy.name, L"C:\\Other\\other.exe"));
  }
  const MachineState before = Snapshot();

  ASSERT_NO_FATAL_FAILURE(Install(/*check=*/false));
  // The record the demo launcher leaves of its start is no file of the
  // installation.
  ASSERT_EQ(1u, test::ReadLauncherRecord(install_folder_).size());
  ASSERT_TRUE(base::DeletePath(install_folder_.Append(L"launcher_command_line.txt"), false));
  InstallLog log;
  ASSERT_TRUE(log.Load(install_folder_.Append(Installation::kInstallLogFileName)));
  for (const std::wstring& entry :
       {std::wstring(L"..\\..\\outside\\decoy.txt"), std::wstring(L"../../x"),
        std::wstring(L"\\..\\..\\x"),
        L"x\" & echo PWNED>\"" + top.Append(L"pwned.txt").value() + L"\" & rem \".dll"}) {
    log.files.push_back(base::FilePath(entry));
  }
  log.root_files.push_back(base::FilePath(L"..\\outside\\sub\\x.txt"));
  auto u8 = [](const std::wstring& text) { return base::WideToUTF8(text); };
  const std::vector<InstallLogRegistryKey> hostile = {
      {"Software\\Microsoft\\Windows\\CurrentVersion\\Run", 0, {{"REG_SZ", L"DecoyRun", L""}}},
      {"Software\\Classes\\.html", 1, {}},
      {"Software\\Classes\\.html\\OpenWithProgIDs", 0, {{"REG_SZ", L"htmlfile", L""}}},
      {"Software\\Classes\\.html\\OpenWithProgIDs", 1, {}},
      {"Software\\DecoyVendor\\Product", 2, {}},
      {"Software\\Classes\\DecoyApp\\a\\b", 3, {}},
      {u8(other_product), 1, {}},
      {u8(other_product), 0, {{"REG_SZ", L"InstallLocation", L""}}},
      {u8(elsewhere), 1, {}},
      {"Software\\Classes\\Applications\\other.exe\\shell\\open\\command", 4, {}},
      {"Software\\RegisteredApplications", 0, {{"REG_SZ", L"Other App", L""}}},
  };
  log.hkcu_keys.insert(log.hkcu_keys.end(), hostile.begin(), hostile.end());
  ASSERT_TRUE(log.Save(install_folder_.Append(Installation::kInstallLogFileName)));

  ASSERT_NO_FATAL_FAILURE(Uninstall());

  const MachineState after = Snapshot();
  for (const auto& [name, value] : before) {
    auto it = after.find(name);
    EXPECT_TRUE(it != after.end() && it->second == value) << name;
  }
  // What is new: keys left empty, the remembered install path, and in the
  // install folder only what the clean-up batch file takes.
  const std::string install_prefix = "file:" + install_folder_.BaseName().AsUTF8Unsafe();
  for (const auto& [name, value] : after) {
    if (before.count(name) || base::EndsWith(name, "#security", base::CompareCase::SENSITIVE) ||
        name.find("Install Path") != std::string::npos ||
        name.find("\\ProfileList|") != std::string::npos) {
      continue;
    }
    const bool batch_leftover =
        name == install_prefix || name == install_prefix + "\\" + u8(kCleanupBatchFileName) ||
        name == install_prefix + "\\" + u8(Installation::kInstallerPrefsFileName);
    EXPECT_TRUE(batch_leftover) << name << " = " << value;
  }
  const std::string batch = test::ReadText(install_folder_.Append(kCleanupBatchFileName));
  EXPECT_EQ(std::string::npos, batch.find("PWNED")) << batch;
  EXPECT_EQ(std::string::npos, batch.find("outside")) << batch;
  EXPECT_FALSE(base::PathExists(VersionFolder()));
  EXPECT_FALSE(RegistryKeyExists(cu, GetUninstallKeyName(L""), KEY_WOW64_32KEY));
  EXPECT_FALSE(RegistryKeyExists(cu, L"Software\\Classes\\" + ProgId(), KEY_WOW64_64KEY));
}

}  // namespace installer
