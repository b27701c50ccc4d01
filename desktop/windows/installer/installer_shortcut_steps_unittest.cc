#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/win/shortcut.h"
#include "desktop/windows/installer/delete_folder_operation.h"
#include "desktop/windows/installer/installer.h"
#include "desktop/windows/installer/installer_shortcuts.h"
#include "desktop/windows/installer/installer_status.h"
#include "desktop/windows/installer/product_config.h"
#include "desktop/windows/installer/service/file_identity.h"
#include "desktop/windows/installer/service/install_log.h"
#include "desktop/windows/installer/service/installation.h"
#include "desktop/windows/installer/service/registry_names.h"
#include "desktop/windows/installer/service/transactions/transaction.h"
#include "desktop/windows/installer/step_run_test_support.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

const std::vector<std::wstring> kPerUserSwitches = {
    L"--allusers=0", L"--desktopshortcut=1", L"--startmenushortcut=1", L"--quicklaunchshortcut=1",
    L"--pintotaskbar=0"};

class ShortcutStepsTest : public test::StepRunTest {
 protected:
  base::FilePath Launcher() const { return install_folder_.Append(kLauncherFileName); }

  // Where |shortcut| leads; empty when it is no readable shortcut.
  static base::FilePath TargetOf(const base::FilePath& shortcut) {
    base::FilePath target;
    if (!base::win::ResolveShortcut(shortcut, &target, nullptr))
      return base::FilePath();
    return target;
  }

  static void WriteShortcutTo(const base::FilePath& shortcut, const base::FilePath& target) {
    base::win::ShortcutSpec spec;
    spec.set_target(target);
    ASSERT_TRUE(base::win::WriteShortcut(shortcut, spec, base::win::kShortcutCreateAlways));
  }

  // An installation of this engine in the install folder whose log records
  // |log|'s shortcuts; its launcher and browser executables exist.
  void WriteInstallation(InstallLog log) {
    ASSERT_TRUE(base::CreateDirectoryTree(install_folder_));
    ASSERT_TRUE(WriteText(Launcher(), "MZ launcher"));
    ASSERT_TRUE(WriteText(install_folder_.Append(GetBrowserExeName()), "MZ browser"));
    log.app_id = "1700000000";
    log.version = "42.0.1.2";
    log.path = install_folder_;
    ASSERT_TRUE(log.Save(install_folder_.Append(Installation::kInstallLogFileName)));
  }
};

TEST_F(ShortcutStepsTest, InstallCreatesRecordedShortcutsToTheLauncher) {
  MakeSettings(kPerUserSwitches);
  ASSERT_EQ(Settings::kOperationInstall, settings_->GetOperation());
  RunSteps({&Installer::InstallShortcuts}, kSucceed);
  ASSERT_TRUE(delegate_.succeeded) << ::testing::PrintToString(delegate_.errors);

  const std::wstring name = GetShortcutName(false);
  const InstallLog& log = RunLog();
  EXPECT_EQ(user_desktop_.Append(name), log.desktop_shortcut);
  EXPECT_EQ(start_menu_.Append(name), log.start_menu_shortcut);
  EXPECT_EQ(quick_launch_.Append(name), log.quick_launch_shortcut);
  EXPECT_FALSE(log.pinned);
  FinishRun();
  for (const base::FilePath& folder : {user_desktop_, start_menu_, quick_launch_, package_folder_})
    EXPECT_EQ(Launcher(), TargetOf(folder.Append(name))) << folder;
  EXPECT_FALSE(base::PathExists(common_desktop_.Append(name)));
}

TEST_F(ShortcutStepsTest, AllUsersInstallUsesTheCommonFolders) {
  MakeSettings({L"--allusers=1", L"--desktopshortcut=1", L"--startmenushortcut=1",
                L"--quicklaunchshortcut=0", L"--pintotaskbar=0"});
  RunSteps({&Installer::InstallShortcuts}, kSucceed);
  ASSERT_TRUE(delegate_.succeeded) << ::testing::PrintToString(delegate_.errors);
  const std::wstring name = GetShortcutName(false);
  EXPECT_EQ(common_desktop_.Append(name), RunLog().desktop_shortcut);
  EXPECT_EQ(common_start_menu_.Append(name), RunLog().start_menu_shortcut);
  EXPECT_TRUE(RunLog().quick_launch_shortcut.empty());
  FinishRun();
  EXPECT_EQ(Launcher(), TargetOf(common_start_menu_.Append(name)));
  EXPECT_FALSE(base::PathExists(user_desktop_.Append(name)));
}

