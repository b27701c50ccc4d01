#include "desktop/windows/installer/settings.h"

#include <memory>
#include <string>
#include <vector>

#include "base/command_line.h"
#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "base/threading/message_loop.h"
#include "base/values.h"
#include "base/win/scoped_com.h"
#include "base/win/shortcut.h"
#include "desktop/windows/installer/installer_status.h"
#include "desktop/windows/installer/service/install_log.h"
#include "desktop/windows/installer/service/installation.h"
#include "desktop/windows/installer/service/registry_names.h"
#include "desktop/windows/installer/settings_test_support.h"
#include "desktop/windows/installer/stats_node.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

using test::MakeCommandLine;

class SettingsTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(temp_dir_.CreateUniqueTempDir());
    new_folder_ = temp_dir_.GetPath().Append(L"New Velmo");
  }

  std::unique_ptr<Settings> Make(const std::vector<std::wstring>& switches,
                                 const base::FilePath& folder, bool autoupdate = false) {
    auto settings = std::make_unique<Settings>(MakeCommandLine(switches), false, false, autoupdate,
                                               folder, false, false);
    EXPECT_TRUE(test::WaitForSettingsObtained(settings.get()));
    return settings;
  }

  // An installation of this engine with a desktop shortcut to its browser.
  base::FilePath MakeInstallation() {
    const base::FilePath folder = temp_dir_.GetPath().Append(L"Installed");
    EXPECT_TRUE(base::CreateDirectoryTree(folder));
    const base::FilePath exe = folder.Append(GetBrowserExeName());
    EXPECT_EQ(2, base::WriteFileBytes(exe, "MZ", 2));
    const base::FilePath shortcut = temp_dir_.GetPath().Append(L"Velmo.lnk");
    base::win::ShortcutSpec spec;
    spec.set_target(exe);
    EXPECT_TRUE(base::win::WriteShortcut(shortcut, spec, base::win::kShortcutCreateAlways));
    InstallLog log;
    log.version = "43.0.2442.991";
    log.desktop_shortcut = shortcut;
    log.hkcu_keys.push_back({"Software\\Velmo", 0, {}});
    EXPECT_TRUE(log.Save(folder.Append(Installation::kInstallLogFileName)));
    const std::string prefs =
        "{\"import_browser_data\": false, \"enable_stats\": false, \"single_profile\": false}";
    EXPECT_EQ(static_cast<int>(prefs.size()),
              base::WriteFileBytes(folder.Append(Installation::kInstallerPrefsFileName),
                                   prefs.data(), static_cast<int>(prefs.size())));
    return folder;
  }

  base::win::ScopedComInitializer com_;
  base::MessageLoop loop_;
  test::ScopedSettingsSeams seams_{"Settings"};
  base::ScopedTempDir temp_dir_;
  base::FilePath new_folder_;
};

TEST_F(SettingsTest, FlagNames) {
  EXPECT_EQ("COPY_ONLY", Settings::GetFlagName(0));
  EXPECT_EQ("ENABLE_INSTALLER_STATS", Settings::GetFlagName(Settings::ENABLE_INSTALLER_STATS));
  EXPECT_EQ("REPLACE_TARSEL_INSTALLATION", Settings::GetFlagName(17));
  EXPECT_EQ("", Settings::GetFlagName(18));
  EXPECT_EQ("", Settings::GetFlagName(-1));
}

TEST_F(SettingsTest, NewFolderIsAnInstallation) {
  auto settings = Make({L"--singleprofile=0"}, new_folder_);
  EXPECT_EQ(Settings::kOperationInstall, settings->GetOperation());
  EXPECT_EQ(new_folder_, settings->GetInstallFolder());
  EXPECT_TRUE(settings->GetStatus().valid_install_path());
  EXPECT_FALSE(settings->IsFlagSet(Settings::SINGLE_PROFILE));
  EXPECT_TRUE(settings->IsModifiable());
}

TEST_F(SettingsTest, UpgradeTakesOverTheInstallationsChoices) {
  const base::FilePath folder = MakeInstallation();
  // The command line's "desktopshortcut" wins over the existing shortcut;
  // the rest comes from the installation.
  auto settings = Make({L"--desktopshortcut=0"}, folder);
  ASSERT_EQ(Settings::kOperationUpgrade, settings->GetOperation());
  EXPECT_EQ(1, settings->GetStatus().desktop_shortcut_exists());
  EXPECT_FALSE(settings->IsFlagSet(Settings::DESKTOP_SHORTCUT));
  EXPECT_FALSE(settings->IsFlagSet(Settings::IMPORT_BROWSER_DATA));
  EXPECT_FALSE(settings->IsFlagSet(Settings::ENABLE_VELMO_STATS));
  EXPECT_FALSE(settings->IsFlagSet(Settings::ENABLE_INSTALLER_STATS));
  // Installed for the current user (its keys are the user's), whatever
  // an administrator's run would choose for a new installation.
  EXPECT_FALSE(settings->IsFlagSet(Settings::ALL_USERS_FLAG));
  EXPECT_FALSE(settings->IsFlagSet(Settings::COPY_ONLY));

  auto with_shortcut = Make({}, folder);
  EXPECT_TRUE(with_shortcut->IsFlagSet(Settings::DESKTOP_SHORTCUT));

  // Upgrading fixes the mode.
  EXPECT_FALSE(settings->SetAllUsers(true));
  EXPECT_FALSE(settings->IsFlagSet(Settings::ALL_USERS_FLAG));
  EXPECT_FALSE(settings->SetCopyOnly(true));
  EXPECT_FALSE(settings->SetMode(Settings::kModeStandalone));
  EXPECT_FALSE(settings->IsFlagSet(Settings::COPY_ONLY));

  auto handler = Make({L"--register-velmo-as-protocol-handler"}, folder);
  EXPECT_EQ(Settings::kOperationRegisterProtocolHandler, handler->GetOperation());
}

