#include "desktop/windows/installer/installer_launcher_steps.h"

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "base/features/command_line_feature_reader.h"
#include "base/features/feature_registry.h"
#include "base/json_file_deserializer.h"
#include "base/files/path_registry.h"
#include "base/threading/waitable_event.h"
#include "base/values.h"
#include "components/prefs/prefs_task_pool.h"
#include "desktop/windows/installer/folder_installation.h"
#include "desktop/windows/installer/installer.h"
#include "desktop/windows/installer/installer_status.h"
#include "desktop/windows/installer/launcher_steps_test_support.h"
#include "desktop/windows/installer/product_config.h"
#include "desktop/windows/installer/service/authenticode_test_fixtures.h"
#include "desktop/windows/installer/service/install_log.h"
#include "desktop/windows/installer/service/installation.h"
#include "desktop/windows/installer/service/registry_names.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

using test::ReadText;
using test::WriteText;

bool Has(const base::DictValue& dict, std::string_view path) {
  const base::Value* value = nullptr;
  return dict.Get(path, &value);
}

// Reads a JSON file once a condition on it holds (preference files are
// written on the preferences pool after the run); null after a minute.
std::unique_ptr<base::Value> WaitForJson(const base::FilePath& path, const char* key) {
  for (int i = 0; i < 1200; ++i) {
    std::unique_ptr<base::Value> value =
        base::JsonStringDeserializer(ReadText(path)).Deserialize(nullptr, nullptr);
    const base::DictValue* dict = nullptr;
    if (value && value->GetAsDictionary(&dict) && Has(*dict, key))
      return value;
    ::Sleep(50);
  }
  return nullptr;
}

std::vector<std::string> StringList(const base::DictValue& dict, const char* key) {
  std::vector<std::string> result;
  const base::ListValue* list = nullptr;
  if (!dict.GetList(key, &list))
    return {"<missing>"};
  for (size_t i = 0; i < list->size(); ++i) {
    std::string text;
    list->GetString(i, &text);
    result.push_back(text);
  }
  return result;
}

using test::ScopedExperiments;

class LauncherStepsTest : public test::InstallerRunTest {
 protected:
  // An installation of this engine in the install folder: single-profile
  // (its profile is the folder's "data"), with |prefs| as its installer
  // preferences.
  void MakeExistingInstallation(const std::string& prefs) {
    ASSERT_TRUE(base::CreateDirectoryTree(profile()));
    ASSERT_TRUE(WriteText(install_folder_.Append(GetBrowserExeName()), "MZ"));
    InstallLog log;
    log.version = "1.0.0.1";
    log.subfolder = base::FilePath(L"1.0.0.1");
    log.path = install_folder_;
    ASSERT_TRUE(log.Save(install_folder_.Append(Installation::kInstallLogFileName)));
    ASSERT_TRUE(WriteText(install_folder_.Append(Installation::kInstallerPrefsFileName), prefs));
  }
  base::FilePath profile() const { return install_folder_.Append(L"data"); }
};

TEST(FormatExperimentEntryTest, NameAtState) {
  EXPECT_EQ("installer-experiment-test@1",
            FormatExperimentEntry("installer-experiment-test", true));
  EXPECT_EQ("x@2", FormatExperimentEntry("x", false));
}

