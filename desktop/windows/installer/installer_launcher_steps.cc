// The steps that install the launcher and write the installer's preferences,
// and the end of a successful installation for the user: the profile's
// preferences and the browser's start.
#include "desktop/windows/installer/installer_launcher_steps.h"

#include <memory>
#include <string>
#include <vector>

#include "base/bind.h"
#include "base/code_location.h"
#include "base/command_line.h"
#include "base/files/file_util.h"
#include "base/json_file_deserializer.h"
#include "base/logging.h"
#include "base/process.h"
#include "base/threading/waitable_event.h"
#include "base/utf_string_conversions.h"
#include "base/values.h"
#include "components/prefs/json_pref_store.h"
#include "components/prefs/prefs_task_pool.h"
#include "desktop/windows/installer/installer.h"
#include "desktop/windows/installer/installer_status.h"
#include "desktop/windows/installer/installer_switches.h"
#include "desktop/windows/installer/product_config.h"
#include "desktop/windows/installer/service/installation.h"
#include "desktop/windows/installer/service/registry_names.h"
#include "desktop/windows/installer/service/transactions/copy_file_operation.h"
#include "desktop/windows/installer/service/transactions/move_file_operation.h"
#include "desktop/windows/installer/settings.h"
#include "desktop/windows/installer/settings_switches.h"
#include "desktop/windows/rc_l10n_handler/installer_string_ids.h"

