#include "desktop/windows/installer/installer_status.h"

#include <windows.h>

#include <string>

#include "base/features/feature_registry.h"
#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/files/path_registry.h"
#include "base/files/scoped_temp_dir.h"
#include "base/win/registry.h"
#include "base/win/scoped_com.h"
#include "base/win/shortcut.h"
#include "desktop/windows/installer/ipc/ipc_test_util.h"
#include "desktop/windows/installer/product_config.h"
#include "desktop/windows/installer/service/installation.h"
#include "desktop/windows/installer/service/registry_names.h"
#include "desktop/windows/installer/settings_test_support.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

void WriteText(const base::FilePath& path, const std::string& text) {
  ASSERT_EQ(static_cast<int>(text.size()),
            base::WriteFileBytes(path, text.data(), static_cast<int>(text.size())));
}

// Remembers the rights the status asked for, and answers no.
base::FilePath g_checked_path;
DWORD g_checked_mask = 0;
bool DenyAccess(const base::FilePath& path, DWORD mask) {
  g_checked_path = path;
  g_checked_mask = mask;
  return false;
}

class InstallerStatusTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(temp_dir_.CreateUniqueTempDir());
    folder_ = temp_dir_.GetPath().Append(L"Velmo");
    ASSERT_TRUE(base::CreateDirectoryTree(folder_));
    // Pins and the temporary shortcut folder are looked for below the
    // start menu; keep that inside the test's folder.
    ASSERT_TRUE(base::PathRegistry::Override(base::kPathStartMenu,
                                             temp_dir_.GetPath().Append(L"StartMenu")));
  }
  void TearDown() override {
    base::PathRegistry::ClearOverridesForTesting();
    InstallerStatus::SetAccessCheckerForTesting(nullptr);
  }

  // An install log of this engine in |folder_|.
  void WriteInstallLog(const InstallLog& log) {
    ASSERT_TRUE(log.Save(folder_.Append(Installation::kInstallLogFileName)));
  }
  base::FilePath BrowserExe() const { return folder_.Append(GetBrowserExeName()); }

  base::win::ScopedComInitializer com_;
  base::ScopedTempDir temp_dir_;
  base::FilePath folder_;
};

TEST_F(InstallerStatusTest, InvalidFolders) {
  struct Case {
    base::FilePath folder;
  };
  // A drive letter that does not exist.
  const DWORD drives = ::GetLogicalDrives();
  wchar_t missing = 0;
  for (wchar_t letter = L'Z'; letter > L'D'; --letter) {
    if (!(drives & (1u << (letter - L'A')))) {
      missing = letter;
      break;
    }
  }
  ASSERT_NE(0, missing);
  const base::FilePath file = temp_dir_.GetPath().Append(L"file.txt");
  WriteText(file, "x");
  for (const base::FilePath& folder : {base::FilePath(), base::FilePath(L"relative\\Velmo"),
                                       base::FilePath(temp_dir_.GetPath().value() + L"\\bad|name"),
                                       base::FilePath(std::wstring(1, missing) + L":\\Velmo\\Sub"),
                                       file, file.Append(L"Sub\\Velmo")}) {
    InstallerStatus status(false);
    status.Init(folder);
    EXPECT_FALSE(status.valid_install_path()) << folder;
    EXPECT_FALSE(status.existing_installation()) << folder;
    EXPECT_EQ(folder, status.install_folder());
  }
}

TEST_F(InstallerStatusTest, FolderBelowAnExistingOne) {
  const base::FilePath folder = folder_.Append(L"One\\Two");
  InstallerStatus status(false);
  status.Init(folder);
  EXPECT_TRUE(status.valid_install_path());
  EXPECT_EQ(folder_, status.parent_folder());
  EXPECT_FALSE(status.existing_installation());
  EXPECT_FALSE(status.existing_installation_traces());
  EXPECT_TRUE(status.has_write_access());
}

TEST_F(InstallerStatusTest, WriteAccessAskedOfTheRightFolder) {
  InstallerStatus::SetAccessCheckerForTesting(&DenyAccess);
  {
    InstallerStatus status(false);
    status.Init(folder_);
    EXPECT_TRUE(status.valid_install_path());
    EXPECT_FALSE(status.has_write_access());
    EXPECT_EQ(folder_, g_checked_path);
    EXPECT_EQ(InstallerStatus::kFolderAccessMask, g_checked_mask);
  }
  {
    InstallerStatus status(false);
    status.Init(folder_.Append(L"New"));
    EXPECT_FALSE(status.has_write_access());
    EXPECT_EQ(folder_, g_checked_path);
    EXPECT_EQ(static_cast<DWORD>(FILE_ADD_SUBDIRECTORY), g_checked_mask);
  }
}