// A new installation: every key from the settings, the welcome page from the
// package, the changed experiment alone in the short list.
TEST_F(LauncherStepsTest, InstallerPrefsOfANewInstallation) {
  const base::FilePath temp = temp_dir_.GetPath().Append(L"download");
  const base::FilePath profile_folder = temp_dir_.GetPath().Append(L"Profile \u00e6");
  ASSERT_TRUE(WriteText(package_folder_.Append(kInstallerPrefsIncludeFileName),
                        "{\"welcome-url\": \"https://example.com/welcome\", \"other\": 1}"));
  MakeSettings({L"--temp-folder=" + temp.value(), L"--profile-folder=" + profile_folder.value(),
                L"--import-browser-data=0", L"--enable-stats=1", L"--singleprofile=0",
                L"--with-feature:installer-experiment-test=on"});
  ScopedExperiments experiments(settings_->command_line());
  SetSteps({&Installer::WriteInstallerPrefs});
  RunInstaller();
  ASSERT_EQ(std::vector<std::string>({"ready", "success"}), delegate_.events);

  std::unique_ptr<base::Value> value =
      WaitForJson(install_folder_.Append(Installation::kInstallerPrefsFileName), "autoupdate");
  ASSERT_TRUE(value);
  const base::DictValue* prefs = nullptr;
  ASSERT_TRUE(value->GetAsDictionary(&prefs));
  std::string text;
  bool flag = true;
  EXPECT_TRUE(prefs->GetString("welcome-url", &text));
  EXPECT_EQ("https://example.com/welcome", text);
  EXPECT_FALSE(Has(*prefs, "other"));
  EXPECT_TRUE(prefs->GetBoolean("single_profile", &flag));
  EXPECT_FALSE(flag);
  EXPECT_TRUE(prefs->GetString("profile_path", &text));
  EXPECT_EQ(profile_folder.AsUTF8Unsafe(), text);
  EXPECT_TRUE(prefs->GetString("temp_folder", &text));
  EXPECT_EQ(temp.AsUTF8Unsafe(), text);
  EXPECT_TRUE(prefs->GetBoolean("autoupdate", &flag));
  EXPECT_FALSE(flag);
  EXPECT_TRUE(prefs->GetBoolean("import_browser_data", &flag));
  EXPECT_FALSE(flag);
  EXPECT_TRUE(prefs->GetBoolean("enable_stats", &flag));
  EXPECT_TRUE(flag);
  if (!settings_->GetInstallLanguage().empty()) {
    EXPECT_TRUE(prefs->GetString("language", &text));
    EXPECT_EQ(base::WideToUTF8(settings_->GetInstallLanguage()), text);
  }

  // The test experiment is off by default and on now; every other one keeps
  // its default and appears in the full list only.
  EXPECT_EQ(std::vector<std::string>({"installer-experiment-test@1"}),
            StringList(*prefs, "installer-experiments"));
  const std::vector<std::string> all = StringList(*prefs, "all-installer-experiments");
  ASSERT_EQ(4u, all.size());
  EXPECT_EQ("installer-experiment-test@1", all[0]);
  EXPECT_EQ("installer-hide-from-program-and-features", all[1].substr(0, all[1].find('@')));
  EXPECT_EQ("installer-pref-default-overrides-support", all[2].substr(0, all[2].find('@')));
  EXPECT_EQ(std::string("installer-support-x64-download@") +
                (IsFeatureEnabledByDefault(kInstallerExperiments[3]) ? "1" : "2"),
            all[3]);
}

// A preferences pool that refuses the write, or whose threads are all
// busy, must not hold the back end: the step gives the file up and the run
// goes on.
TEST_F(LauncherStepsTest, APrefsWriteThatCannotEndIsGivenUp) {
  auto refusing = base::MakeShared<prefs::PrefsTaskPoolHolder>();
  refusing->pool()->Shutdown();
  base::WaitableEvent release(base::WaitableEvent::ResetPolicy::kManual,
                              base::WaitableEvent::InitialState::kNotSignaled);
  auto busy = base::MakeShared<prefs::PrefsTaskPoolHolder>();
  // The busy pool's threads are let go before it shuts down, however the
  // test ends.
  struct ReleaseOnExit {
    base::WaitableEvent* event;
    ~ReleaseOnExit() { event->Signal(); }
  } release_on_exit{&release};
  std::vector<std::unique_ptr<base::WaitableEvent>> started;
  for (size_t i = 0; i < prefs::PrefsTaskPoolHolder::kMaxThreads; ++i) {
    started.push_back(
        std::make_unique<base::WaitableEvent>(base::WaitableEvent::ResetPolicy::kManual,
                                              base::WaitableEvent::InitialState::kNotSignaled));
    ASSERT_TRUE(
        busy->GetSequenceForFile(base::FilePath(L"blocker" + std::to_wstring(i)))
            ->PostTask(FROM_HERE,
                       base::Bind(
                           [](base::WaitableEvent* started, base::WaitableEvent* release) {
                             started->Signal();
                             release->Wait();
                           },
                           base::Unretained(started.back().get()), base::Unretained(&release))));
  }
  for (const auto& event : started)
    ASSERT_TRUE(event->TimedWait(base::TimeSpan::FromSeconds(60)));

  const struct {
    base::SharedRef<prefs::PrefsTaskPoolHolder> pool;
    const char* logged;
  } kCases[] = {{refusing, "Could not queue the installer prefs write"},
                {busy, "The installer prefs write did not end within 1 s"}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.logged);
    Installer::SetPrefsWriteForTesting(c.pool, base::TimeSpan::FromSeconds(1));
    delegate_.events.clear();
    MakeSettings({});
    SetSteps({&Installer::WriteInstallerPrefs});
    installer::testing::ScopedLogCapture log;
    RunInstaller();
    EXPECT_EQ(std::vector<std::string>({"ready", "success"}), delegate_.events);
    EXPECT_NE(std::string::npos, log.text().find(c.logged));
    EXPECT_FALSE(base::PathExists(install_folder_.Append(Installation::kInstallerPrefsFileName)));
  }
  Installer::SetPrefsWriteForTesting(nullptr, base::TimeSpan());
}

