// Settings: what one run of the installer is to do. The operation, the
// installation mode and option flags, the install folder with the status of
// what is already there, the interface language and the profile folder.
//
// The front end builds it from its command line and changes it through the
// options page; the back end rebuilds it from the command line the front end
// writes (ToCommandLine). Every change goes through a setter, which refuses
// once the runner froze the settings and which tells the observers.
//
// Main thread only. Choosing an install folder reads its status on the
// thread pool (StatusFetch); the reply lands on this thread's MessageLoop.
#ifndef DESKTOP_WINDOWS_INSTALLER_SETTINGS_H_
#define DESKTOP_WINDOWS_INSTALLER_SETTINGS_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/command_line.h"
#include "base/files/file_path.h"
#include "base/observer_list.h"
#include "base/shared_ref.h"
#include "base/weak_ref.h"
#include "desktop/windows/installer/settings_observer.h"

namespace installer {

class InstallerStatus;
class StatsNode;
class StatusFetch;

class Settings {
 public:
  // Flag indices; GetFlagName gives their names, which are also the texts of
  // the log lines.
  enum Flag : int {
    COPY_ONLY = 0,
    SINGLE_PROFILE = 1,
    LAUNCH_VELMO = 2,
    ALL_USERS_FLAG = 3,
    DEFAULT_BROWSER = 4,
    IMPORT_BROWSER_DATA = 5,
    INSTALL_ASSISTANT = 6,
    ENABLE_VELMO_STATS = 7,
    ENABLE_INSTALLER_STATS = 8,
    DESKTOP_SHORTCUT = 9,
    START_MENU_SHORTCUT = 10,
    QUICK_LAUNCH_SHORTCUT = 11,
    PINNED_SHORTCUT = 12,
    UNINSTALL_FLAG = 13,
    SILENT = 14,
    AUTOUPDATE = 15,
    DELETE_PROFILE = 16,
    REPLACE_TARSEL_INSTALLATION = 17,
    kFlagCount = 18,
  };

  enum Operation : int32_t {
    kOperationUnknown = 0,
    kOperationInstall = 1,
    kOperationUpgrade = 2,
    kOperationUninstall = 3,
    // Registering the browser as protocol handler of an existing
    // installation.
    kOperationRegisterProtocolHandler = 4,
  };

  enum Mode : int {
    kModeAllUsers = 0,
    kModeCurrentUser = 1,
    kModeStandalone = 2,
  };

  // Sources of GetDefaultInstallFolder, a mask.
  enum FolderSource : uint32_t {
    kFromStandardFolder = 1,
    kFromRegistry = 2,
    kFromCommandLine = 4,
  };

  // Reads the process's command line.
  Settings(bool uninstall, bool silent, bool autoupdate, const base::FilePath& install_folder,
           bool replace_tarsel_installation, bool x64);
  // Reads |command_line| instead (copied).
  Settings(const base::CommandLine& command_line, bool uninstall, bool silent, bool autoupdate,
           const base::FilePath& install_folder, bool replace_tarsel_installation, bool x64);
  Settings(const Settings&) = delete;
  Settings& operator=(const Settings&) = delete;
  ~Settings();

  // The name of flag |index|; empty for an unknown index.
  static std::string GetFlagName(int index);

  bool IsFlagSet(int index) const;
  int32_t GetOperation() const { return operation_; }
  const InstallerStatus& GetStatus() const { return *status_; }
  // The chosen folder: the one whose status is being read, else the
  // status's folder.
  const base::FilePath& GetInstallFolder() const;
  const std::wstring& GetInstallLanguage() const { return install_language_; }
  const base::FilePath& GetProfileFolder() const { return profile_folder_; }
  bool IsX64() const { return x64_ != 0; }
  bool IsProfileDeletionAllowed() const { return profile_deletion_allowed_; }
  bool IsModifiable() const { return modifiable_; }
  // The runner freezes the settings when it starts the installation.
  void SetModifiable(bool modifiable) { modifiable_ = modifiable; }
  // Whether a status read is pending.
  bool IsFetchingStatus() const { return static_cast<bool>(pending_fetch_); }

