#include "desktop/windows/installer/settings_command_line.h"

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "base/command_line.h"
#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "base/process.h"
#include "base/string_number_conversions.h"
#include "base/string_split.h"
#include "base/threading/message_loop.h"
#include "base/utf_string_conversions.h"
#include "base/win/scoped_com.h"
#include "desktop/windows/installer/installer_status.h"
#include "desktop/windows/installer/installer_switches.h"
#include "base/logging.h"
#include "desktop/windows/installer/ipc/ipc_test_util.h"
#include "desktop/windows/installer/service/install_log.h"
#include "desktop/windows/installer/service/installation.h"
#include "desktop/windows/installer/service/registry_names.h"
#include "desktop/windows/installer/settings.h"
#include "desktop/windows/installer/settings_switches.h"
#include "desktop/windows/installer/settings_test_support.h"
#include "gtest/gtest.h"
#include "testing/multiprocess_test.h"

namespace installer {
namespace {

constexpr char kDumpSwitch[] = "settings-dump";

// What a round trip compares. INSTALL_ASSISTANT is no part of the back
// end's command line: the front end installs the assistant itself.
std::wstring DescribeSettings(const Settings& settings) {
  std::wstring text;
  for (int flag = 0; flag < Settings::kFlagCount; ++flag) {
    if (flag == Settings::INSTALL_ASSISTANT)
      continue;
    text += base::ASCIIToWide(Settings::GetFlagName(flag)) + L"=" +
            (settings.IsFlagSet(flag) ? L"1" : L"0") + L"\n";
  }
  text += L"operation=" + base::NumberToString16(settings.GetOperation()) + L"\n";
  text += L"language=" + settings.GetInstallLanguage() + L"\n";
  text += L"folder=" + settings.GetInstallFolder().value() + L"\n";
  text += L"profile=" + settings.GetProfileFolder().value() + L"\n";
  return text;
}

// The back end's side: settings from its own process command line, as
// RunInstaller makes them, described into the dump file.
CHILD_PROCESS_MAIN(SettingsRoundTrip) {
  const base::CommandLine& cl = *base::CommandLine::ForCurrentProcess();
  base::MessageLoop loop;
  test::FakeDriveProbe no_drives;
  SetDriveProbeForTesting(&no_drives);
  Settings settings(cl.HasSwitch(kUninstallSwitch), cl.HasSwitch(kSilentSwitch),
                    cl.HasSwitch(kAutoupdateSwitch), cl.GetSwitchValuePath(kInstallFolderSwitch),
                    cl.HasSwitch(kReplaceTarselInstallationSwitch), false);
  if (!test::WaitForSettingsObtained(&settings))
    return 2;
  std::string utf8 = base::WideToUTF8(DescribeSettings(settings));
  base::FilePath dump = cl.GetSwitchValuePath(kDumpSwitch);
  return base::WriteFileBytes(dump, utf8.data(), static_cast<int>(utf8.size())) ==
                 static_cast<int>(utf8.size())
             ? 0
             : 3;
}

using test::MakeCommandLine;

class SettingsCommandLineTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(temp_dir_.CreateUniqueTempDir()); }

  // Settings of the front end, with the status of their folder read.
  std::unique_ptr<Settings> MakeSettings(const base::CommandLine& cl, const base::FilePath& folder,
                                         bool silent = false, bool autoupdate = false,
                                         bool replace_tarsel = false, bool uninstall = false) {
    auto settings = std::make_unique<Settings>(cl, uninstall, silent, autoupdate, folder,
                                               replace_tarsel, false);
    EXPECT_TRUE(test::WaitForSettingsObtained(settings.get()));
    return settings;
  }

  // Starts the back end's side with |settings|' command line and gives what
  // it read.
  std::wstring RoundTrip(const Settings& settings, bool suppress_launch) {
    base::CommandLine backend;
    settings.ToCommandLine(&backend, suppress_launch);
    base::CommandLine child = testing::GetChildCommandLine("SettingsRoundTrip");
    child.AppendArguments(backend, false);
    const base::FilePath dump = temp_dir_.GetPath().Append(L"dump.txt");
    child.AppendSwitchPath(kDumpSwitch, dump);
    base::LaunchOptions options;
    options.wait = true;
    base::Process process = base::LaunchProcess(child, options);
    EXPECT_TRUE(process.IsValid());
    int exit_code = -1;
    EXPECT_TRUE(process.WaitForExit(&exit_code));
    EXPECT_EQ(0, exit_code);
    std::string text;
    EXPECT_TRUE(base::ReadFileToString(dump, &text));
    return base::UTF8ToWide(text);
  }