// A shortcut of the plain name in one destination gives every shortcut the
// versioned name; a failing later step takes every copy back and restores
// the file a copy replaced.
TEST_F(ShortcutStepsTest, CollisionUsesVersionedNamesAndFailureRollsBack) {
  const std::wstring plain = GetShortcutName(false);
  const std::wstring versioned = GetShortcutName(true);
  const base::FilePath other = temp_dir_.GetPath().Append(L"other.exe");
  WriteShortcutTo(start_menu_.Append(plain), other);
  WriteShortcutTo(user_desktop_.Append(versioned), other);

  MakeSettings(kPerUserSwitches);
  RunSteps({&Installer::InstallShortcuts}, kFail);
  EXPECT_TRUE(delegate_.terminated);
  EXPECT_EQ(user_desktop_.Append(versioned), RunLog().desktop_shortcut);
  FinishRun();

  EXPECT_EQ(other, TargetOf(start_menu_.Append(plain)));
  EXPECT_EQ(other, TargetOf(user_desktop_.Append(versioned)));
  EXPECT_FALSE(base::PathExists(start_menu_.Append(versioned)));
  EXPECT_FALSE(base::PathExists(quick_launch_.Append(versioned)));
  EXPECT_FALSE(base::PathExists(user_desktop_.Append(plain)));
}

// The shell of this system refuses the pin verb: the failure is no reason
// to stop, and the log does not claim a pin.
TEST_F(ShortcutStepsTest, FailedPinIsNotRecorded) {
  if (!base::win::TaskbarPinningSupported())
    GTEST_SKIP() << "This Windows offers no pinning; nothing is pinned";
  MakeSettings({L"--allusers=0", L"--desktopshortcut=1", L"--startmenushortcut=0",
                L"--quicklaunchshortcut=0", L"--pintotaskbar=1"});
  RunSteps({&Installer::InstallShortcuts}, kSucceed);
  ASSERT_TRUE(delegate_.succeeded);
  const bool pinned =
      base::win::PinShortcutToTaskbar(package_folder_.Append(GetShortcutName(false)));
  EXPECT_EQ(pinned, RunLog().pinned);
  EXPECT_FALSE(RunLog().desktop_shortcut.empty());
}

// A pin of the existing installation that needs no change stays as it is,
// and the run's log claims no pin of its own.
TEST_F(ShortcutStepsTest, ExistingPinIsKeptAndNotClaimed) {
  WriteInstallation(InstallLog());
  base::FilePath pins;
  ASSERT_TRUE(GetTaskbarPinsFolder(&pins));
  ASSERT_TRUE(base::CreateDirectoryTree(pins));
  const base::FilePath pin = pins.Append(L"Velmo kept pin.lnk");
  WriteShortcutTo(pin, Launcher());
  MakeSettings({L"--desktopshortcut=0", L"--startmenushortcut=0", L"--quicklaunchshortcut=0",
                L"--pintotaskbar=1"});
  ASSERT_EQ(Settings::kOperationUpgrade, settings_->GetOperation());
  EXPECT_EQ(pin, settings_->GetStatus().pinned_shortcut_path());
  EXPECT_FALSE(settings_->GetStatus().recreate_pinned_shortcut());
  RunSteps({&Installer::UpdateShortcuts}, kSucceed);
  ASSERT_TRUE(delegate_.succeeded) << ::testing::PrintToString(delegate_.errors);
  EXPECT_FALSE(RunLog().pinned);
  FinishRun();
  EXPECT_EQ(Launcher(), TargetOf(pin));
  EXPECT_TRUE(base::DeletePath(pin, false));
}

