// InstallerStatus: what the chosen install folder is. Whether it can be
// installed into, whether an installation of this engine (or of the former
// one) is already there and what that installation decided (mode, shortcuts,
// statistics, language, profile, experiments), and whether the user may
// write there.
//
// It extends the folder's install log, which Init loads into the record.
// Init runs on a thread-pool thread that initialised COM (the install log,
// shortcuts and taskbar pins go through COM); afterwards the status is handed
// to the main thread, which owns and reads it from then on.
#ifndef DESKTOP_WINDOWS_INSTALLER_INSTALLER_STATUS_H_
#define DESKTOP_WINDOWS_INSTALLER_INSTALLER_STATUS_H_

#include <windows.h>

#include <cstdint>
#include <string>

#include "base/features/feature_registry.h"
#include "base/files/file_path.h"
#include "desktop/windows/installer/service/install_log.h"

namespace installer {

// Files of an install folder that the status looks at.
inline constexpr wchar_t kTarselInstallLogFileName[] = L"velmo_install_log.xml";
inline constexpr wchar_t kLauncherFileName[] = L"launcher.exe";
inline constexpr wchar_t kServerTrackingDataFileName[] = L"server_tracking_data";
inline constexpr wchar_t kOldPrefsDefaultFileName[] = L"velmoprefs_default.ini";
// The browser's per-profile-folder preference file.
inline constexpr wchar_t kLocalStateFileName[] = L"Local State";
// The start-menu folder that shortcuts were moved into temporarily.
inline constexpr wchar_t kTemporaryShortcutFolderName[] = L"Velmo Software";

class InstallerStatus : public InstallLog {
 public:
  // Rights on the install folder itself, and on the nearest existing
  // ancestor of a folder still to be created.
  static constexpr DWORD kFolderAccessMask = 0x1201BF;  // Generic read, write, execute.
  static constexpr DWORD kParentAccessMask = FILE_ADD_SUBDIRECTORY;

  // Answers whether the current user has |access_mask| on |path|.
  using AccessChecker = bool (*)(const base::FilePath& path, DWORD access_mask);

  explicit InstallerStatus(bool replace_tarsel);
  InstallerStatus(const InstallerStatus&) = delete;
  InstallerStatus& operator=(const InstallerStatus&) = delete;
  ~InstallerStatus();

  // Validates |folder| and reads everything about it. Call once.
  void Init(const base::FilePath& folder);

  // The steps of Init, exposed for tests.
  void DeriveModeFromLog();
  void ReadExistingInstallation();
  // Compares |target| (when it exists) with the log's shortcuts and the
  // taskbar pins. A shortcut that leads to the launcher is kept; one that
  // leads to the browser executable is recreated.
  void CheckShortcuts(const base::FilePath& target, bool is_launcher);

  // Tests: replaces the write-access check (null restores the real one).
  static void SetAccessCheckerForTesting(AccessChecker checker);

  const base::FilePath& install_folder() const { return install_folder_; }
  const base::FilePath& parent_folder() const { return parent_folder_; }
  bool valid_install_path() const { return valid_install_path_; }
  bool existing_installation() const { return existing_installation_; }
  bool tarsel_installation() const { return tarsel_installation_; }
  bool existing_installation_traces() const { return existing_installation_traces_; }
  bool replace_tarsel() const { return replace_tarsel_; }

  int8_t desktop_shortcut_exists() const { return desktop_shortcut_exists_; }
  int8_t start_menu_shortcut_exists() const { return start_menu_shortcut_exists_; }
  int8_t quick_launch_shortcut_exists() const { return quick_launch_shortcut_exists_; }
  bool temporary_shortcut_folder_exists() const { return temporary_shortcut_folder_exists_; }
  bool has_write_access() const { return has_write_access_; }
  const base::FilePath& pinned_shortcut_path() const { return pinned_shortcut_path_; }
  bool recreate_desktop_shortcut() const { return recreate_desktop_shortcut_; }
  bool recreate_start_menu_shortcut() const { return recreate_start_menu_shortcut_; }
  bool recreate_quick_launch_shortcut() const { return recreate_quick_launch_shortcut_; }
  bool recreate_pinned_shortcut() const { return recreate_pinned_shortcut_; }
  bool is_http_handler() const { return is_http_handler_; }
  int32_t import_browser_data() const { return import_browser_data_; }
  int32_t enable_stats() const { return enable_stats_; }
  const std::wstring& language() const { return language_; }
  const std::string& welcome_url() const { return welcome_url_; }
  const std::string& tracking_data() const { return tracking_data_; }
  // -1 undetermined, 0, 1.
  int32_t single_profile() const { return single_profile_; }
  // -1 undetermined, 0, 1, 2.
  int32_t old_product_type() const { return old_product_type_; }
  const base::FilePath& profile_path() const { return profile_path_; }
  const base::FilePath& temporary_shortcut_folder() const { return temporary_shortcut_folder_; }
  // The experiment states the installation recorded.
  const base::FeatureRegistry& experiments() const { return experiments_; }

  // The installation's own choices, which the steps update as they go.
  void set_pinned_shortcut_path(const base::FilePath& path) { pinned_shortcut_path_ = path; }

 private:
  // The installer's preferences of this engine's installation. True when
  // they were read.
  bool ReadInstallerPrefs();
  // The interface language of the current user's profile, which wins over
  // the one the installer recorded.
  void ReadProfileLanguage();
  // The former engine's defaults file.
  void ReadOldPrefs(bool prefs_read);

  int8_t desktop_shortcut_exists_ = 0;
  int8_t start_menu_shortcut_exists_ = 0;
  int8_t quick_launch_shortcut_exists_ = 0;
  bool temporary_shortcut_folder_exists_ = false;
  bool has_write_access_ = false;
  base::FilePath pinned_shortcut_path_;
  bool recreate_desktop_shortcut_ = false;
  bool recreate_start_menu_shortcut_ = false;
  bool recreate_quick_launch_shortcut_ = false;
  bool recreate_pinned_shortcut_ = false;
  bool is_http_handler_ = false;
  // The installer's own defaults when the installation recorded nothing.
  int32_t import_browser_data_ = 1;
  int32_t enable_stats_ = 1;
  std::wstring language_;
  std::string welcome_url_;
  std::string tracking_data_;
  int32_t single_profile_ = -1;
  int32_t old_product_type_ = -1;
  base::FilePath profile_path_;
  base::FilePath temporary_shortcut_folder_;
  base::FeatureRegistry experiments_;
  base::FilePath install_folder_;
  base::FilePath parent_folder_;
  bool valid_install_path_ = false;
  bool existing_installation_ = false;
  bool tarsel_installation_ = false;
  bool existing_installation_traces_ = false;
  const bool replace_tarsel_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_INSTALLER_STATUS_H_