// An autoupdate keeps the user's choices in the file and leaves the profile
// alone; the keys it does not know stay.
TEST_F(LauncherStepsTest, AutoupdateLeavesChoicesAndProfileAlone) {
  MakeExistingInstallation(
      "{\"single_profile\": true, \"import_browser_data\": \"kept\", \"enable_stats\": \"kept\","
      " \"autoupdate\": false, \"unknown\": 7}");
  const std::string preferences = "{\"statistics\": {\"collection_enabled\": true}}";
  ASSERT_TRUE(WriteText(profile().Append(L"Preferences"), preferences));
  ASSERT_TRUE(WriteText(profile().Append(kLocalStateFileName), "{\"x\": 1}"));
  ASSERT_TRUE(WriteText(profile().Append(L"custom_partner_content.json"), "{}"));
  MakeSettings({}, /*autoupdate=*/true);
  ASSERT_EQ(Settings::kOperationUpgrade, settings_->GetOperation());
  ASSERT_EQ(profile(), settings_->GetStatus().profile_path());
  ScopedExperiments experiments(settings_->command_line());
  SetSteps({&Installer::WriteInstallerPrefs},
           base::Bind([](Installer* installer) { installer->FinalizeSuccessfulInstallation(); }));
  RunInstaller();
  ASSERT_EQ(std::vector<std::string>({"ready", "success"}), delegate_.events);

  std::unique_ptr<base::Value> value = WaitForJson(
      install_folder_.Append(Installation::kInstallerPrefsFileName), "all-installer-experiments");
  ASSERT_TRUE(value);
  const base::DictValue* prefs = nullptr;
  ASSERT_TRUE(value->GetAsDictionary(&prefs));
  bool flag = false;
  std::string text;
  int number = 0;
  EXPECT_TRUE(prefs->GetBoolean("autoupdate", &flag));
  EXPECT_TRUE(flag);
  EXPECT_TRUE(prefs->GetString("import_browser_data", &text));
  EXPECT_EQ("kept", text);
  EXPECT_TRUE(prefs->GetString("enable_stats", &text));
  EXPECT_EQ("kept", text);
  EXPECT_TRUE(prefs->GetInteger("unknown", &number));
  EXPECT_EQ(7, number);

  EXPECT_EQ(preferences, ReadText(profile().Append(L"Preferences")));
  EXPECT_TRUE(base::PathExists(profile().Append(L"custom_partner_content.json")));
}