TEST_F(ShortcutStepsTest, UpgradeRenamesOlderVersionedShortcuts) {
  const std::wstring older = L"Velmo 42.lnk";
  const std::wstring current = GetShortcutName(true);
  ASSERT_NE(older, current);
  InstallLog log;
  log.desktop_shortcut = user_desktop_.Append(older);
  log.start_menu_shortcut = start_menu_.Append(older);
  WriteInstallation(log);
  WriteShortcutTo(log.desktop_shortcut, Launcher());
  WriteShortcutTo(log.start_menu_shortcut, Launcher());

  for (Ending ending : {kFail, kSucceed}) {
    MakeSettings({});
    ASSERT_EQ(Settings::kOperationUpgrade, settings_->GetOperation());
    RunSteps({&Installer::UpdateShortcuts}, ending);
    if (ending == kSucceed) {
      ASSERT_TRUE(delegate_.succeeded) << ::testing::PrintToString(delegate_.errors);
      EXPECT_EQ(user_desktop_.Append(current), RunLog().desktop_shortcut);
      EXPECT_EQ(start_menu_.Append(current), RunLog().start_menu_shortcut);
      EXPECT_TRUE(RunLog().quick_launch_shortcut.empty());
    }
    FinishRun();
    const bool renamed = ending == kSucceed;
    for (const base::FilePath& folder : {user_desktop_, start_menu_}) {
      EXPECT_EQ(renamed, base::PathExists(folder.Append(current))) << folder;
      EXPECT_EQ(!renamed, base::PathExists(folder.Append(older))) << folder;
    }
    EXPECT_FALSE(base::PathExists(quick_launch_.Append(current)));
  }
  EXPECT_EQ(Launcher(), TargetOf(user_desktop_.Append(current)));
}

TEST_F(ShortcutStepsTest, UpgradeRemovesUnwantedRecreatesStaleAndAddsMissing) {
  const std::wstring name = GetShortcutName(false);
  InstallLog log;
  log.desktop_shortcut = user_desktop_.Append(name);
  log.quick_launch_shortcut = quick_launch_.Append(name);
  WriteInstallation(log);
  WriteShortcutTo(log.desktop_shortcut, Launcher());
  // Leading to the browser itself: made again to lead to the launcher.
  WriteShortcutTo(log.quick_launch_shortcut, install_folder_.Append(GetBrowserExeName()));

  MakeSettings({L"--desktopshortcut=0", L"--startmenushortcut=1", L"--quicklaunchshortcut=1",
                L"--pintotaskbar=0"});
  ASSERT_TRUE(settings_->GetStatus().recreate_quick_launch_shortcut());
  RunSteps({&Installer::UpdateShortcuts}, kSucceed);
  ASSERT_TRUE(delegate_.succeeded) << ::testing::PrintToString(delegate_.errors);
  const InstallLog& result = RunLog();
  EXPECT_TRUE(result.desktop_shortcut.empty());
  EXPECT_EQ(start_menu_.Append(name), result.start_menu_shortcut);
  EXPECT_EQ(quick_launch_.Append(name), result.quick_launch_shortcut);
  FinishRun();
  EXPECT_FALSE(base::PathExists(user_desktop_.Append(name)));
  EXPECT_EQ(Launcher(), TargetOf(start_menu_.Append(name)));
  EXPECT_EQ(Launcher(), TargetOf(quick_launch_.Append(name)));
}

TEST_F(ShortcutStepsTest, RemoveDeletesShortcutsAndTemporaryFolderUndoably) {
  const std::wstring name = GetShortcutName(false);
  InstallLog log;
  log.desktop_shortcut = user_desktop_.Append(name);
  log.start_menu_shortcut = start_menu_.Append(name);
  WriteInstallation(log);
  WriteShortcutTo(log.desktop_shortcut, Launcher());
  WriteShortcutTo(log.start_menu_shortcut, Launcher());
  const base::FilePath temporary_folder = start_menu_.Append(kTemporaryShortcutFolderName);
  ASSERT_TRUE(base::CreateDirectoryTree(temporary_folder.Append(L"inner")));
  ASSERT_TRUE(WriteText(temporary_folder.Append(L"inner\\Velmo.lnk"), "kept on rollback"));

  for (Ending ending : {kFail, kSucceed}) {
    MakeSettings({}, /*uninstall=*/true);
    ASSERT_EQ(Settings::kOperationUninstall, settings_->GetOperation());
    RunSteps({&Installer::RemoveShortcuts}, ending);
    EXPECT_EQ(ending == kSucceed, delegate_.succeeded);
    FinishRun();
    const bool removed = ending == kSucceed;
    EXPECT_EQ(!removed, base::PathExists(log.desktop_shortcut));
    EXPECT_EQ(!removed, base::PathExists(log.start_menu_shortcut));
    std::string text;
    EXPECT_EQ(!removed,
              base::ReadFileToString(temporary_folder.Append(L"inner\\Velmo.lnk"), &text));
    // Nothing is left beside them under a temporary name.
    EXPECT_FALSE(base::PathExists(base::FilePath(temporary_folder.value() + L".old")));
    EXPECT_FALSE(base::PathExists(base::FilePath(log.desktop_shortcut.value() + L".old")));
  }
}