TEST_F(SettingsTest, CopyOnlyAndBack) {
  auto settings = Make({L"--startmenushortcut=0", L"--install-assistant"}, new_folder_);
  ASSERT_TRUE(settings->IsFlagSet(Settings::INSTALL_ASSISTANT));
  test::RecordingObserver observer;
  settings->AddObserver(&observer);

  EXPECT_TRUE(settings->SetCopyOnly(true));
  EXPECT_EQ(1, observer.changed);
  for (int flag : {Settings::ALL_USERS_FLAG, Settings::DEFAULT_BROWSER, Settings::DESKTOP_SHORTCUT,
                   Settings::START_MENU_SHORTCUT, Settings::QUICK_LAUNCH_SHORTCUT,
                   Settings::PINNED_SHORTCUT, Settings::INSTALL_ASSISTANT}) {
    EXPECT_FALSE(settings->IsFlagSet(flag)) << Settings::GetFlagName(flag);
  }
  EXPECT_FALSE(settings->SetAllUsers(true));
  EXPECT_FALSE(settings->SetDefaultBrowser(true));

  EXPECT_TRUE(settings->SetCopyOnly(false));
  EXPECT_TRUE(settings->IsFlagSet(Settings::DESKTOP_SHORTCUT));
  EXPECT_FALSE(settings->IsFlagSet(Settings::START_MENU_SHORTCUT));  // Its switch says 0.
  EXPECT_TRUE(settings->IsFlagSet(Settings::QUICK_LAUNCH_SHORTCUT));
  EXPECT_TRUE(settings->IsFlagSet(Settings::PINNED_SHORTCUT));
  EXPECT_TRUE(settings->SetDefaultBrowser(true));
  EXPECT_FALSE(settings->SetDeleteProfile(true));  // Not uninstalling.
  settings->RemoveObserver(&observer);
}

TEST_F(SettingsTest, ModesAndTheirFolders) {
  seams_.drives.drives = {{L'C', true, DRIVE_FIXED}};
  auto settings = Make({}, base::FilePath());
  const uint32_t sources = Settings::kFromRegistry | Settings::kFromStandardFolder;
  const base::FilePath all_users =
      settings->ComputeDefaultInstallFolder(sources, false, true, false);
  const base::FilePath current_user =
      settings->ComputeDefaultInstallFolder(sources, false, false, false);
  ASSERT_NE(all_users, current_user);
  // No folder on the command line: the standard folder of the mode.
  EXPECT_EQ(settings->IsFlagSet(Settings::ALL_USERS_FLAG) ? all_users : current_user,
            settings->GetInstallFolder());

  EXPECT_TRUE(settings->SetMode(Settings::kModeStandalone));
  EXPECT_TRUE(settings->IsFlagSet(Settings::COPY_ONLY));
  EXPECT_TRUE(settings->IsFlagSet(Settings::SINGLE_PROFILE));
  ASSERT_TRUE(test::WaitForSettingsObtained(settings.get()));
  EXPECT_EQ(base::FilePath(L"C:\\Velmo"), settings->GetInstallFolder());

  EXPECT_TRUE(settings->SetMode(Settings::kModeCurrentUser));
  EXPECT_FALSE(settings->IsFlagSet(Settings::COPY_ONLY));
  EXPECT_FALSE(settings->IsFlagSet(Settings::ALL_USERS_FLAG));
  EXPECT_FALSE(settings->IsFlagSet(Settings::SINGLE_PROFILE));
  ASSERT_TRUE(test::WaitForSettingsObtained(settings.get()));
  EXPECT_EQ(current_user, settings->GetInstallFolder());

  EXPECT_TRUE(settings->SetMode(Settings::kModeAllUsers));
  EXPECT_TRUE(settings->IsFlagSet(Settings::ALL_USERS_FLAG));
  ASSERT_TRUE(test::WaitForSettingsObtained(settings.get()));
  EXPECT_EQ(all_users, settings->GetInstallFolder());
  EXPECT_FALSE(settings->SetMode(3));

  // A folder the user chose does not follow the mode.
  ASSERT_TRUE(settings->SetInstallFolder(new_folder_));
  ASSERT_TRUE(test::WaitForSettingsObtained(settings.get()));
  EXPECT_TRUE(settings->SetMode(Settings::kModeCurrentUser));
  EXPECT_FALSE(settings->IsFetchingStatus());
  EXPECT_EQ(new_folder_, settings->GetInstallFolder());
}