  base::MessageLoop loop_;
  test::ScopedSettingsSeams seams_{"CommandLine"};
  base::ScopedTempDir temp_dir_;
};

TEST(ParseBooleanSwitchValueTest, FollowsTheConvention) {
  for (const wchar_t* text :
       {L"yes", L"YES", L"True", L"true", L"tRuE", L"1", L"2", L"-1", L"0012"}) {
    EXPECT_TRUE(ParseBooleanSwitchValue(text)) << text;
  }
  for (const wchar_t* text : {L"no", L"", L"abc", L"0", L"false", L"yes ", L" 1", L"1x", L"0x1",
                              L"y", L"99999999999999999999"}) {
    EXPECT_FALSE(ParseBooleanSwitchValue(text)) << text;
  }
  EXPECT_TRUE(IsWellFormedBooleanSwitchValue(L"No"));
  EXPECT_TRUE(IsWellFormedBooleanSwitchValue(L"-3"));
  EXPECT_FALSE(IsWellFormedBooleanSwitchValue(L"abc"));
  EXPECT_FALSE(IsWellFormedBooleanSwitchValue(L""));
}

TEST_F(SettingsCommandLineTest, StatisticsSwitches) {
  const base::FilePath folder = temp_dir_.GetPath().Append(L"stats");
  auto only_browser = MakeSettings(MakeCommandLine({L"--enable-stats=0"}), folder);
  EXPECT_FALSE(only_browser->IsFlagSet(Settings::ENABLE_VELMO_STATS));
  EXPECT_FALSE(only_browser->IsFlagSet(Settings::ENABLE_INSTALLER_STATS));

  auto both =
      MakeSettings(MakeCommandLine({L"--enable-stats=0", L"--enable-installer-stats=1"}), folder);
  EXPECT_FALSE(both->IsFlagSet(Settings::ENABLE_VELMO_STATS));
  EXPECT_TRUE(both->IsFlagSet(Settings::ENABLE_INSTALLER_STATS));
}

TEST_F(SettingsCommandLineTest, CopyOnlyOverridesAllUsersAndShortcuts) {
  auto settings = MakeSettings(MakeCommandLine({L"--copyonly=1", L"--allusers=1",
                                                L"--desktopshortcut=1", L"--install-assistant"}),
                               temp_dir_.GetPath().Append(L"copy"));
  EXPECT_TRUE(settings->IsFlagSet(Settings::COPY_ONLY));
  EXPECT_TRUE(settings->IsFlagSet(Settings::SINGLE_PROFILE));
  for (int flag :
       {Settings::ALL_USERS_FLAG, Settings::DESKTOP_SHORTCUT, Settings::START_MENU_SHORTCUT,
        Settings::QUICK_LAUNCH_SHORTCUT, Settings::PINNED_SHORTCUT, Settings::DEFAULT_BROWSER,
        Settings::INSTALL_ASSISTANT}) {
    EXPECT_FALSE(settings->IsFlagSet(flag)) << Settings::GetFlagName(flag);
  }
}

TEST_F(SettingsCommandLineTest, LaunchSwitches) {
  const base::FilePath folder = temp_dir_.GetPath().Append(L"launch");
  EXPECT_FALSE(MakeSettings(MakeCommandLine({L"--launchbrowser=0"}), folder)
                   ->IsFlagSet(Settings::LAUNCH_VELMO));
  // "launchbrowser" is the older name; "launchvelmo" wins.
  EXPECT_TRUE(MakeSettings(MakeCommandLine({L"--launchbrowser=0", L"--launchvelmo=yes"}), folder)
                  ->IsFlagSet(Settings::LAUNCH_VELMO));
  EXPECT_TRUE(MakeSettings(MakeCommandLine({}), folder)->IsFlagSet(Settings::LAUNCH_VELMO));
}