namespace installer {

namespace {

// The store's write is one small file.
constexpr base::TimeSpan kPrefsWriteTimeout = base::TimeSpan::FromSeconds(60);

struct PrefsWriteSettings {
  base::SharedRef<prefs::PrefsTaskPoolHolder> pool;
  base::TimeSpan limit;
};

PrefsWriteSettings& PrefsWriteForTesting() {
  static auto* settings = new PrefsWriteSettings;
  return *settings;
}

// Keys of "installer_prefs.json".
constexpr char kWelcomeUrlPref[] = "welcome-url";
constexpr char kSingleProfilePref[] = "single_profile";
constexpr char kProfilePathPref[] = "profile_path";
constexpr char kLanguagePref[] = "language";
constexpr char kInstallerExperimentsPref[] = "installer-experiments";
constexpr char kAllInstallerExperimentsPref[] = "all-installer-experiments";
constexpr char kTempFolderPref[] = "temp_folder";
constexpr char kAutoupdatePref[] = "autoupdate";
constexpr char kImportBrowserDataPref[] = "import_browser_data";
constexpr char kEnableStatsPref[] = "enable_stats";

// The browser's preference files in the user's profile, and their keys.
constexpr wchar_t kPreferencesFileName[] = L"Preferences";
constexpr char kAppLocalePref[] = "intl.app_locale";
constexpr char kStatisticsCollectionPref[] = "statistics.collection_enabled";
constexpr char kPartnerContentUpdatedPref[] = "custom_partner_content.updated";
constexpr wchar_t kPartnerContentFileName[] = L"custom_partner_content.json";
constexpr wchar_t kTrackingUserAgentFileName[] = L"tracking_user_agent.json";
constexpr wchar_t kResourcesFolderName[] = L"resources";

bool StoreOpened(const prefs::JsonPrefStore* store) {
  return store && store->GetReadError() == prefs::JsonPrefStore::kReadNone;
}

}  // namespace

InstallLog GetInstalledLog(const InstallLog& run_log, const base::FilePath& install_folder) {
  if (!run_log.version.empty())
    return run_log;
  InstallLog saved;
  const base::FilePath path = install_folder.Append(Installation::kInstallLogFileName);
  if (!base::PathExists(path))
    VLOG(1) << "No install log in " << install_folder;
  else
    saved.Load(path);  // Load logs why it could not read the file.
  return saved;
}

std::string FormatExperimentEntry(std::string_view name, bool enabled) {
  std::string entry(name);
  entry += enabled ? "@1" : "@2";
  return entry;
}

void Installer::InstallLauncher() {
  LOG(INFO) << "Installing the launcher";
  const base::FilePath& install_folder = settings_->GetInstallFolder();
  const base::FilePath own_launcher = own_folder_.Append(kLauncherFileName);
  const base::FilePath launcher = install_folder.Append(kLauncherFileName);
  if (!transaction_.Execute(std::make_unique<CopyFileOperation>(own_launcher, launcher))) {
    Fail(IDS_ERROR_COPY_FILE, launcher.value(), "Failed copying the launcher");
    return;
  }

  // The former engine's shortcuts and associations name the browser
  // executable in the install folder: the launcher answers under that name
  // and the old executable stays beside it as ".old".
  if (!IsWhiteLabeled()) {
    VLOG(2) << "Check if the launcher should be installed as velmo.exe";
    const base::FilePath exe = install_folder.Append(GetBrowserExeName());
    const base::FilePath old = exe.ReplaceExtension(L".old");
    if (settings_->GetStatus().tarsel_installation() ||
        (base::PathExists(exe) && base::PathExists(old))) {
      VLOG(1) << "Install the launcher as velmo.exe";
      if (!transaction_.Execute(std::make_unique<MoveFileOperation>(exe, old)) ||
          !transaction_.Execute(std::make_unique<CopyFileOperation>(own_launcher, exe))) {
        LOG(WARNING) << "Failed installing the launcher as velmo.exe";
      }
    }
  }

  const base::CommandLine& command_line = settings_->command_line();
  if (command_line.HasSwitch(kServerTrackingDataSwitch)) {
    VLOG(1) << "Tracking data installation requested";
    const base::FilePath source =
        own_folder_.Append(command_line.GetSwitchValuePath(kServerTrackingDataSwitch));
    if (base::PathExists(source)) {
      if (!transaction_.Execute(std::make_unique<CopyFileOperation>(
              source, install_folder.Append(kServerTrackingDataFileName)))) {
        LOG(WARNING) << "Failed to install tracking data";
      }
    } else {
      LOG(WARNING) << "Tracking data path specified on command line invalid";
    }
  }

  const base::FilePath overrides = own_folder_.Append(kPrefDefaultOverridesFileName);
  if (base::PathExists(overrides)) {
    VLOG(1) << "Found pref default overrides";
    if (base::JsonFileDeserializer(overrides).Deserialize(nullptr, nullptr)) {
      if (!transaction_.Execute(std::make_unique<CopyFileOperation>(
              overrides, install_folder.Append(kPrefDefaultOverridesFileName)))) {
        LOG(WARNING) << "Failed to install pref default overrides";
      }
    } else {
      LOG(WARNING) << "Supplied pref default overrides is not valid JSON";
    }
  }

  ScheduleNextStep();
}

// static
void Installer::SetPrefsWriteForTesting(base::SharedRef<prefs::PrefsTaskPoolHolder> pool,
                                        base::TimeSpan limit) {
  PrefsWriteForTesting() = {std::move(pool), limit};
}

void Installer::WriteInstallerPrefs() {
  const Settings* settings = settings_;
  const base::FilePath final_path =
      settings->GetInstallFolder().Append(Installation::kInstallerPrefsFileName);
  // The preferences are written outside the installation, then copied over
  // the file through the run's transaction, so that a failed run takes them
  // back and a run ended from outside leaves no half-written file in the
  // folder (the store also writes a temporary beside its file). Beside the
  // file only when the temporary folder is unusable (logged).
  base::FilePath temp_folder, path;
  if (!base::GetTempDirectory(&temp_folder) ||
      !base::CreateTemporaryFileInDirectory(temp_folder, &path)) {
    path = base::FilePath(final_path.value() + L".new");
  }
  base::DeletePath(path, /*recursive=*/false);
  if (base::PathExists(final_path) && !base::CopySingleFile(final_path, path))
    LOG(WARNING) << "Could not copy " << final_path << " to " << path;
  const PrefsWriteSettings& for_testing = PrefsWriteForTesting();
  const base::SharedRef<prefs::PrefsTaskPoolHolder> pool =
      for_testing.pool ? for_testing.pool : prefs::GetPrefsTaskPool();
  const base::TimeSpan limit = for_testing.limit.is_zero() ? kPrefsWriteTimeout : for_testing.limit;
  base::SharedRef<prefs::JsonPrefStore> store = prefs::OpenJsonPrefStore(pool, path);
  LOG(INFO) << "Writing installer prefs to" << final_path;
  base::SharedRef<prefs::JsonPrefStore> include =
      prefs::OpenJsonPrefStore(pool, own_folder_.Append(kInstallerPrefsIncludeFileName));

  const base::Value* welcome_url = nullptr;
  if (include->GetValue(kWelcomeUrlPref, &welcome_url) &&
      welcome_url->IsType(base::Value::Type::kString)) {
    VLOG(1) << "Writing welcome page url pref";
    store->SetValue(kWelcomeUrlPref, welcome_url->CreateDeepCopy(), 0);
  }

  store->SetValue(
      kSingleProfilePref,
      std::make_unique<base::ScalarValue>(settings->IsFlagSet(Settings::SINGLE_PROFILE)), 0);
  if (!settings->GetProfileFolder().empty()) {
    VLOG(1) << "Writing profile folder pref";
    store->SetValue(kProfilePathPref,
                    std::make_unique<base::TextValue>(settings->GetProfileFolder().AsUTF8Unsafe()),
                    0);
  }
  if (!settings->GetInstallLanguage().empty()) {
    VLOG(1) << "Writing install language pref";
    store->SetValue(
        kLanguagePref,
        std::make_unique<base::TextValue>(base::WideToUTF8(settings->GetInstallLanguage())), 0);
  }

  auto changed = std::make_unique<base::ListValue>();
  auto all = std::make_unique<base::ListValue>();
  size_t count = 0;
  const ExperimentRow* rows = GetInstallerExperiments(&count);
  for (size_t i = 0; i < count; ++i) {
    const bool enabled = base::IsFeatureEnabled(rows[i].name);
    const std::string entry = FormatExperimentEntry(rows[i].name, enabled);
    all->AppendString(entry);
    if (enabled != IsFeatureEnabledByDefault(rows[i]))
      changed->AppendString(entry);
  }
  store->SetValue(kInstallerExperimentsPref, std::move(changed), 0);
  store->SetValue(kAllInstallerExperimentsPref, std::move(all), 0);

  const base::CommandLine& command_line = settings->command_line();
  if (command_line.HasSwitch(kTempFolderSwitch)) {
    VLOG(1) << "Writing temp folder pref";
    store->SetValue(kTempFolderPref,
                    std::make_unique<base::TextValue>(
                        std::wstring_view(command_line.GetSwitchValueNative(kTempFolderSwitch))),
                    0);
  }

  const bool autoupdate = settings->IsFlagSet(Settings::AUTOUPDATE);
  VLOG(1) << "Writing autoupdate pref";
  store->SetValue(kAutoupdatePref, std::make_unique<base::ScalarValue>(autoupdate), 0);
  if (!autoupdate) {
    VLOG(1) << "Writing import browser data and enables stats prefs.";
    store->SetValue(
        kImportBrowserDataPref,
        std::make_unique<base::ScalarValue>(settings->IsFlagSet(Settings::IMPORT_BROWSER_DATA)), 0);
    store->SetValue(
        kEnableStatsPref,
        std::make_unique<base::ScalarValue>(settings->IsFlagSet(Settings::ENABLE_VELMO_STATS)), 0);
  }

  // The store writes its file on its own sequence: waited for here.
  store->CommitPendingWrite();
  store = base::SharedRef<prefs::JsonPrefStore>();
  // A hung write must not hold the back end (and the folder's lock): the
  // wait is bounded, and the event is shared with the task, which may run
  // after a wait that gave up. A file not known to be whole is not copied.
  auto written = std::make_shared<base::WaitableEvent>(
      base::WaitableEvent::ResetPolicy::kManual, base::WaitableEvent::InitialState::kNotSignaled);
  if (!pool->GetSequenceForFile(path)->PostTask(
          FROM_HERE, base::Bind([](std::shared_ptr<base::WaitableEvent> event) { event->Signal(); },
                                written))) {
    LOG(ERROR) << "Could not queue the installer prefs write; " << final_path << " is not written";
  } else if (!written->TimedWait(limit)) {
    LOG(ERROR) << "The installer prefs write did not end within " << limit.InSeconds() << " s; "
               << final_path << " is not written";
  } else if (!transaction_.Execute(std::make_unique<CopyFileOperation>(path, final_path))) {
    LOG(WARNING) << "Could not write the installer prefs to " << final_path;
  }
  base::DeletePath(path, /*recursive=*/false);
  ScheduleNextStep();
}

void Installer::FinalizeSuccessfulInstallation() {
  LOG(INFO) << "Finalizing successful installation";
  const Settings* settings = settings_;
  const InstallerStatus& status = settings->GetStatus();
  const base::FilePath& install_folder = settings->GetInstallFolder();
  const bool autoupdate = settings->IsFlagSet(Settings::AUTOUPDATE);

  const base::FilePath& profile = status.profile_path();
  if (!profile.empty()) {
    VLOG(1) << "User profile modifications";
    base::SharedRef<prefs::JsonPrefStore> local_state =
        prefs::OpenJsonPrefStore(prefs::GetPrefsTaskPool(), profile.Append(kLocalStateFileName));
    const bool local_state_opened = StoreOpened(local_state.get());
    const base::Value* locale = nullptr;
    if (local_state_opened && local_state->GetValue(kAppLocalePref, &locale)) {
      VLOG(1) << "Updating user profile language";
      local_state->SetValue(
          kAppLocalePref,
          std::make_unique<base::TextValue>(std::wstring_view(settings->GetInstallLanguage())), 0);
    }

    if (!autoupdate) {
      base::SharedRef<prefs::JsonPrefStore> preferences =
          prefs::OpenJsonPrefStore(prefs::GetPrefsTaskPool(), profile.Append(kPreferencesFileName));
      if (StoreOpened(preferences.get())) {
        VLOG(1) << "Removing stat pref from the user profile";
        preferences->RemoveValue(kStatisticsCollectionPref, 0);
      }
    }

    if (!autoupdate && local_state_opened) {
      const base::FilePath profile_content = profile.Append(kPartnerContentFileName);
      const base::FilePath profile_user_agent = profile.Append(kTrackingUserAgentFileName);
      const base::FilePath resources =
          install_folder.Append(GetInstalledLog(install_log_, install_folder).subfolder)
              .Append(kResourcesFolderName);
      const base::FilePath new_content = resources.Append(kPartnerContentFileName);
      const base::FilePath new_user_agent = resources.Append(kTrackingUserAgentFileName);
      bool updated = false;
      if (!base::PathExists(new_content) && !base::PathExists(new_user_agent)) {
        if (base::PathExists(profile_content))
          updated = base::DeletePath(profile_content, false);
        if (!base::DeletePath(profile_user_agent, false))
          LOG(WARNING) << "Could not delete " << profile_user_agent;
        VLOG(1) << "Removing tracking ua file from the user profile";
      } else if (!base::PathExists(profile_content) && !base::PathExists(profile_user_agent) &&
                 base::PathExists(new_content)) {
        VLOG(1) << "Installed new cutsom edition to the user profile";
        updated = base::CopySingleFile(new_content, profile_content);
        if (!updated)
          LOG(WARNING) << "Failed to copy new custom edition file.";
      }
      if (updated) {
        VLOG(1) << "Flag the fact that custom content was updated in profile.";
        local_state->SetValue(kPartnerContentUpdatedPref, std::make_unique<base::ScalarValue>(true),
                              0);
      }
    }
  }

  if (settings->IsFlagSet(Settings::LAUNCH_VELMO)) {
    base::CommandLine command_line(install_folder.Append(kLauncherFileName));
    command_line.CopySwitchesFrom(
        settings->command_line(),
        {kImportBookmarksSwitch, kImportSessionSwitch, kImportTopSitesSwitch});
    if (settings->GetOperation() != Settings::kOperationUpgrade)
      command_line.AppendSwitch(kStartMaximizedSwitch);
    LOG(INFO) << "Launching velmo with command line" << command_line.GetCommandLineString();
    // The launcher starts the browser and returns.
    base::LaunchOptions options;
    options.wait = true;
    base::Process launcher = base::LaunchProcess(command_line, options);
    if (!launcher.IsValid())
      LOG(WARNING) << "Could not start the browser";
  }
}

}  // namespace installer