  const base::FilePath& command_line_install_folder() const { return command_line_folder_; }
  const base::FilePath& registry_install_folder() const { return registry_folder_; }
  const std::vector<base::FilePath>& standalone_folders() const { return standalone_folders_; }
  const base::CommandLine& command_line() const { return command_line_; }

  void AddObserver(SettingsObserver* observer);
  void RemoveObserver(SettingsObserver* observer);

  // False when frozen; otherwise sets or clears the flag, logs it and tells
  // the observers.
  bool SetFlag(int index, bool value);

  // Setters with a rule; each answers whether it changed anything.
  bool SetAllUsers(bool value);
  bool SetDefaultBrowser(bool value);
  bool SetDeleteProfile(bool value);
  bool SetEnableInstallerStats(bool value);
  bool SetEnableBrowserStats(bool value);
  bool SetImportBrowserData(bool value);
  bool SetCopyOnly(bool value);
  // Starts reading the status of |path| unless it is the folder already
  // chosen (or being read).
  bool SetInstallFolder(const base::FilePath& path);
  bool SetInstallFolderFromString(const std::wstring& text);
  bool SetInstallLanguage(const std::wstring& tag);
  bool SetMode(int mode);

  // COPY_ONLY := |value|, and the flags a stand-alone copy cannot have
  // cleared, or the shortcut flags back from the command line (set unless
  // their switches say otherwise). No observer is told.
  void ApplyCopyOnly(bool value);

  void LogFlags() const;
  void LogStatus() const;
  void WriteStats(const std::string& prefix, StatsNode* node) const;

  // From the command line (settings_command_line.cc).
  void ReadFromCommandLine();
  bool ReadFlagSwitch(int index, const char* name, const base::CommandLine& command_line);
  void ReadUninstallOptions(const base::CommandLine& command_line);
  // The command line of the back end. With |suppress_launch| the back end
  // does not start the browser at the end.
  void ToCommandLine(base::CommandLine* command_line, bool suppress_launch) const;

  // Install folders (install_folder_discovery.cc).
  void CheckProfileSharedByOtherInstallations();
  base::FilePath GetDefaultInstallFolder(uint32_t sources) const;
  base::FilePath ComputeDefaultInstallFolder(uint32_t sources, bool x64, bool all_users,
                                             bool copy_only) const;
  std::vector<base::FilePath> GetDefaultInstallFolders() const;
  void FindStandaloneFolders();

  // The status read (settings_command_line.cc). OnStatusObtained is public
  // for tests that hand in a status read elsewhere.
  void FetchStatus(const base::FilePath& folder);
  void OnStatusObtained(std::unique_ptr<InstallerStatus> status);

 private:
  void Initialize(bool uninstall, bool silent, bool autoupdate, bool replace_tarsel_installation);
  void SetFlagDirectly(int index, bool value);
  void DropPendingFetch();
  void OnStatusFetched(base::SharedRef<StatusFetch> fetch);
  void NotifySettingsChanged();

  const base::CommandLine command_line_;
  int32_t operation_ = kOperationUnknown;
  uint32_t flags_ = 0;
  std::wstring install_language_;
  std::unique_ptr<InstallerStatus> status_;
  base::SharedRef<StatusFetch> pending_fetch_;
  base::ObserverList<SettingsObserver> observers_;
  bool modifiable_ = true;
  bool profile_deletion_allowed_ = true;
  base::FilePath command_line_folder_;
  base::FilePath registry_folder_;
  base::FilePath profile_folder_;
  std::vector<base::FilePath> standalone_folders_;
  // Switches whose odd value was already reported: they are read again
  // whenever the folder or the copy-only choice changes.
  std::vector<std::string> reported_switches_;
  uint32_t x64_ = 0;

  base::WeakRefFactory<Settings> weak_factory_{this};
};

// The settings of a run, as RunInstaller makes them.
std::unique_ptr<Settings> CreateSettingsForRun(bool uninstall, bool silent, bool autoupdate,
                                               const base::FilePath& install_folder,
                                               bool replace_tarsel_installation, bool x64);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SETTINGS_H_