// The launcher, the tracking data named on the command line and valid
// preference-default overrides are installed; overrides that are not JSON
// are not.
TEST_F(LauncherStepsTest, LauncherTrackingDataAndOverrides) {
  ASSERT_TRUE(WriteText(package_folder_.Append(L"tracking.dat"), "tracking"));
  ASSERT_TRUE(WriteText(package_folder_.Append(kPrefDefaultOverridesFileName), "{\"a\": "));
  MakeSettings({L"--server-tracking-data=tracking.dat"});
  SetSteps({&Installer::InstallLauncher});
  RunInstaller();
  ASSERT_EQ(std::vector<std::string>({"ready", "success"}), delegate_.events);
  installer_.reset();
  EXPECT_EQ(ReadText(package_folder_.Append(L"launcher.exe")),
            ReadText(install_folder_.Append(L"launcher.exe")));
  EXPECT_EQ("tracking", ReadText(install_folder_.Append(kServerTrackingDataFileName)));
  EXPECT_FALSE(base::PathExists(install_folder_.Append(kPrefDefaultOverridesFileName)));
  EXPECT_TRUE(base::PathExists(package_folder_.Append(kPrefDefaultOverridesFileName)));

  // Valid overrides are installed; a tracking file that is not there is no
  // error.
  ASSERT_TRUE(WriteText(package_folder_.Append(kPrefDefaultOverridesFileName), "{\"a\": 1}"));
  delegate_.events.clear();
  ASSERT_TRUE(base::DeletePath(install_folder_, true));
  MakeSettings({L"--server-tracking-data=missing.dat"});
  SetSteps({&Installer::InstallLauncher});
  RunInstaller();
  ASSERT_EQ(std::vector<std::string>({"ready", "success"}), delegate_.events);
  installer_.reset();
  EXPECT_EQ("{\"a\": 1}", ReadText(install_folder_.Append(kPrefDefaultOverridesFileName)));
  EXPECT_FALSE(base::PathExists(install_folder_.Append(kServerTrackingDataFileName)));
}

// With the browser executable and its ".old" beside it, the launcher takes
// the executable's name; a later failure brings both files back.
TEST_F(LauncherStepsTest, LauncherAsBrowserExecutableIsRolledBack) {
  MakeExistingInstallation("{}");
  const base::FilePath exe = install_folder_.Append(GetBrowserExeName());
  const base::FilePath old = exe.ReplaceExtension(L".old");
  ASSERT_TRUE(WriteText(exe, "current browser"));
  ASSERT_TRUE(WriteText(old, "older browser"));
  MakeSettings({});
  const std::string launcher = ReadText(package_folder_.Append(L"launcher.exe"));
  SetSteps({&Installer::InstallLauncher}, base::Bind([&](Installer* installer) {
             EXPECT_EQ(launcher, ReadText(exe));
             EXPECT_EQ("current browser", ReadText(old));
             EXPECT_EQ(launcher, ReadText(install_folder_.Append(L"launcher.exe")));
             installer->Fail(37055, std::wstring(), "later step failed");
           }));
  RunInstaller();
  ASSERT_EQ(std::vector<std::string>({"ready", "error:37055::later step failed", "terminated:0"}),
            delegate_.events);
  EXPECT_EQ("current browser", ReadText(exe));
  EXPECT_EQ("older browser", ReadText(old));
  EXPECT_FALSE(base::PathExists(install_folder_.Append(L"launcher.exe")));
}

TEST_F(LauncherStepsTest, MissingLauncherFailsTheRun) {
  ASSERT_TRUE(base::DeletePath(package_folder_.Append(L"launcher.exe"), false));
  MakeSettings({});
  SetSteps({&Installer::InstallLauncher});
  RunInstaller();
  const std::string expected =
      "error:37062:" + base::WideToUTF8(install_folder_.Append(L"launcher.exe").value()) +
      ":Failed copying the launcher";
  EXPECT_EQ(std::vector<std::string>({"ready", expected, "terminated:0"}), delegate_.events);
  EXPECT_FALSE(base::PathExists(install_folder_));
}

