#include "desktop/windows/installer/installer_status.h"

#include <windows.h>

#include <accctrl.h>

#include <atomic>
#include <string>
#include <vector>

#include "base/features/list_feature_reader.h"
#include "base/files/file_util.h"
#include "base/files/path_registry.h"
#include "base/logging.h"
#include "base/shared_ref.h"
#include "base/utf_string_conversions.h"
#include "base/values.h"
#include "base/win/windows_version.h"
#include "components/prefs/json_pref_store.h"
#include "components/prefs/prefs_task_pool.h"
#include "desktop/windows/installer/folder_installation.h"
#include "desktop/windows/installer/product_config.h"
#include "desktop/windows/installer/service/access_control.h"
#include "desktop/windows/installer/service/file_identity.h"
#include "desktop/windows/installer/service/installation.h"
#include "desktop/windows/installer/service/registry_names.h"

namespace installer {
namespace {

std::atomic<InstallerStatus::AccessChecker> g_access_checker{nullptr};

bool CheckAccess(const base::FilePath& path, DWORD access_mask) {
  InstallerStatus::AccessChecker checker = g_access_checker.load(std::memory_order_acquire);
  if (checker)
    return checker(path, access_mask);
  return HasAccess(path, SE_FILE_OBJECT, access_mask);
}

// A preference file read synchronously; null when it cannot be opened.
base::SharedRef<prefs::JsonPrefStore> OpenPrefs(const base::FilePath& path) {
  base::SharedRef<prefs::JsonPrefStore> store =
      prefs::OpenJsonPrefStore(prefs::GetPrefsTaskPool(), path);
  if (!store || store->GetReadError() != prefs::JsonPrefStore::kReadNone) {
    VLOG(1) << "Cannot read the preferences " << path;
    return nullptr;
  }
  return store;
}

// A boolean preference as 0 or 1 into |out|; |out| unchanged otherwise.
void ReadBoolPref(const prefs::JsonPrefStore& store, const char* key, int32_t* out) {
  const base::Value* value = nullptr;
  bool flag = false;
  if (store.GetValue(key, &value) && value->GetAsBoolean(&flag))
    *out = flag ? 1 : 0;
}

// The text of |key| of |section| in the ini file |path|; false when the key
// is missing.
bool ReadIniString(const base::FilePath& path, const wchar_t* section, const wchar_t* key,
                   std::wstring* out) {
  // A default no ini value can hold tells a missing key from an empty one.
  static constexpr wchar_t kMissing[] = L"\x01missing\x01";
  wchar_t buffer[MAX_PATH + 1] = {};
  DWORD length = ::GetPrivateProfileStringW(section, key, kMissing, buffer,
                                            static_cast<DWORD>(std::size(buffer)), path.c_str());
  std::wstring text(buffer, length);
  if (text == kMissing)
    return false;
  *out = text;
  return true;
}

bool ReadIniInt(const base::FilePath& path, const wchar_t* section, const wchar_t* key, int* out) {
  std::wstring text;
  if (!ReadIniString(path, section, key, &text))
    return false;
  // The ini reader's own rule: leading digits, anything else counts as 0.
  *out = static_cast<int>(::GetPrivateProfileIntW(section, key, 0, path.c_str()));
  return true;
}

}  // namespace

InstallerStatus::InstallerStatus(bool replace_tarsel) : replace_tarsel_(replace_tarsel) {}

InstallerStatus::~InstallerStatus() = default;

// static
void InstallerStatus::SetAccessCheckerForTesting(AccessChecker checker) {
  g_access_checker.store(checker, std::memory_order_release);
}

void InstallerStatus::Init(const base::FilePath& folder) {
  VLOG(1) << "Initializing status: " << folder;
  install_folder_ = folder;

  if (folder.empty()) {
    VLOG(1) << "Path is empty";
    return;
  }
  if (!base::IsValidPath(folder, true)) {
    VLOG(1) << "Path is not a valid Win32 path";
    return;
  }
  if (!folder.IsAbsolute()) {
    VLOG(1) << "Path is relative";
    return;
  }
  const bool exists = base::PathExists(folder);
  const bool is_directory = exists && base::DirectoryExists(folder);
  if (exists && !is_directory) {
    VLOG(1) << "Path is a file path";
    return;
  }
  if (!base::PathIsWritable(folder) && folder.value().size() >= 3) {
    std::wstring drive = folder.value().substr(0, 3);
    if (drive[1] == L':' && base::FilePath::IsSeparator(drive[2]) &&
        ::GetDriveTypeW(drive.c_str()) == DRIVE_CDROM) {
      VLOG(1) << "Path is to a non-writable CD-ROM";
      return;
    }
  }

  if (is_directory) {
    VLOG(1) << "Path is a folder";
    parent_folder_ = folder;
    valid_install_path_ = true;
    const base::FilePath log_path = folder.Append(Installation::kInstallLogFileName);
    const base::FilePath tarsel_log_path = folder.Append(kTarselInstallLogFileName);
    if (base::PathExists(log_path) && Load(log_path)) {
      existing_installation_ = true;
    } else if (base::PathExists(tarsel_log_path) && Load(tarsel_log_path)) {
      existing_installation_ = true;
      tarsel_installation_ = true;
    }
    if (existing_installation_) {
      VLOG(1) << "Path is a existing installation";
      DeriveModeFromLog();
      ReadExistingInstallation();
      // The former engine's installation counts as this engine's only when
      // the run replaces it.
      if (tarsel_installation_)
        existing_installation_ = replace_tarsel_;
    } else {
      VLOG(1) << "Path is not an existing installation";
      existing_installation_traces_ = base::PathExists(folder.Append(kLauncherFileName));
      ReadExistingInstallation();
    }
    return;
  }

  // A folder still to be created: valid when its nearest existing ancestor
  // is a folder.
  base::FilePath current = folder.StripTrailingSeparators();
  for (;;) {
    base::FilePath parent = current.DirName();
    if (parent == current) {
      VLOG(1) << "Path is a root folder that's not valid"
                 "(probably invalid drive letter)";
      return;
    }
    if (base::DirectoryExists(parent)) {
      VLOG(1) << "Path is valid";
      parent_folder_ = parent;
      valid_install_path_ = true;
      ReadExistingInstallation();
      return;
    }
    if (base::PathExists(parent)) {
      VLOG(1) << "Path is child of a file (invalid)";
      return;
    }
    current = parent;
  }
}

void InstallerStatus::DeriveModeFromLog() {
  const bool nothing_registered = hklm_keys.empty() && hkcu_keys.empty() && components.empty() &&
                                  desktop_shortcut.empty() && start_menu_shortcut.empty() &&
                                  quick_launch_shortcut.empty();
  copy_only = copy_only && nothing_registered;
  // The flag tells the mode. A per-user installation records its user's
  // keys: they must not make it one for all users, or its upgrade would move
  // it to the machine and its uninstallation would ask for rights its user
  // may not have. The records decide only what the flag cannot: a log
  // without the flag (the former engine's), where any key meant all users,
  // and keys of the machine, which only an installation for all users owns.
  const bool machine_keys = !hklm_keys.empty();
  const bool registry_keys = machine_keys || !hkcu_keys.empty();
  const bool keys_say_all_users = all_users_recorded ? machine_keys : registry_keys;
  all_users = !copy_only && (all_users || keys_say_all_users);
}

void InstallerStatus::ReadExistingInstallation() {
  if (existing_installation_) {
    VLOG(1) << "Testing shortcuts";
    const std::wstring browser_exe = GetBrowserExeName();
    CheckShortcuts(install_folder_.Append(kLauncherFileName), true);
    CheckShortcuts(install_folder_.Append(browser_exe), false);
    if (!subfolder.empty())
      CheckShortcuts(install_folder_.Append(subfolder).Append(browser_exe), false);
    if (!temporary_shortcut_folder_exists_) {
      base::FilePath start_menu;
      if (base::PathRegistry::Get(base::kPathStartMenu, &start_menu)) {
        base::FilePath candidate = start_menu.Append(kTemporaryShortcutFolderName);
        temporary_shortcut_folder_exists_ = base::DirectoryExists(candidate);
        if (temporary_shortcut_folder_exists_)
          temporary_shortcut_folder_ = candidate;
      } else {
        VLOG(1) << "No start-menu folder to look for temporary shortcuts in";
      }
    }
  }

  if (valid_install_path_) {
    VLOG(1) << "Determining write access";
    has_write_access_ = CheckAccess(
        parent_folder_, parent_folder_ == install_folder_ ? kFolderAccessMask : kParentAccessMask);
  }

  bool prefs_read = false;
  if (existing_installation_) {
    VLOG(1) << "Determining whether we handled http";
    {
      FolderInstallation installation(install_folder_, *this);
      is_http_handler_ = installation.IsDefaultHandlerFor(L"http", tarsel_installation_);
    }

    VLOG(1) << "Reading exisitng tracking data";
    const base::FilePath tracking_path = install_folder_.Append(kServerTrackingDataFileName);
    if (base::PathExists(tracking_path) && !base::ReadFileToString(tracking_path, &tracking_data_))
      tracking_data_.clear();

    // The user's profile belongs to this engine's installations only: one of
    // the former engine, or one without installer preferences, keeps its
    // profile untouched (an empty profile path tells the later steps so).
    if (!tarsel_installation_ &&
        base::PathExists(install_folder_.Append(Installation::kInstallerPrefsFileName))) {
      prefs_read = ReadInstallerPrefs();
      ReadProfileLanguage();
    }
  }

  if (!tarsel_installation_ && prefs_read)
    return;
  ReadOldPrefs(prefs_read);
}

bool InstallerStatus::ReadInstallerPrefs() {
  VLOG(1) << "Reading existing prefs";
  base::SharedRef<prefs::JsonPrefStore> store =
      OpenPrefs(install_folder_.Append(Installation::kInstallerPrefsFileName));
  if (!store)
    return false;
  ReadBoolPref(*store, "single_profile", &single_profile_);
  ReadBoolPref(*store, "import_browser_data", &import_browser_data_);
  ReadBoolPref(*store, "enable_stats", &enable_stats_);
  const base::Value* value = nullptr;
  if (store->GetValue("language", &value)) {
    std::wstring language;
    if (value->GetAsString(&language))
      language_ = language;
  }
  if (store->GetValue("welcome-url", &value)) {
    std::string welcome_url;
    if (value->GetAsString(&welcome_url))
      welcome_url_ = welcome_url;
  }

  VLOG(1) << "Reading existing experiments status";
  const base::ListValue* list = nullptr;
  if (store->GetValue("all-installer-experiments", &value) && value->GetAsList(&list)) {
    RegisterInstallerExperiments(experiments_);
    // The list records every experiment's state, those this build fixes
    // included; only the ones that may differ are taken over.
    std::vector<std::string> entries;
    for (size_t i = 0; i < list->size(); ++i) {
      std::string entry;
      if (list->GetString(i, &entry) &&
          experiments_.IsOverridable(std::string_view(entry).substr(0, entry.rfind('@')))) {
        entries.push_back(entry);
      }
    }
    experiments_.InitializeFromReader(base::ListFeatureReader(std::move(entries)));
    if (experiments_.IsEnabled("installer-experiment-test"))
      LOG(INFO) << "Test experiment was enabled in install folder.";
  }
  return true;
}

void InstallerStatus::ReadProfileLanguage() {
  VLOG(1) << "Finding current user profile";
  FolderInstallation installation(install_folder_, *this);
  if (!installation.GetUserDataFolder(&profile_path_, false) || profile_path_.empty())
    return;
  const base::FilePath local_state = profile_path_.Append(kLocalStateFileName);
  if (!base::PathExists(local_state))
    return;
  base::SharedRef<prefs::JsonPrefStore> store = OpenPrefs(local_state);
  if (!store)
    return;
  VLOG(1) << "Obtaining current user language";
  const base::Value* value = nullptr;
  std::string locale;
  if (store->GetValue("intl.app_locale", &value) && value->GetAsString(&locale))
    language_ = base::UTF8ToWide(locale);
}

void InstallerStatus::ReadOldPrefs(bool prefs_read) {
  VLOG(1) << "Reading old product type";
  const base::FilePath ini = install_folder_.Append(kOldPrefsDefaultFileName);
  if (!base::PathExists(ini))
    return;
  int product = 0;
  if (!ReadIniInt(ini, L"System", L"Velmo Product", &product))
    product = 0;
  old_product_type_ = (product == 1 || product == 2) ? product : 0;
  if (prefs_read)
    return;

  VLOG(1) << "Reading old tarsel prefs";
  int multi_user = 0;
  if (!ReadIniInt(ini, L"System", L"Multi User", &multi_user))
    single_profile_ = -1;
  else
    single_profile_ = multi_user == 0 ? 1 : 0;
  std::wstring language_dir;
  if (ReadIniString(ini, L"User Prefs", L"Language Files Directory", &language_dir) &&
      !language_dir.empty()) {
    language_ = base::FilePath(language_dir).StripTrailingSeparators().BaseName().value();
  }
}

void InstallerStatus::CheckShortcuts(const base::FilePath& target, bool is_launcher) {
  if (!base::PathExists(target))
    return;
  FileIdentity identity;
  if (!GetFileIdentity(target, &identity))
    return;

  auto points_to_target = [&identity](const base::FilePath& shortcut) -> int8_t {
    if (shortcut.empty())
      return 0;
    return ShortcutPointsTo(shortcut, identity) == 1 ? 1 : 0;
  };

  if (!desktop_shortcut_exists_) {
    desktop_shortcut_exists_ = points_to_target(desktop_shortcut);
    if (desktop_shortcut_exists_ && !is_launcher)
      recreate_desktop_shortcut_ = true;
  }
  if (!start_menu_shortcut_exists_) {
    start_menu_shortcut_exists_ = points_to_target(start_menu_shortcut);
    if ((start_menu_shortcut_exists_ && !is_launcher) ||
        base::win::GetWindowsVersion() >= base::win::VERSION_WIN8) {
      recreate_start_menu_shortcut_ = true;
    }
  }
  if (!quick_launch_shortcut_exists_) {
    quick_launch_shortcut_exists_ = points_to_target(quick_launch_shortcut);
    if (quick_launch_shortcut_exists_ && !is_launcher)
      recreate_quick_launch_shortcut_ = true;
  }
  if (pinned_shortcut_path_.empty()) {
    pinned_shortcut_path_ = FindTaskbarPin(identity);
    if (!pinned_shortcut_path_.empty() && !is_launcher)
      recreate_pinned_shortcut_ = true;
  }
}

}  // namespace installer