TEST_F(InstallerStatusTest, LauncherWithoutLogLeavesTraces) {
  WriteText(folder_.Append(kLauncherFileName), "MZ");
  InstallerStatus status(false);
  status.Init(folder_);
  EXPECT_TRUE(status.valid_install_path());
  EXPECT_FALSE(status.existing_installation());
  EXPECT_TRUE(status.existing_installation_traces());
  EXPECT_EQ(folder_, status.parent_folder());
}

TEST_F(InstallerStatusTest, FormerEngineInstallation) {
  InstallLog log;
  log.version = "12.17";
  log.hkcu_keys.push_back({"Software\\Velmo", 0, {}});
  const base::FilePath log_path = folder_.Append(kTarselInstallLogFileName);
  ASSERT_TRUE(log.Save(log_path));
  // The former engine wrote no all-users flag.
  std::string text;
  ASSERT_TRUE(base::ReadFileToString(log_path, &text));
  const std::string flag = " all_users=\"0\"";
  ASSERT_NE(std::string::npos, text.find(flag));
  text.erase(text.find(flag), flag.size());
  WriteText(log_path, text);
  WriteText(folder_.Append(kOldPrefsDefaultFileName),
            "[System]\r\nVelmo Product=2\r\nMulti User=0\r\n"
            "[User Prefs]\r\nLanguage Files Directory=C:\\Velmo\\locale\\de\\\r\n");
  // The former engine's preferences are never taken from this file.
  WriteText(folder_.Append(Installation::kInstallerPrefsFileName), "{\"language\": \"fr\"}");
  for (bool replace : {false, true}) {
    InstallerStatus status(replace);
    status.Init(folder_);
    EXPECT_TRUE(status.tarsel_installation());
    EXPECT_EQ(replace, status.existing_installation());
    EXPECT_TRUE(status.all_users);  // No flag, and it registered keys.
    EXPECT_EQ(2, status.old_product_type());
    EXPECT_EQ(1, status.single_profile());
    EXPECT_EQ(L"de", status.language());
  }
}

TEST_F(InstallerStatusTest, ExistingInstallationWithPreferences) {
  InstallLog log;
  log.version = "43.0.2442.991";
  log.copy_only = true;
  log.subfolder = base::FilePath(L"43.0.2442.991");
  WriteInstallLog(log);
  WriteText(folder_.Append(kServerTrackingDataFileName), "tracking-blob");
  WriteText(folder_.Append(Installation::kInstallerPrefsFileName),
            "{\"single_profile\": true, \"import_browser_data\": false,"
            " \"enable_stats\": true, \"language\": \"nb\", \"welcome-url\": \"https://w/\","
            " \"all-installer-experiments\": [\"installer-experiment-test@1\"]}");
  // The profile's own language wins over the installer's record.
  ASSERT_TRUE(base::CreateDirectoryTree(folder_.Append(L"data")));
  WriteText(folder_.Append(L"data").Append(kLocalStateFileName),
            "{\"intl\": {\"app_locale\": \"pt-BR\"}}");
  WriteText(folder_.Append(kOldPrefsDefaultFileName), "[System]\r\nMulti User=1\r\n");

  InstallerStatus status(false);
  status.Init(folder_);
  EXPECT_TRUE(status.existing_installation());
  EXPECT_FALSE(status.tarsel_installation());
  EXPECT_TRUE(status.copy_only);  // Nothing registered: still stand-alone.
  EXPECT_FALSE(status.all_users);
  EXPECT_EQ("tracking-blob", status.tracking_data());
  EXPECT_EQ(1, status.single_profile());
  EXPECT_EQ(0, status.import_browser_data());
  EXPECT_EQ(1, status.enable_stats());
  EXPECT_EQ("https://w/", status.welcome_url());
  EXPECT_EQ(folder_.Append(L"data"), status.profile_path());
  EXPECT_EQ(L"pt-BR", status.language());
  EXPECT_TRUE(status.experiments().IsEnabled("installer-experiment-test"));
  // Preferences were read: the old defaults file is not.
  EXPECT_EQ(-1, status.old_product_type());
  EXPECT_FALSE(status.is_http_handler());
}