TEST(DeleteFolderOperationTest, RefusesFilesAndPassesOverMissingFolders) {
  base::ScopedTempDir temp;
  ASSERT_TRUE(temp.CreateUniqueTempDir());
  const base::FilePath file = temp.GetPath().Append(L"file");
  ASSERT_EQ(1, base::WriteFileBytes(file, "x", 1));
  Transaction transaction;
  EXPECT_FALSE(transaction.Execute(std::make_unique<DeleteFolderOperation>(file)));
  EXPECT_TRUE(
      transaction.Execute(std::make_unique<DeleteFolderOperation>(temp.GetPath().Append(L"no"))));
  EXPECT_TRUE(base::PathExists(file));
}

TEST(ShortcutNamesTest, NameAndNamingFollowTheProductConfiguration) {
  SetProductConfigForTesting(
      "{\"visible_product_name\": \"V\xC3\xA9lmo\", \"shortcut_suffix\": \" Beta\", "
      "\"major_delta\": 2}");
  const std::wstring major = base::NumberToString16(GetMajorVersion());
  EXPECT_EQ(L"V\u00E9lmo Beta.lnk", GetShortcutName(false));
  EXPECT_EQ(L"V\u00E9lmo " + major + L" Beta.lnk", GetShortcutName(true));
  SetProductConfigForTesting(nullptr);

  const base::FilePath folder(L"C:\\Desktop");
  const std::wstring plain = GetShortcutName(false);
  ShortcutNaming naming = GetShortcutNaming({base::FilePath(), folder.Append(plain)});
  EXPECT_FALSE(naming.use_version);
  EXPECT_FALSE(naming.rename);
  // Another name, with a versioned one later: renamed to versioned names.
  naming = GetShortcutNaming({folder.Append(L"Other.lnk"), folder.Append(L"Velmo 42.lnk")});
  EXPECT_TRUE(naming.use_version);
  EXPECT_TRUE(naming.rename);
  naming = GetShortcutNaming({folder.Append(L"Other.lnk"), folder.Append(plain)});
  EXPECT_FALSE(naming.use_version);
  EXPECT_TRUE(naming.rename);
}

TEST_F(ShortcutStepsTest, MessageCenterShortcutsAreRemovedFromTheStartMenuOnly) {
  const std::vector<std::wstring> removed = {L"Velmo Duradur Uzever.lnk",
                                             L"Velmo Beta Duradur Uzever.lnk"};
  const std::vector<std::wstring> kept = {L"Velmo.lnk", L"Other Duradur Uzever.lnk",
                                          L"sub\\Velmo Duradur Uzever.lnk"};
  ASSERT_TRUE(base::CreateDirectoryTree(start_menu_.Append(L"sub")));
  for (const std::vector<std::wstring>* names : {&removed, &kept}) {
    for (const std::wstring& name : *names)
      ASSERT_TRUE(WriteText(start_menu_.Append(name), "lnk"));
  }
  RemoveMessageCenterShortcuts();
  for (const std::wstring& name : removed)
    EXPECT_FALSE(base::PathExists(start_menu_.Append(name))) << name;
  for (const std::wstring& name : kept)
    EXPECT_TRUE(base::PathExists(start_menu_.Append(name))) << name;
}

}  // namespace
}  // namespace installer