TEST_F(SettingsCommandLineTest, MalformedValuesAreLoggedAndReadAsFalse) {
  const base::FilePath folder = temp_dir_.GetPath().Append(L"malformed");
  {
    test::ScopedLogCapture log;
    // Defaults: launch on, desktop shortcut on, single profile off.
    auto settings = MakeSettings(
        MakeCommandLine({L"--launchvelmo=maybe", L"--singleprofile=sure", L"--desktopshortcut=off",
                         L"--startmenushortcut", L"--allusers=0x1"}),
        folder);
    EXPECT_FALSE(settings->IsFlagSet(Settings::LAUNCH_VELMO));
    EXPECT_FALSE(settings->IsFlagSet(Settings::SINGLE_PROFILE));
    EXPECT_FALSE(settings->IsFlagSet(Settings::DESKTOP_SHORTCUT));
    EXPECT_FALSE(settings->IsFlagSet(Settings::START_MENU_SHORTCUT));
    EXPECT_FALSE(settings->IsFlagSet(Settings::ALL_USERS_FLAG));
    EXPECT_EQ(1, log.Count("\"maybe\" of --launchvelmo is no boolean"));
    EXPECT_EQ(1, log.Count("\"sure\" of --singleprofile is no boolean"));
    EXPECT_EQ(1, log.Count("\"off\" of --desktopshortcut is no boolean"));
    EXPECT_EQ(1, log.Count("\"\" of --startmenushortcut is no boolean"));
    EXPECT_EQ(1, log.Count("\"0x1\" of --allusers is no boolean"));
  }
  // The well-formed values are read without a word.
  test::ScopedLogCapture quiet;
  auto well_formed = MakeSettings(
      MakeCommandLine({L"--singleprofile=YES", L"--desktopshortcut=No", L"--launchvelmo=-2",
                       L"--startmenushortcut=FALSE", L"--enable-stats=true"}),
      folder);
  EXPECT_TRUE(well_formed->IsFlagSet(Settings::SINGLE_PROFILE));
  EXPECT_FALSE(well_formed->IsFlagSet(Settings::DESKTOP_SHORTCUT));
  EXPECT_TRUE(well_formed->IsFlagSet(Settings::LAUNCH_VELMO));
  EXPECT_FALSE(well_formed->IsFlagSet(Settings::START_MENU_SHORTCUT));
  EXPECT_TRUE(well_formed->IsFlagSet(Settings::ENABLE_VELMO_STATS));
  EXPECT_EQ(0, quiet.Count("is no boolean"));
}

// The former engine's installation hands its choices on even when the run
// does not replace it; an autoupdate that leaves it in place still starts
// the browser afterwards, whatever the command line says.
TEST_F(SettingsCommandLineTest, FormerEngineInstallationAndAutoupdate) {
  // The install log is written through COM.
  base::win::ScopedComInitializer com;
  const base::FilePath folder = temp_dir_.GetPath().Append(L"former");
  ASSERT_TRUE(base::CreateDirectoryTree(folder));
  InstallLog log;
  log.version = "12.17";
  log.hkcu_keys.push_back({"Software\\Velmo", 0, {}});
  const base::FilePath log_path = folder.Append(kTarselInstallLogFileName);
  ASSERT_TRUE(log.Save(log_path));
  // The former engine wrote no all-users flag.
  std::string text;
  ASSERT_TRUE(base::ReadFileToString(log_path, &text));
  const std::string flag = " all_users=\"0\"";
  ASSERT_NE(std::string::npos, text.find(flag));
  text.erase(text.find(flag), flag.size());
  ASSERT_EQ(static_cast<int>(text.size()),
            base::WriteFileBytes(log_path, text.data(), static_cast<int>(text.size())));
  const std::string ini = "[System]\r\nMulti User=0\r\n";
  ASSERT_EQ(static_cast<int>(ini.size()),
            base::WriteFileBytes(folder.Append(kOldPrefsDefaultFileName), ini.data(),
                                 static_cast<int>(ini.size())));
  struct Case {
    bool autoupdate, replace;
    int32_t operation;
    bool launch;
  };
  for (const Case& c : {Case{true, false, Settings::kOperationInstall, true},
                        Case{true, true, Settings::kOperationUpgrade, false},
                        Case{false, false, Settings::kOperationInstall, false}}) {
    SCOPED_TRACE(testing::Message() << "autoupdate " << c.autoupdate << ", replace " << c.replace);
    auto settings = MakeSettings(MakeCommandLine({L"--launchvelmo=0", L"--allusers=0"}), folder,
                                 /*silent=*/false, c.autoupdate, c.replace);
    EXPECT_EQ(c.operation, settings->GetOperation());
    EXPECT_EQ(c.launch, settings->IsFlagSet(Settings::LAUNCH_VELMO));
    // Taken from the installation, not from the command line: its log
    // has no all-users flag and records keys, and its single profile.
    EXPECT_TRUE(settings->IsFlagSet(Settings::ALL_USERS_FLAG));
    EXPECT_TRUE(settings->IsFlagSet(Settings::SINGLE_PROFILE));
  }
}