TEST_F(SettingsTest, SingleProfileSwitchSurvivesModeChanges) {
  auto settings = Make({L"--singleprofile=0"}, new_folder_);
  ASSERT_FALSE(settings->IsFlagSet(Settings::SINGLE_PROFILE));
  EXPECT_TRUE(settings->SetMode(Settings::kModeStandalone));
  EXPECT_FALSE(settings->IsFlagSet(Settings::SINGLE_PROFILE));
}

TEST_F(SettingsTest, FrozenSettingsRefuseEverything) {
  auto settings = Make({}, new_folder_);
  test::RecordingObserver observer;
  settings->AddObserver(&observer);
  settings->SetModifiable(false);
  const bool before = settings->IsFlagSet(Settings::DESKTOP_SHORTCUT);
  EXPECT_FALSE(settings->SetFlag(Settings::DESKTOP_SHORTCUT, !before));
  EXPECT_FALSE(settings->SetCopyOnly(true));
  EXPECT_FALSE(settings->SetMode(Settings::kModeStandalone));
  EXPECT_FALSE(settings->SetInstallFolder(temp_dir_.GetPath()));
  EXPECT_FALSE(settings->SetInstallLanguage(L"de"));
  EXPECT_EQ(before, settings->IsFlagSet(Settings::DESKTOP_SHORTCUT));
  EXPECT_FALSE(settings->IsFlagSet(Settings::COPY_ONLY));
  EXPECT_EQ(0, observer.changed);
  EXPECT_EQ(0, observer.language_changed);
  EXPECT_FALSE(settings->IsFetchingStatus());
  settings->RemoveObserver(&observer);
}

TEST_F(SettingsTest, LanguageChangesNotify) {
  auto settings = Make({}, new_folder_);
  test::RecordingObserver observer;
  settings->AddObserver(&observer);
  const std::wstring current = settings->GetInstallLanguage();
  ASSERT_FALSE(current.empty());
  EXPECT_FALSE(settings->SetInstallLanguage(current));
  EXPECT_EQ(0, observer.language_changed);
  // An unavailable language falls back to one the host offers.
  EXPECT_TRUE(settings->SetInstallLanguage(L"xx-unknown"));
  EXPECT_EQ(1, observer.language_changed);
  EXPECT_NE(L"xx-unknown", settings->GetInstallLanguage());
  settings->RemoveObserver(&observer);
}

TEST_F(SettingsTest, ObserverMayLeaveDuringANotification) {
  auto settings = Make({}, new_folder_);
  struct Leaving : public SettingsObserver {
    void OnSettingsChanged() override {
      ++calls;
      settings->RemoveObserver(this);
    }
    Settings* settings = nullptr;
    int calls = 0;
  } leaving;
  test::RecordingObserver staying;
  leaving.settings = settings.get();
  settings->AddObserver(&leaving);
  settings->AddObserver(&staying);
  EXPECT_TRUE(settings->SetImportBrowserData(false));
  EXPECT_TRUE(settings->SetEnableBrowserStats(false));
  EXPECT_EQ(1, leaving.calls);
  EXPECT_EQ(2, staying.changed);
  settings->RemoveObserver(&staying);
}

TEST_F(SettingsTest, WriteStats) {
  auto settings = Make({L"--allusers=0", L"--setdefaultbrowser=1"}, new_folder_, true);
  StatsReport report;
  StatsNode node = report.root_node();
  settings->WriteStats("settings.", &node);
  base::AutoLock lock(report.lock());
  const base::DictValue& root = report.root();
  std::string text;
  int number = -1;
  EXPECT_TRUE(root.GetStringWithoutPathExpansion("settings.installation_mode", &text));
  EXPECT_EQ("current_user", text);
  EXPECT_TRUE(root.GetStringWithoutPathExpansion("settings.installation_operation", &text));
  EXPECT_EQ("installing", text);
  EXPECT_TRUE(root.GetIntegerWithoutPathExpansion("autoupdate", &number));
  EXPECT_EQ(1, number);
  EXPECT_TRUE(root.GetIntegerWithoutPathExpansion("settings.make_default", &number));
  EXPECT_EQ(1, number);
  EXPECT_TRUE(
      root.GetIntegerWithoutPathExpansion("settings.using_default_installation_folder", &number));
  EXPECT_EQ(0, number);
  EXPECT_TRUE(root.GetIntegerWithoutPathExpansion("settings.using_privileged_installation_folder",
                                                  &number));
  EXPECT_TRUE(root.GetStringWithoutPathExpansion("build_arch", &text));
  EXPECT_EQ("X86", text);
}

}  // namespace
}  // namespace installer