// The recorded list holds every experiment's state, those this build fixes
// included: reading them back is no error, and the others are taken over.
TEST_F(InstallerStatusTest, RecordedStatesOfFixedExperimentsAreNoError) {
  base::FeatureRegistry registry;
  RegisterInstallerExperiments(registry);
  const char kFixed[] = "installer-hide-from-program-and-features";
  ASSERT_TRUE(registry.IsRegistered(kFixed));
  ASSERT_FALSE(registry.IsOverridable(kFixed));
  InstallLog log;
  log.version = "43.0.2442.991";
  WriteInstallLog(log);
  WriteText(folder_.Append(Installation::kInstallerPrefsFileName),
            std::string("{\"all-installer-experiments\": [\"") + kFixed +
                "@1\", \"installer-experiment-test@1\"]}");
  test::ScopedLogCapture capture;
  InstallerStatus status(false);
  status.Init(folder_);
  EXPECT_TRUE(status.experiments().IsEnabled("installer-experiment-test"));
  EXPECT_EQ(0, capture.Count("Ignoring override"));
}

TEST_F(InstallerStatusTest, PreferencesWithoutSingleProfile) {
  InstallLog log;
  log.version = "43.0.2442.991";
  log.start_menu_shortcut = base::FilePath(L"C:\\nowhere.lnk");
  WriteInstallLog(log);
  WriteText(folder_.Append(Installation::kInstallerPrefsFileName), "{\"language\": \"de\"}");
  InstallerStatus status(false);
  status.Init(folder_);
  EXPECT_TRUE(status.existing_installation());
  EXPECT_FALSE(status.copy_only);
  EXPECT_TRUE(status.all_users == false);
  EXPECT_EQ(-1, status.single_profile());
  EXPECT_EQ(L"de", status.language());
}

TEST_F(InstallerStatusTest, ShortcutsToTheBrowserAreRecreated) {
  WriteText(BrowserExe(), "MZ");
  WriteText(folder_.Append(kLauncherFileName), "MZ");
  const base::FilePath desktop = temp_dir_.GetPath().Append(L"Velmo desktop.lnk");
  const base::FilePath quick = temp_dir_.GetPath().Append(L"Velmo quick.lnk");
  const base::FilePath elsewhere = temp_dir_.GetPath().Append(L"Other.lnk");
  base::win::ShortcutSpec to_browser;
  to_browser.set_target(BrowserExe());
  ASSERT_TRUE(base::win::WriteShortcut(desktop, to_browser, base::win::kShortcutCreateAlways));
  base::win::ShortcutSpec to_launcher;
  to_launcher.set_target(folder_.Append(kLauncherFileName));
  ASSERT_TRUE(base::win::WriteShortcut(quick, to_launcher, base::win::kShortcutCreateAlways));
  base::win::ShortcutSpec to_other;
  to_other.set_target(temp_dir_.GetPath().Append(L"file.txt"));
  WriteText(temp_dir_.GetPath().Append(L"file.txt"), "x");
  ASSERT_TRUE(base::win::WriteShortcut(elsewhere, to_other, base::win::kShortcutCreateAlways));
  ASSERT_TRUE(base::CreateDirectoryTree(
      temp_dir_.GetPath().Append(L"StartMenu").Append(kTemporaryShortcutFolderName)));

  InstallLog log;
  log.version = "43.0.2442.991";
  log.desktop_shortcut = desktop;
  log.quick_launch_shortcut = quick;
  log.start_menu_shortcut = elsewhere;
  WriteInstallLog(log);

  InstallerStatus status(false);
  status.Init(folder_);
  ASSERT_TRUE(status.existing_installation());
  EXPECT_EQ(1, status.desktop_shortcut_exists());
  EXPECT_TRUE(status.recreate_desktop_shortcut());
  EXPECT_EQ(1, status.quick_launch_shortcut_exists());
  EXPECT_FALSE(status.recreate_quick_launch_shortcut());  // It leads to the launcher.
  EXPECT_EQ(0, status.start_menu_shortcut_exists());
  EXPECT_TRUE(status.temporary_shortcut_folder_exists());
  EXPECT_EQ(temp_dir_.GetPath().Append(L"StartMenu").Append(kTemporaryShortcutFolderName),
            status.temporary_shortcut_folder());
  EXPECT_TRUE(status.pinned_shortcut_path().empty());
}