// An installation keeps its mode whatever "allusers" says; a run that asks
// for the other mode says so in its log, not only in the verbose one.
TEST_F(SettingsCommandLineTest, AnInstallationsModeOverAnExplicitSwitchIsLogged) {
  base::win::ScopedComInitializer com;
  const struct {
    bool installed_for_all;
    const wchar_t* switch_value;
    bool logged;
  } cases[] = {
      {false, L"1", true}, {true, L"0", true}, {false, L"0", false}, {true, L"yes", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "all users " << c.installed_for_all
                                    << ", --allusers=" << base::WideToUTF8(c.switch_value));
    const base::FilePath folder =
        temp_dir_.GetPath().Append(c.installed_for_all ? L"all" : L"user");
    ASSERT_TRUE(base::CreateDirectoryTree(folder));
    InstallLog log;
    log.all_users = c.installed_for_all;
    log.version = "1.0";
    ASSERT_TRUE(log.Save(folder.Append(Installation::kInstallLogFileName)));
    test::ScopedLogCapture capture;
    // Only what is logged without verbose output counts.
    logging::SetVlogLevels("0", "");
    auto settings =
        MakeSettings(MakeCommandLine({std::wstring(L"--allusers=") + c.switch_value}), folder);
    EXPECT_EQ(Settings::kOperationUpgrade, settings->GetOperation());
    EXPECT_EQ(c.installed_for_all, settings->IsFlagSet(Settings::ALL_USERS_FLAG));
    EXPECT_EQ(
        c.logged ? 1 : 0,
        capture.Count("is not followed: the installation in " + folder.AsUTF8Unsafe() + " is " +
                      (c.installed_for_all ? "for all users" : "for the current user") +
                      " and stays so"));
  }
}

// The switches the back end takes over unchanged from the front end's own
// command line, and one it never sees.
TEST_F(SettingsCommandLineTest, BackEndCommandLineCarriesThePassThroughSwitches) {
  const base::FilePath temp = temp_dir_.GetPath().Append(L"dl folder");
  const std::vector<std::wstring> switches = {
      L"--initial-pid=4711",           L"--temp-folder=" + temp.value(),
      L"--components=suite:c.json",    L"--v=2",
      L"--server-tracking-data=t.bin", L"--import-bookmarks=1",
      L"--import-session=0",           L"--import-topsites-to-speeddial=1",
      L"--unrelated-switch=1"};
  auto settings = MakeSettings(MakeCommandLine(switches), temp_dir_.GetPath().Append(L"copied"));
  ASSERT_EQ(Settings::kOperationInstall, settings->GetOperation());
  base::CommandLine backend;
  settings->ToCommandLine(&backend, false);
  const base::CommandLine given = MakeCommandLine(switches);
  for (const char* name : {kInitialPidSwitch, kTempFolderSwitch, kComponentsSwitch,
                           kVerboseLevelSwitch, kServerTrackingDataSwitch, kImportBookmarksSwitch,
                           kImportSessionSwitch, kImportTopSitesSwitch}) {
    EXPECT_TRUE(backend.HasSwitch(name)) << name;
    EXPECT_EQ(given.GetSwitchValueNative(name), backend.GetSwitchValueNative(name)) << name;
  }
  EXPECT_FALSE(backend.HasSwitch("unrelated-switch"));
}

