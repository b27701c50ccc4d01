#include "desktop/windows/installer/settings_command_line.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/bind.h"
#include "base/command_line.h"
#include "base/features/feature_registry.h"
#include "base/logging.h"
#include "base/string_number_conversions.h"
#include "base/string_util.h"
#include "base/utf_string_conversions.h"
#include "base/win/shortcut.h"
#include "base/win/windows_version.h"
#include "desktop/windows/installer/installer_status.h"
#include "desktop/windows/installer/installer_switches.h"
#include "desktop/windows/installer/product_config.h"
#include "desktop/windows/installer/service/user_admin.h"
#include "desktop/windows/installer/settings.h"
#include "desktop/windows/installer/settings_switches.h"
#include "desktop/windows/installer/status_fetch.h"

namespace installer {
namespace {

const char* SwitchValue(bool value) { return value ? "1" : "0"; }

}  // namespace

bool ParseBooleanSwitchValue(std::wstring_view text) {
  if (base::EqualsAsciiIgnoreCase(text, "yes") || base::EqualsAsciiIgnoreCase(text, "true"))
    return true;
  int64_t number = 0;
  return base::StringToInt64_16(text, &number) && number != 0;
}

bool IsWellFormedBooleanSwitchValue(std::wstring_view text) {
  if (base::EqualsAsciiIgnoreCase(text, "yes") || base::EqualsAsciiIgnoreCase(text, "true") ||
      base::EqualsAsciiIgnoreCase(text, "no") || base::EqualsAsciiIgnoreCase(text, "false")) {
    return true;
  }
  return base::StringToInt64_16(text, nullptr);
}

bool Settings::ReadFlagSwitch(int index, const char* name, const base::CommandLine& command_line) {
  if (!command_line.HasSwitch(name))
    return false;
  const std::wstring value = command_line.GetSwitchValueNative(name);
  // An odd value still counts, as false, so that "off" never turns an option
  // on; the warning tells the user it was not understood.
  if (!IsWellFormedBooleanSwitchValue(value) &&
      std::find(reported_switches_.begin(), reported_switches_.end(), name) ==
          reported_switches_.end()) {
    reported_switches_.push_back(name);
    LOG(WARNING) << "The value \"" << value << "\" of --" << name
                 << " is no boolean; read as false";
  }
  SetFlagDirectly(index, ParseBooleanSwitchValue(value));
  return true;
}

void Settings::ReadFromCommandLine() {
  if (!modifiable_)
    return;
  VLOG(1) << "Settings from command line";
  const base::CommandLine& cl = command_line_;

  SetFlagDirectly(ALL_USERS_FLAG, IsUserAdmin(!IsFlagSet(SILENT)));
  SetFlagDirectly(COPY_ONLY, false);
  SetFlagDirectly(LAUNCH_VELMO, true);
  SetFlagDirectly(DEFAULT_BROWSER, GetBuildStream() == 4 && !IsFlagSet(AUTOUPDATE));
  SetFlagDirectly(IMPORT_BROWSER_DATA, true);
  SetFlagDirectly(ENABLE_INSTALLER_STATS, true);
  SetFlagDirectly(ENABLE_VELMO_STATS, true);
  SetFlagDirectly(SINGLE_PROFILE, false);
  SetFlagDirectly(DESKTOP_SHORTCUT, true);
  SetFlagDirectly(START_MENU_SHORTCUT, true);
  SetFlagDirectly(QUICK_LAUNCH_SHORTCUT, base::win::GetWindowsVersion() < base::win::VERSION_WIN7);
  SetFlagDirectly(PINNED_SHORTCUT, base::win::TaskbarPinningSupported());

  if (!ReadFlagSwitch(LAUNCH_VELMO, kLaunchVelmoSwitch, cl))
    ReadFlagSwitch(LAUNCH_VELMO, kLaunchBrowserSwitch, cl);
  ReadFlagSwitch(COPY_ONLY, kCopyOnlySwitch, cl);
  ApplyCopyOnly(IsFlagSet(COPY_ONLY));
  ReadFlagSwitch(IMPORT_BROWSER_DATA, kImportBrowserDataSwitch, cl);
  if (ReadFlagSwitch(ENABLE_VELMO_STATS, kEnableStatsSwitch, cl))
    SetFlagDirectly(ENABLE_INSTALLER_STATS, IsFlagSet(ENABLE_VELMO_STATS));
  ReadFlagSwitch(ENABLE_INSTALLER_STATS, kEnableInstallerStatsSwitch, cl);
  if (!IsFlagSet(COPY_ONLY)) {
    ReadFlagSwitch(ALL_USERS_FLAG, kAllUsersSwitch, cl);
    ReadFlagSwitch(DEFAULT_BROWSER, kSetDefaultBrowserSwitch, cl);
    ReadFlagSwitch(DESKTOP_SHORTCUT, kDesktopShortcutSwitch, cl);
    ReadFlagSwitch(START_MENU_SHORTCUT, kStartMenuShortcutSwitch, cl);
    ReadFlagSwitch(QUICK_LAUNCH_SHORTCUT, kQuickLaunchShortcutSwitch, cl);
    ReadFlagSwitch(PINNED_SHORTCUT, kPinToTaskbarSwitch, cl);
  } else {
    SetFlagDirectly(SINGLE_PROFILE, true);
  }
  ReadFlagSwitch(SINGLE_PROFILE, kSingleProfileSwitch, cl);
  if (cl.HasSwitch(kProfileFolderSwitch))
    profile_folder_ = cl.GetSwitchValuePath(kProfileFolderSwitch);
  if (cl.HasSwitch(kInstallAssistantSwitch) && !IsFlagSet(COPY_ONLY))
    SetFlag(INSTALL_ASSISTANT, true);
  LogFlags();
}

void Settings::ReadUninstallOptions(const base::CommandLine& command_line) {
  bool delete_profile = false;
  if (command_line.HasSwitch(kDeleteUserProfileSwitch))
    delete_profile =
        ParseBooleanSwitchValue(command_line.GetSwitchValueNative(kDeleteUserProfileSwitch));
  if (IsFlagSet(UNINSTALL_FLAG))
    SetFlag(DELETE_PROFILE, delete_profile);
  if (!command_line.HasSwitch(kBackendSwitch))
    CheckProfileSharedByOtherInstallations();
}

void Settings::ToCommandLine(base::CommandLine* command_line, bool suppress_launch) const {
  base::CommandLine& cl = *command_line;
  cl = base::CommandLine();
  cl.AppendSwitch(kBackendSwitch);
  if (IsFlagSet(SILENT))
    cl.AppendSwitch(kSilentSwitch);
  cl.CopySwitchesFrom(command_line_, {kInitialPidSwitch, kTempFolderSwitch, kComponentsSwitch,
                                      kVerboseLevelSwitch});

  const bool installing = operation_ == kOperationInstall || operation_ == kOperationUpgrade;
  if (installing) {
    cl.AppendSwitch(kInstallSwitch);
    if (IsFlagSet(AUTOUPDATE))
      cl.AppendSwitch(kAutoupdateSwitch);
    cl.AppendSwitchASCII(kImportBrowserDataSwitch, SwitchValue(IsFlagSet(IMPORT_BROWSER_DATA)));
    cl.AppendSwitchASCII(kEnableStatsSwitch, SwitchValue(IsFlagSet(ENABLE_VELMO_STATS)));
    cl.AppendSwitchASCII(kEnableInstallerStatsSwitch,
                         SwitchValue(IsFlagSet(ENABLE_INSTALLER_STATS)));
    cl.AppendSwitchASCII(kLaunchVelmoSwitch,
                         SwitchValue(IsFlagSet(LAUNCH_VELMO) && !suppress_launch));
    cl.AppendSwitchPath(kInstallFolderSwitch, GetInstallFolder());
    cl.AppendSwitchPath(kProfileFolderSwitch, profile_folder_);
    if (!install_language_.empty())
      cl.AppendSwitchNative(kLanguageSwitch, install_language_);
    if (operation_ == kOperationInstall) {
      cl.AppendSwitchASCII(kSingleProfileSwitch, SwitchValue(IsFlagSet(SINGLE_PROFILE)));
      cl.AppendSwitchASCII(kCopyOnlySwitch, SwitchValue(IsFlagSet(COPY_ONLY)));
      if (!IsFlagSet(COPY_ONLY))
        cl.AppendSwitchASCII(kAllUsersSwitch, SwitchValue(IsFlagSet(ALL_USERS_FLAG)));
    }
    if (!IsFlagSet(COPY_ONLY)) {
      cl.AppendSwitchASCII(kSetDefaultBrowserSwitch, SwitchValue(IsFlagSet(DEFAULT_BROWSER)));
      cl.AppendSwitchASCII(kStartMenuShortcutSwitch, SwitchValue(IsFlagSet(START_MENU_SHORTCUT)));
      cl.AppendSwitchASCII(kDesktopShortcutSwitch, SwitchValue(IsFlagSet(DESKTOP_SHORTCUT)));
      cl.AppendSwitchASCII(kQuickLaunchShortcutSwitch,
                           SwitchValue(IsFlagSet(QUICK_LAUNCH_SHORTCUT)));
      cl.AppendSwitchASCII(kPinToTaskbarSwitch, SwitchValue(IsFlagSet(PINNED_SHORTCUT)));
      if (IsFlagSet(REPLACE_TARSEL_INSTALLATION))
        cl.AppendSwitch(kReplaceTarselInstallationSwitch);
    }
    cl.CopySwitchesFrom(command_line_, {kServerTrackingDataSwitch});
    base::AppendFeatureSwitches(&cl);
    cl.CopySwitchesFrom(command_line_,
                        {kImportBookmarksSwitch, kImportSessionSwitch, kImportTopSitesSwitch});
  } else if (operation_ == kOperationUninstall) {
    cl.AppendSwitch(kUninstallSwitch);
    cl.AppendSwitchASCII(kDeleteUserProfileSwitch, SwitchValue(IsFlagSet(DELETE_PROFILE)));
  }
  VLOG(1) << "Settings as command line: " << cl.GetCommandLineString();
}

void Settings::FetchStatus(const base::FilePath& folder) {
  pending_fetch_ =
      StatusFetch::Start(folder, IsFlagSet(REPLACE_TARSEL_INSTALLATION),
                         base::Bind(&Settings::OnStatusFetched, weak_factory_.GetWeakRef()));
}

void Settings::OnStatusFetched(base::SharedRef<StatusFetch> fetch) {
  // A fetch that was dropped (a newer folder was chosen) is of no interest.
  if (!fetch || fetch != pending_fetch_ || fetch->IsCancelled())
    return;
  std::unique_ptr<InstallerStatus> status = fetch->TakeStatus();
  if (!status) {
    LOG(ERROR) << "The status read of " << fetch->folder() << " gave no status";
    pending_fetch_.reset();
    return;
  }
  OnStatusObtained(std::move(status));
}

void Settings::OnStatusObtained(std::unique_ptr<InstallerStatus> status) {
  if (!modifiable_) {
    LOG(WARNING) << "Status of " << status->install_folder()
                 << " obtained after the settings were frozen; ignored";
    return;
  }
  pending_fetch_.reset();
  status_ = std::move(status);
  const int32_t previous_operation = operation_;
  operation_ = kOperationUnknown;
  LOG(INFO) << "Install folder set: " << status_->install_folder();

  const InstallerStatus& st = *status_;
  const base::CommandLine& cl = command_line_;
  if (!st.valid_install_path() || (IsFlagSet(UNINSTALL_FLAG) && !st.existing_installation())) {
    VLOG(1) << "Invalid install folder";
  } else {
    LogStatus();
    if (st.existing_installation() || previous_operation == kOperationUpgrade)
      ReadFromCommandLine();

    if (IsFlagSet(UNINSTALL_FLAG))
      operation_ = kOperationUninstall;
    else if (st.existing_installation())
      operation_ = cl.HasSwitch(kRegisterAsProtocolHandlerSwitch)
                       ? kOperationRegisterProtocolHandler
                       : kOperationUpgrade;
    else
      operation_ = kOperationInstall;
    LOG(INFO) << "Operation: " << operation_;

    if (st.existing_installation() || st.tarsel_installation()) {
      VLOG(1) << "Using settings from existing installation";
      // The installation keeps its mode: a run over it that asks for the
      // other one installs in this one all the same, which its user must
      // be able to read.
      if (!IsFlagSet(UNINSTALL_FLAG) && cl.HasSwitch(kAllUsersSwitch) &&
          ParseBooleanSwitchValue(cl.GetSwitchValueNative(kAllUsersSwitch)) != st.all_users) {
        LOG(INFO) << "--" << kAllUsersSwitch << "="
                  << base::WideToUTF8(cl.GetSwitchValueNative(kAllUsersSwitch))
                  << " is not followed: the installation in " << st.install_folder() << " is "
                  << (st.copy_only   ? "a stand-alone copy"
                      : st.all_users ? "for all users"
                                     : "for the current user")
                  << " and stays so";
      }
      ApplyCopyOnly(st.copy_only);
      SetFlagDirectly(ALL_USERS_FLAG, st.all_users);
      SetFlagDirectly(SINGLE_PROFILE, st.single_profile() == 1);
      struct Inherited {
        const char* name;
        int flag;
        bool value;
      };
      const Inherited inherited[] = {
          {kDesktopShortcutSwitch, DESKTOP_SHORTCUT, st.desktop_shortcut_exists() != 0},
          {kStartMenuShortcutSwitch, START_MENU_SHORTCUT, st.start_menu_shortcut_exists() != 0},
          {kQuickLaunchShortcutSwitch, QUICK_LAUNCH_SHORTCUT,
           st.quick_launch_shortcut_exists() != 0},
          {kPinToTaskbarSwitch, PINNED_SHORTCUT, !st.pinned_shortcut_path().empty()},
          {kImportBrowserDataSwitch, IMPORT_BROWSER_DATA, st.import_browser_data() != 0},
          {kEnableStatsSwitch, ENABLE_VELMO_STATS, st.enable_stats() != 0},
      };
      for (const Inherited& entry : inherited) {
        if (!cl.HasSwitch(entry.name))
          SetFlagDirectly(entry.flag, entry.value);
      }
      if (!cl.HasSwitch(kEnableStatsSwitch) && !cl.HasSwitch(kEnableInstallerStatsSwitch))
        SetFlagDirectly(ENABLE_INSTALLER_STATS, IsFlagSet(ENABLE_VELMO_STATS));
      if (IsFlagSet(AUTOUPDATE) && st.tarsel_installation() &&
          !IsFlagSet(REPLACE_TARSEL_INSTALLATION)) {
        SetFlagDirectly(LAUNCH_VELMO, true);
      }
      if ((IsFlagSet(REPLACE_TARSEL_INSTALLATION) || IsFlagSet(AUTOUPDATE)) &&
          st.tarsel_installation() && st.is_http_handler()) {
        SetFlagDirectly(DEFAULT_BROWSER, true);
      }
    } else if (!IsFlagSet(UNINSTALL_FLAG) && !cl.HasSwitch(kSingleProfileSwitch)) {
      SetFlagDirectly(SINGLE_PROFILE,
                      st.single_profile() >= 0 ? st.single_profile() == 1 : IsFlagSet(COPY_ONLY));
    }
    LogFlags();
    if (!st.language().empty() && (IsFlagSet(UNINSTALL_FLAG) || !cl.HasSwitch(kLanguageSwitch)))
      SetInstallLanguage(st.language());
  }
  for (SettingsObserver& observer : observers_)
    observer.OnSettingsObtained();
}

}  // namespace installer