// The end of an installation starts the launcher maximised with the import
// switches; an upgrade starts it as it was and updates the user's profile.
TEST_F(LauncherStepsTest, FinalizingLaunchesAndUpdatesTheProfile) {
  MakeSettings({L"--launchvelmo=1", L"--import-bookmarks=1"});
  SetSteps({&Installer::InstallLauncher},
           base::Bind([](Installer* installer) { installer->FinalizeSuccessfulInstallation(); }));
  RunInstaller();
  ASSERT_EQ(std::vector<std::string>({"ready", "success"}), delegate_.events);
  std::vector<std::wstring> record = test::ReadLauncherRecord(install_folder_);
  ASSERT_EQ(1u, record.size());
  EXPECT_NE(std::wstring::npos, record[0].find(L"--import-bookmarks=1")) << record[0];
  EXPECT_NE(std::wstring::npos, record[0].find(L"--start-maximized")) << record[0];
  installer_.reset();
  settings_.reset();

  // Now an upgrade of that folder with a profile.
  ASSERT_TRUE(base::DeletePath(install_folder_.Append(L"launcher_command_line.txt"), false));
  MakeExistingInstallation("{\"single_profile\": true}");
  ASSERT_TRUE(
      WriteText(profile().Append(kLocalStateFileName), "{\"intl\": {\"app_locale\": \"nb\"}}"));
  ASSERT_TRUE(WriteText(profile().Append(L"Preferences"),
                        "{\"statistics\": {\"collection_enabled\": true}, \"y\": 2}"));
  ASSERT_TRUE(WriteText(profile().Append(L"custom_partner_content.json"), "{}"));
  ASSERT_TRUE(WriteText(profile().Append(L"tracking_user_agent.json"), "{}"));
  delegate_.events.clear();
  MakeSettings({L"--launchvelmo=1", L"--language=de", L"--import-session=1"});
  ASSERT_EQ(Settings::kOperationUpgrade, settings_->GetOperation());
  const std::string language = base::WideToUTF8(settings_->GetInstallLanguage());
  ASSERT_FALSE(language.empty());
  ASSERT_NE("nb", language);
  SetSteps({&Installer::InstallLauncher},
           base::Bind([](Installer* installer) { installer->FinalizeSuccessfulInstallation(); }));
  RunInstaller();
  ASSERT_EQ(std::vector<std::string>({"ready", "success"}), delegate_.events);
  record = test::ReadLauncherRecord(install_folder_);
  ASSERT_EQ(1u, record.size());
  EXPECT_NE(std::wstring::npos, record[0].find(L"--import-session=1")) << record[0];
  EXPECT_EQ(std::wstring::npos, record[0].find(L"--start-maximized")) << record[0];

  // Without new partner content in the version's resources, the profile's
  // copies go and "Local State" says so.
  EXPECT_FALSE(base::PathExists(profile().Append(L"custom_partner_content.json")));
  EXPECT_FALSE(base::PathExists(profile().Append(L"tracking_user_agent.json")));
  std::unique_ptr<base::Value> local_state =
      WaitForJson(profile().Append(kLocalStateFileName), "custom_partner_content");
  ASSERT_TRUE(local_state);
  const base::DictValue* dict = nullptr;
  ASSERT_TRUE(local_state->GetAsDictionary(&dict));
  std::string locale;
  EXPECT_TRUE(dict->GetString("intl.app_locale", &locale));
  EXPECT_EQ(language, locale);
  bool updated = false;
  EXPECT_TRUE(dict->GetBoolean("custom_partner_content.updated", &updated));
  EXPECT_TRUE(updated);
  std::unique_ptr<base::Value> preferences = WaitForJson(profile().Append(L"Preferences"), "y");
  ASSERT_TRUE(preferences);
  ASSERT_TRUE(preferences->GetAsDictionary(&dict));
  EXPECT_FALSE(Has(*dict, "statistics.collection_enabled"));
}