TEST_F(SettingsCommandLineTest, RoundTripThroughTheBackEnd) {
  const base::FilePath profile = temp_dir_.GetPath().Append(L"Profil mit Leerzeichen");
  struct Case {
    const char* name;
    std::vector<std::wstring> switches;
    base::FilePath folder;
    bool silent, autoupdate, replace_tarsel, suppress_launch;
  };
  const base::FilePath odd_folder(temp_dir_.GetPath().value() +
                                  L"\\Ordner mit Ümläuten ñ \u0416\\");
  const std::vector<Case> cases = {
      {"current user",
       {L"--allusers=0", L"--desktopshortcut=0", L"--startmenushortcut=1",
        L"--quicklaunchshortcut=1", L"--pintotaskbar=0", L"--setdefaultbrowser=0",
        L"--import-browser-data=0", L"--enable-stats=1", L"--enable-installer-stats=0",
        L"--launchvelmo=0", L"--singleprofile=1", L"--language=en",
        L"--profile-folder=" + profile.value()},
       odd_folder,
       true,
       true,
       true,
       false},
      {"all users",
       {L"--allusers=1", L"--desktopshortcut=1", L"--startmenushortcut=0",
        L"--quicklaunchshortcut=0", L"--pintotaskbar=1", L"--setdefaultbrowser=1",
        L"--import-browser-data=1", L"--enable-stats=0", L"--enable-installer-stats=1",
        L"--singleprofile=0"},
       odd_folder,
       false,
       false,
       false,
       true},
      {"standalone",
       {L"--copyonly=true", L"--enable-stats=YES", L"--launchvelmo=1"},
       odd_folder,
       true,
       false,
       false,
       false},
      {"drive root", {L"--allusers=0"}, base::FilePath(L"C:\\"), false, false, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto settings = MakeSettings(MakeCommandLine(c.switches), c.folder, c.silent, c.autoupdate,
                                 c.replace_tarsel);
    ASSERT_EQ(Settings::kOperationInstall, settings->GetOperation());
    ASSERT_EQ(c.folder, settings->GetInstallFolder());
    std::wstring expected = DescribeSettings(*settings);
    if (c.suppress_launch) {
      ASSERT_TRUE(settings->SetFlag(Settings::LAUNCH_VELMO, false));
      expected = DescribeSettings(*settings);
      ASSERT_TRUE(settings->SetFlag(Settings::LAUNCH_VELMO, true));
    }
    EXPECT_EQ(expected, RoundTrip(*settings, c.suppress_launch));
  }
}

TEST_F(SettingsCommandLineTest, UninstallWritesOnlyItsSwitches) {
  base::win::ScopedComInitializer com;
  const base::FilePath folder = temp_dir_.GetPath().Append(L"installed");
  ASSERT_TRUE(base::CreateDirectoryTree(folder));
  InstallLog log;
  log.version = "43.0.2442.991";
  ASSERT_TRUE(log.Save(folder.Append(Installation::kInstallLogFileName)));

  auto settings = MakeSettings(MakeCommandLine({L"--uninstall", L"--deleteuserprofile=yes",
                                                L"--desktopshortcut=1", L"--v=1"}),
                               base::FilePath(), false, false, false, /*uninstall=*/true);
  ASSERT_TRUE(settings->IsFlagSet(Settings::DELETE_PROFILE));
  ASSERT_TRUE(settings->SetInstallFolder(folder));
  ASSERT_TRUE(test::WaitForSettingsObtained(settings.get()));
  ASSERT_EQ(Settings::kOperationUninstall, settings->GetOperation());

  base::CommandLine backend;
  settings->ToCommandLine(&backend, false);
  std::vector<std::string> names;
  for (const auto& entry : backend.GetSwitches())
    names.push_back(entry.first);
  EXPECT_EQ((std::vector<std::string>{"backend", "deleteuserprofile", "uninstall", "v"}), names);
  EXPECT_EQ(L"1", backend.GetSwitchValueNative(kDeleteUserProfileSwitch));
  EXPECT_EQ(L"1", backend.GetSwitchValueNative(kVerboseLevelSwitch));
  EXPECT_TRUE(backend.GetArgs().empty());
}

}  // namespace
}  // namespace installer