// The http handler lives in the user's registry hive: the test points
// HKEY_CURRENT_USER of this process at a key of its own for the check.
TEST_F(InstallerStatusTest, InstallationThatHandlesHttp) {
  test::ScopedTestRegistryKey hive("HttpHandler");
  base::win::RegistryKey root;
  ASSERT_EQ(ERROR_SUCCESS, root.Open(HKEY_CURRENT_USER, hive.path().c_str(), KEY_ALL_ACCESS));
  base::win::RegistryKey command;
  ASSERT_EQ(ERROR_SUCCESS,
            command.Create(root.Handle(), L"Software\\Classes\\http\\shell\\open\\command",
                           KEY_ALL_ACCESS));
  ASSERT_EQ(
      ERROR_SUCCESS,
      command.WriteValue(L"", L"\"" + folder_.Append(kLauncherFileName).value() + L"\" -- \"%1\""));
  WriteText(folder_.Append(kLauncherFileName), "MZ");
  InstallLog log;
  log.version = "43.0.2442.991";
  WriteInstallLog(log);

  InstallerStatus status(false);
  ASSERT_EQ(ERROR_SUCCESS, ::RegOverridePredefKey(HKEY_CURRENT_USER, root.Handle()));
  status.Init(folder_);
  ::RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
  EXPECT_TRUE(status.existing_installation());
  EXPECT_TRUE(status.is_http_handler());

  // Another folder is not the handler.
  const base::FilePath other = temp_dir_.GetPath().Append(L"Other");
  ASSERT_TRUE(base::CreateDirectoryTree(other));
  ASSERT_TRUE(log.Save(other.Append(Installation::kInstallLogFileName)));
  InstallerStatus other_status(false);
  ASSERT_EQ(ERROR_SUCCESS, ::RegOverridePredefKey(HKEY_CURRENT_USER, root.Handle()));
  other_status.Init(other);
  ::RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
  EXPECT_TRUE(other_status.existing_installation());
  EXPECT_FALSE(other_status.is_http_handler());
}

// The mode of an existing installation: its log's all-users flag, unless
// the log has no flag (the former engine's: any key record meant all users)
// or records keys of the machine. A stand-alone copy stays one only while it
// registered nothing.
TEST(InstallerStatusModeTest, DeriveModeFromLog) {
  enum Flag { kNo, kYes, kAbsent };
  enum Records { kNone, kUser, kMachine, kShortcut };
  const struct {
    Flag flag;
    Records records;
    bool standalone;
    bool expect_standalone, expect_all_users;
  } cases[] = {
      {kNo, kNone, false, false, false},       {kNo, kUser, false, false, false},
      {kNo, kMachine, false, false, true},     {kYes, kNone, false, false, true},
      {kYes, kUser, false, false, true},       {kYes, kMachine, false, false, true},
      {kAbsent, kNone, false, false, false},   {kAbsent, kUser, false, false, true},
      {kAbsent, kMachine, false, false, true}, {kNo, kNone, true, true, false},
      {kNo, kUser, true, false, false},        {kNo, kMachine, true, false, true},
      {kYes, kNone, true, true, false},        {kYes, kUser, true, false, true},
      {kYes, kMachine, true, false, true},     {kAbsent, kNone, true, true, false},
      {kAbsent, kUser, true, false, true},     {kAbsent, kMachine, true, false, true},
      {kNo, kShortcut, true, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << "flag " << c.flag << ", records " << c.records
                                      << ", standalone " << c.standalone);
    InstallerStatus status(false);
    status.copy_only = c.standalone;
    status.all_users = c.flag == kYes;
    status.all_users_recorded = c.flag != kAbsent;
    if (c.records == kUser)
      status.hkcu_keys.push_back({"Software\\X", 0, {}});
    if (c.records == kMachine)
      status.hklm_keys.push_back({"Software\\X", 0, {}});
    if (c.records == kShortcut)
      status.desktop_shortcut = base::FilePath(L"C:\\x.lnk");
    status.DeriveModeFromLog();
    EXPECT_EQ(c.expect_standalone, status.copy_only);
    EXPECT_EQ(c.expect_all_users, status.all_users);
  }
}

}  // namespace
}  // namespace installer
