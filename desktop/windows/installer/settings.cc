#include "desktop/windows/installer/settings.h"

#include <utility>

#include "base/files/file_path.h"
#include "base/logging.h"
#include "base/utf_string_conversions.h"
#include "desktop/windows/installer/install_folder_discovery.h"
#include "desktop/windows/installer/installer_status.h"
#include "desktop/windows/installer/settings_switches.h"
#include "desktop/windows/installer/stats_node.h"
#include "desktop/windows/installer/status_fetch.h"
#include "desktop/windows/installer/service/installation.h"
#include "desktop/windows/installer/service/user_admin.h"
#include "desktop/windows/rc_l10n_handler/ui_language.h"

namespace installer {
namespace {

constexpr const char* kFlagNames[Settings::kFlagCount] = {
    "COPY_ONLY",         "SINGLE_PROFILE",      "LAUNCH_VELMO",
    "ALL_USERS_FLAG",    "DEFAULT_BROWSER",     "IMPORT_BROWSER_DATA",
    "INSTALL_ASSISTANT", "ENABLE_VELMO_STATS",  "ENABLE_INSTALLER_STATS",
    "DESKTOP_SHORTCUT",  "START_MENU_SHORTCUT", "QUICK_LAUNCH_SHORTCUT",
    "PINNED_SHORTCUT",   "UNINSTALL_FLAG",      "SILENT",
    "AUTOUPDATE",        "DELETE_PROFILE",      "REPLACE_TARSEL_INSTALLATION",
};

const char* BoolText(bool value) { return value ? "true" : "false"; }

base::CommandLine ProcessCommandLine() {
  if (!base::CommandLine::IsInitializedForCurrentProcess()) {
    LOG(ERROR) << "No process command line; the settings read an empty one";
    return base::CommandLine();
  }
  return *base::CommandLine::ForCurrentProcess();
}

}  // namespace

Settings::Settings(bool uninstall, bool silent, bool autoupdate,
                   const base::FilePath& install_folder, bool replace_tarsel_installation, bool x64)
    : Settings(ProcessCommandLine(), uninstall, silent, autoupdate, install_folder,
               replace_tarsel_installation, x64) {}

Settings::Settings(const base::CommandLine& command_line, bool uninstall, bool silent,
                   bool autoupdate, const base::FilePath& install_folder,
                   bool replace_tarsel_installation, bool x64)
    : command_line_(command_line), command_line_folder_(install_folder), x64_(x64 ? 1 : 0) {
  Initialize(uninstall, silent, autoupdate, replace_tarsel_installation);
}

void Settings::Initialize(bool uninstall, bool silent, bool autoupdate,
                          bool replace_tarsel_installation) {
  SetFlagDirectly(UNINSTALL_FLAG, uninstall);
  SetFlagDirectly(SILENT, silent);
  SetFlagDirectly(AUTOUPDATE, autoupdate);
  SetFlagDirectly(REPLACE_TARSEL_INSTALLATION, replace_tarsel_installation);
  status_ = std::make_unique<InstallerStatus>(replace_tarsel_installation);

  registry_folder_ = ReadRegistryInstallFolder(IsX64());
  FindStandaloneFolders();

  VLOG(1) << "Obtaining system language";
  std::wstring language;
  SelectUILanguage(GetUILanguageId(), &language);
  install_language_ = language;
  VLOG(1) << "Initializing settings";

  if (uninstall) {
    ReadUninstallOptions(command_line_);
    SetInstallFolderFromString(Installation::GetCurrent()->folder().value());
  } else {
    if (command_line_.HasSwitch(kLanguageSwitch))
      SetInstallLanguage(command_line_.GetSwitchValueNative(kLanguageSwitch));
    ReadFromCommandLine();
    SetInstallFolderFromString(
        GetDefaultInstallFolder(kFromCommandLine | kFromRegistry | kFromStandardFolder).value());
  }
}

Settings::~Settings() {
  VLOG(1) << "Destroying settings";
  DropPendingFetch();
  status_.reset();
}

// static
std::string Settings::GetFlagName(int index) {
  if (index < 0 || index >= kFlagCount)
    return std::string();
  return kFlagNames[index];
}

bool Settings::IsFlagSet(int index) const {
  if (index < 0 || index >= kFlagCount)
    return false;
  return (flags_ & (1u << index)) != 0;
}

const base::FilePath& Settings::GetInstallFolder() const {
  // The folder being read is the one chosen: whatever is decided from the
  // folder before its status arrives (the mode's default folder among them)
  // must not fall back on the folder read before it.
  return pending_fetch_ ? pending_fetch_->folder() : status_->install_folder();
}

void Settings::AddObserver(SettingsObserver* observer) { observers_.AddObserver(observer); }

void Settings::RemoveObserver(SettingsObserver* observer) { observers_.RemoveObserver(observer); }

void Settings::SetFlagDirectly(int index, bool value) {
  if (index < 0 || index >= kFlagCount)
    return;
  if (value)
    flags_ |= 1u << index;
  else
    flags_ &= ~(1u << index);
}

void Settings::NotifySettingsChanged() {
  for (SettingsObserver& observer : observers_)
    observer.OnSettingsChanged();
}

bool Settings::SetFlag(int index, bool value) {
  if (!modifiable_) {
    VLOG(1) << "Settings are frozen; " << GetFlagName(index) << " stays as it is";
    return false;
  }
  if (index < 0 || index >= kFlagCount) {
    LOG(ERROR) << "No settings flag " << index;
    return false;
  }
  SetFlagDirectly(index, value);
  VLOG(1) << GetFlagName(index) << " set to: " << BoolText(value);
  NotifySettingsChanged();
  return true;
}

bool Settings::SetAllUsers(bool value) {
  if (operation_ == kOperationUpgrade || IsFlagSet(COPY_ONLY)) {
    VLOG(1) << "The installation mode cannot change now; ALL_USERS_FLAG stays as it is";
    return false;
  }
  return SetFlag(ALL_USERS_FLAG, value);
}

bool Settings::SetDefaultBrowser(bool value) {
  if (IsFlagSet(COPY_ONLY)) {
    VLOG(1) << "A stand-alone copy is never the default browser";
    return false;
  }
  return SetFlag(DEFAULT_BROWSER, value);
}

bool Settings::SetDeleteProfile(bool value) {
  if (!IsFlagSet(UNINSTALL_FLAG)) {
    VLOG(1) << "DELETE_PROFILE applies to an uninstallation only";
    return false;
  }
  return SetFlag(DELETE_PROFILE, value);
}

bool Settings::SetEnableInstallerStats(bool value) {
  return SetFlag(ENABLE_INSTALLER_STATS, value);
}

bool Settings::SetEnableBrowserStats(bool value) { return SetFlag(ENABLE_VELMO_STATS, value); }

bool Settings::SetImportBrowserData(bool value) { return SetFlag(IMPORT_BROWSER_DATA, value); }

bool Settings::SetCopyOnly(bool value) {
  if (!modifiable_ || operation_ == kOperationUpgrade) {
    VLOG(1) << "COPY_ONLY cannot change now";
    return false;
  }
  ApplyCopyOnly(value);
  VLOG(1) << "COPY_ONLY"
          << " set to: " << BoolText(value);
  NotifySettingsChanged();
  return true;
}

void Settings::ApplyCopyOnly(bool value) {
  if (!modifiable_)
    return;
  SetFlagDirectly(COPY_ONLY, value);
  if (value) {
    for (int flag : {ALL_USERS_FLAG, DEFAULT_BROWSER, DESKTOP_SHORTCUT, START_MENU_SHORTCUT,
                     QUICK_LAUNCH_SHORTCUT, PINNED_SHORTCUT, INSTALL_ASSISTANT}) {
      SetFlagDirectly(flag, false);
    }
    return;
  }
  const struct {
    const char* name;
    int flag;
  } shortcuts[] = {
      {kDesktopShortcutSwitch, DESKTOP_SHORTCUT},
      {kStartMenuShortcutSwitch, START_MENU_SHORTCUT},
      {kQuickLaunchShortcutSwitch, QUICK_LAUNCH_SHORTCUT},
      {kPinToTaskbarSwitch, PINNED_SHORTCUT},
  };
  for (const auto& shortcut : shortcuts) {
    if (!ReadFlagSwitch(shortcut.flag, shortcut.name, command_line_))
      SetFlagDirectly(shortcut.flag, true);
  }
}

void Settings::DropPendingFetch() {
  if (!pending_fetch_)
    return;
  pending_fetch_->Cancel();
  pending_fetch_.reset();
}

bool Settings::SetInstallFolder(const base::FilePath& path) {
  if (!modifiable_) {
    VLOG(1) << "Settings are frozen; the install folder stays " << GetInstallFolder();
    return false;
  }
  VLOG(1) << "Setting install folder to: " << path;
  // The folder the settings are heading to: the one being read, else the
  // one read last.
  const base::FilePath& current = GetInstallFolder();
  if (pending_fetch_ || status_->valid_install_path() || !current.empty()) {
    if (path == current)
      return false;
  }
  DropPendingFetch();
  FetchStatus(path);
  return true;
}

bool Settings::SetInstallFolderFromString(const std::wstring& text) {
  if (!modifiable_) {
    VLOG(1) << "Settings are frozen; the install folder stays " << GetInstallFolder();
    return false;
  }
  return SetInstallFolder(base::FilePath(text));
}

bool Settings::SetInstallLanguage(const std::wstring& tag) {
  if (!modifiable_ || tag == install_language_)
    return false;
  install_language_ = tag;
  VLOG(1) << "Attempt setting install_language_ to: " << tag;
  SelectUILanguage(GetUILanguageId(), &install_language_);
  VLOG(1) << "Actual install_language_ set: " << install_language_;
  for (SettingsObserver& observer : observers_)
    observer.OnLanguageChanged();
  return true;
}

bool Settings::SetMode(int mode) {
  VLOG(2) << "Changing Settings using SetMode";
  if (!modifiable_)
    return false;
  const bool single_profile_given = command_line_.HasSwitch(kSingleProfileSwitch);
  const bool upgrading = operation_ == kOperationUpgrade;
  bool folder_was_default = false;
  for (const base::FilePath& folder : GetDefaultInstallFolders()) {
    if (base::FilePath::CompareEqualIgnoreCase(folder.value(), GetInstallFolder().value())) {
      folder_was_default = true;
      break;
    }
  }

  bool result = false;
  switch (mode) {
    case kModeAllUsers:
    case kModeCurrentUser: {
      if (!single_profile_given && !upgrading)
        SetFlag(SINGLE_PROFILE, false);
      const bool copy_only_cleared = SetCopyOnly(false);
      if (!copy_only_cleared || upgrading || IsFlagSet(COPY_ONLY))
        result = false;
      else
        result = SetFlag(ALL_USERS_FLAG, mode == kModeAllUsers);
      break;
    }
    case kModeStandalone:
      if (!single_profile_given && !upgrading)
        SetFlag(SINGLE_PROFILE, true);
      result = SetCopyOnly(true);
      break;
    default: LOG(ERROR) << "No installation mode " << mode; return false;
  }
  if (folder_was_default)
    SetInstallFolder(GetDefaultInstallFolder(kFromRegistry | kFromStandardFolder));
  return result;
}

void Settings::LogFlags() const {
  for (int flag : {ALL_USERS_FLAG, COPY_ONLY, DEFAULT_BROWSER, ENABLE_INSTALLER_STATS,
                   ENABLE_VELMO_STATS, IMPORT_BROWSER_DATA, LAUNCH_VELMO, SINGLE_PROFILE,
                   DESKTOP_SHORTCUT, PINNED_SHORTCUT, QUICK_LAUNCH_SHORTCUT, START_MENU_SHORTCUT}) {
    VLOG(1) << GetFlagName(flag) << ": " << BoolText(IsFlagSet(flag));
  }
  VLOG(1) << "language: " << install_language_;
}

void Settings::LogStatus() const {
  const InstallerStatus& st = *status_;
  VLOG(1) << "status for install folder:" << st.install_folder();
  VLOG(1) << "valid_parent folder: " << st.parent_folder();
  VLOG(1) << "has_write_access: " << BoolText(st.has_write_access());
  VLOG(1) << "valid_install_path: " << BoolText(st.valid_install_path());
  VLOG(1) << "existing_installation: " << BoolText(st.existing_installation());
  VLOG(1) << "existing_installation_traces: " << BoolText(st.existing_installation_traces());
  VLOG(1) << "tarsel_installation: " << BoolText(st.tarsel_installation());
  if (!st.existing_installation())
    return;
  VLOG(1) << "desktop_shortcut_exists: " << static_cast<int>(st.desktop_shortcut_exists());
  VLOG(1) << "enable_stats: " << st.enable_stats();
  VLOG(1) << "import_browser_data: " << st.import_browser_data();
  VLOG(1) << "is_http_handler: " << BoolText(st.is_http_handler());
  VLOG(1) << "language: " << st.language();
  VLOG(1) << "old_product_type: " << st.old_product_type();
  VLOG(1) << "pinned_shortcut_path: " << st.pinned_shortcut_path();
  VLOG(1) << "profile_path: " << st.profile_path();
  VLOG(1) << "quick_launch_shortcut_exists: "
          << static_cast<int>(st.quick_launch_shortcut_exists());
  VLOG(1) << "temporary_shortcut_folder: " << st.temporary_shortcut_folder();
  VLOG(1) << "temporary_shortcut_folder_exists: "
          << BoolText(st.temporary_shortcut_folder_exists());
  VLOG(1) << "tracking_data: " << st.tracking_data();
  VLOG(1) << "recreate_desktop_shortcut: " << BoolText(st.recreate_desktop_shortcut());
  VLOG(1) << "recreate_pinned_shortcut: " << BoolText(st.recreate_pinned_shortcut());
  VLOG(1) << "recreate_quick_launch_shortcut: " << BoolText(st.recreate_quick_launch_shortcut());
  VLOG(1) << "recreate_start_menu_shortcut: " << BoolText(st.recreate_start_menu_shortcut());
  VLOG(1) << "single_profile: " << st.single_profile();
  VLOG(1) << "start_menu_shortcut_exists: " << static_cast<int>(st.start_menu_shortcut_exists());
  VLOG(1) << "welcome_url: " << st.welcome_url();
}

void Settings::WriteStats(const std::string& prefix, StatsNode* node) const {
  LOG(INFO) << "Writing setting stats with prefix " << prefix;
  const char* mode = IsFlagSet(COPY_ONLY)        ? "standalone"
                     : IsFlagSet(ALL_USERS_FLAG) ? "all_users"
                                                 : "current_user";
  node->SetString(prefix + "installation_mode", std::string_view(mode));
  const char* operation = "invalid";
  switch (operation_) {
    case kOperationInstall: operation = "installing"; break;
    case kOperationUpgrade: operation = "upgrading"; break;
    case kOperationUninstall: operation = "uninstalling"; break;
    default: break;
  }
  node->SetString(prefix + "installation_operation", std::string_view(operation));
  node->SetInteger("autoupdate", IsFlagSet(AUTOUPDATE) ? 1 : 0);
  node->SetInteger(prefix + "make_default", IsFlagSet(DEFAULT_BROWSER) ? 1 : 0);
  const bool default_folder = base::FilePath::CompareEqualIgnoreCase(
      GetInstallFolder().value(), GetDefaultInstallFolder(kFromStandardFolder).value());
  node->SetInteger(prefix + "using_default_installation_folder", default_folder ? 1 : 0);
  node->SetInteger(prefix + "using_privileged_installation_folder",
                   NeedsElevation(IsFlagSet(ALL_USERS_FLAG), status_->has_write_access()) ? 1 : 0);
  node->SetString("build_arch", std::string_view(IsX64() ? "X64" : "X86"));
}

std::unique_ptr<Settings> CreateSettingsForRun(bool uninstall, bool silent, bool autoupdate,
                                               const base::FilePath& install_folder,
                                               bool replace_tarsel_installation, bool x64) {
  VLOG(2) << "Instantiating settings";
  return std::make_unique<Settings>(uninstall, silent, autoupdate, install_folder,
                                    replace_tarsel_installation, x64);
}

}  // namespace installer