// A profile belongs to this engine's installation only when that
// installation kept installer preferences: an installation of the former
// engine, or one without preferences, has its user's profile left as it is.
TEST_F(LauncherStepsTest, ProfileOfAnInstallationWithoutInstallerPrefsIsLeftAlone) {
  const base::FilePath roaming = temp_dir_.GetPath().Append(L"Roaming");
  ASSERT_TRUE(base::PathRegistry::Override(base::kPathRoamingAppData, roaming));
  const std::string local_state_bytes = "{\"intl\": {\"app_locale\": \"nb\"}, \"x\": 1}";
  const std::string preferences_bytes = "{\"statistics\": {\"collection_enabled\": true}}";
  for (bool former_engine : {false, true}) {
    SCOPED_TRACE(former_engine);
    ASSERT_TRUE(base::CreateDirectoryTree(install_folder_));
    InstallLog log;
    log.version = "1.0.0.1";
    log.subfolder = base::FilePath(L"1.0.0.1");
    log.path = install_folder_;
    base::FilePath profile_folder;
    if (former_engine) {
      // The former engine's installation with a preference file that names
      // a single profile: still not this engine's to touch.
      ASSERT_TRUE(log.Save(install_folder_.Append(kTarselInstallLogFileName)));
      ASSERT_TRUE(WriteText(install_folder_.Append(Installation::kInstallerPrefsFileName),
                            "{\"single_profile\": true}"));
      profile_folder = profile();
    } else {
      ASSERT_TRUE(log.Save(install_folder_.Append(Installation::kInstallLogFileName)));
      FolderInstallation installation(install_folder_, log);
      ASSERT_TRUE(installation.GetUserDataFolder(&profile_folder, false));
      ASSERT_TRUE(roaming.IsParent(profile_folder));
    }
    ASSERT_TRUE(base::CreateDirectoryTree(profile_folder));
    const base::FilePath local_state = profile_folder.Append(kLocalStateFileName);
    const base::FilePath preferences = profile_folder.Append(L"Preferences");
    ASSERT_TRUE(WriteText(local_state, local_state_bytes));
    ASSERT_TRUE(WriteText(preferences, preferences_bytes));

    delegate_.events.clear();
    MakeSettings({L"--language=de", L"--launchvelmo=0"});
    EXPECT_TRUE(settings_->GetStatus().profile_path().empty());
    SetSteps({},
             base::Bind([](Installer* installer) { installer->FinalizeSuccessfulInstallation(); }));
    RunInstaller();
    ASSERT_EQ(std::vector<std::string>({"ready", "success"}), delegate_.events);
    test::FlushPrefsWrites(local_state);
    test::FlushPrefsWrites(preferences);
    EXPECT_EQ(local_state_bytes, ReadText(local_state));
    EXPECT_EQ(preferences_bytes, ReadText(preferences));
    installer_.reset();
    settings_.reset();
    ASSERT_TRUE(base::DeletePath(install_folder_, true));
    ASSERT_TRUE(base::DeletePath(profile_folder, true));
  }
}

// New partner content in the version's resources reaches a profile without
// one; a profile that has its own keeps it and nothing is flagged.
TEST_F(LauncherStepsTest, NewPartnerContentOnlyForAProfileWithoutOne) {
  for (bool profile_has_content : {false, true}) {
    SCOPED_TRACE(profile_has_content);
    MakeExistingInstallation("{\"single_profile\": true}");
    ASSERT_TRUE(WriteText(profile().Append(kLocalStateFileName), "{\"x\": 1}"));
    const base::FilePath content = profile().Append(L"custom_partner_content.json");
    if (profile_has_content)
      ASSERT_TRUE(WriteText(content, "old"));
    else
      base::DeletePath(content, false);
    delegate_.events.clear();
    MakeSettings({});
    SetSteps({}, base::Bind([](Installer* installer) {
               const base::FilePath resources = installer->settings()
                                                    ->GetInstallFolder()
                                                    .Append(installer->install_log()->subfolder)
                                                    .Append(L"resources");
               ASSERT_TRUE(base::CreateDirectoryTree(resources));
               ASSERT_TRUE(WriteText(resources.Append(L"custom_partner_content.json"), "new"));
               installer->FinalizeSuccessfulInstallation();
             }));
    RunInstaller();
    ASSERT_EQ(std::vector<std::string>({"ready", "success"}), delegate_.events);
    EXPECT_EQ(profile_has_content ? "old" : "new", ReadText(content));
    std::unique_ptr<base::Value> local_state =
        WaitForJson(profile().Append(kLocalStateFileName),
                    profile_has_content ? "x" : "custom_partner_content");
    ASSERT_TRUE(local_state);
    const base::DictValue* dict = nullptr;
    ASSERT_TRUE(local_state->GetAsDictionary(&dict));
    EXPECT_EQ(!profile_has_content, Has(*dict, "custom_partner_content.updated"));
    installer_.reset();
    settings_.reset();
    ASSERT_TRUE(base::DeletePath(install_folder_, true));
  }
}

}  // namespace
}  // namespace installer
