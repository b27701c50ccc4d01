// Installation: one installation of the browser in a folder, as far as
// others need to know it: whether it is a stand-alone copy, where its user
// data lives, and its registration as the default browser and as the
// handler of protocols and file types.
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_INSTALLATION_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_INSTALLATION_H_

#include <memory>
#include <string>

#include "base/files/file_path.h"

namespace installer {

class InstallLog;

class Installation {
 public:
  // The install log of an installation, in its folder.
  static constexpr wchar_t kInstallLogFileName[] = L"installation_status.xml";
  // The installer's preference file in the install folder, read here for
  // "single_profile" and "profile_path".
  static constexpr wchar_t kInstallerPrefsFileName[] = L"installer_prefs.json";
  // The folder below a single-profile installation that holds its user data.
  static constexpr wchar_t kSingleProfileDataFolder[] = L"data";
  // The placeholders of the configuration's default profile path template.
  static constexpr wchar_t kInternalStreamPlaceholder[] = L"{InternalStream}";
  static constexpr wchar_t kUserNameComponent[] = L"<USERNAME>";

  // The installation of the running executable: its folder when that holds
  // "launcher.exe", else that folder's parent when the parent holds it. When
  // neither does, the installation's folder is empty (logged once) and its
  // answers are those of no installation. Created on first use.
  static Installation* GetCurrent();
  // Tests: forget the current installation so that the next GetCurrent looks
  // at the executable's folder again.
  static void ResetCurrentForTesting();
  // The folder GetCurrent would choose below |exe_folder|; empty when none.
  static base::FilePath FindInstallFolder(const base::FilePath& exe_folder);

  explicit Installation(const base::FilePath& folder);
  // |install_log| is copied; it is not read from the folder again.
  Installation(const base::FilePath& folder, const InstallLog& install_log);
  Installation(const Installation&) = delete;
  Installation& operator=(const Installation&) = delete;
  virtual ~Installation();

  const base::FilePath& folder() const { return folder_; }
  base::FilePath GetLauncherPath() const;

  // The install log's copy-only (stand-alone) flag; false when the folder
  // has no log or it cannot be loaded. The log is read on first use, through
  // MSXML: COM must be initialised on the calling thread (also for
  // IsDefaultHandlerFor with |browser_exe|, which reads the version
  // subfolder from it).
  bool IsCopyOnly();

  // True when the shell opens |name|, a protocol ("http") or a file type
  // (".html"), with this installation: with |browser_exe| clear when the
  // registered program is its "launcher.exe"; with |browser_exe| set when it
  // is its browser executable, in the folder or in its version subfolder
  // (installations of the former engine registered that one).
  bool IsDefaultHandlerFor(const std::wstring& name, bool browser_exe);

  // The folder of the browser's user data: for a single-profile installation
  // the install folder's "data"; else the profile folder the installation
  // was given ("profile_path"); else the configuration's default profile path
  // template ("{InternalStream}" filled in, "<USERNAME>" replaced by the
  // logon name) below the roaming application-data folder. With
  // |cut_user_name| a last "<USERNAME>" component of the template is left
  // out instead, giving the folder that holds every user's data. False
  // (logged) when no folder can be made.
  bool GetUserDataFolder(base::FilePath* path, bool cut_user_name);

  // |path| moved from below the roaming application-data folder to the same
  // place below the local one, where the browser keeps its caches; |path|
  // unchanged when it does not lie below the roaming folder or when the
  // installation was given a profile folder of its own.
  base::FilePath RebaseDefaultPath(const base::FilePath& path);

  // Each for the current user (|all_users| false, what the installer passes)
  // or for all users; false (logged) when any registry write failed.
  //
  // Keeps the current "http" handler under the company key, so that it can
  // be offered back later; nothing is kept when that handler is this
  // installation or when there is none.
  bool SavePreviousDefaultBrowser(bool all_users);
  // The ProgId classes, the StartMenuInternet client with its capabilities,
  // and the browser's protocols and file types pointing at this
  // installation.
  bool RegisterAsDefaultBrowser(bool all_users);
  // The ProgId class of the browser, offered for the browser's file types.
  bool RegisterProgIdClasses(bool all_users);
  // Takes back what the two above registered for this installation (the
  // "http" and "https" handlers return to the kept previous default
  // browser while its program is still there, else this installation's
  // handlers go and nothing takes their place), leaving registrations of
  // other installations alone.
  bool UnregisterAsDefaultBrowser(bool all_users);

  // Makes this installation the current user's handler of one protocol, or
  // with |is_extension| of one file type (".html").
  bool SetDefaultHandlerFor(const std::wstring& name, bool is_extension);

  // The text that fills "{InternalStream}" of the default profile path
  // template for this build's stream: empty for the stable stream, else a
  // blank and the channel name (" Developer").
  static std::wstring GetInternalStreamName();

 private:
  // Loads the install log on first use; false (logged) when it cannot be.
  bool EnsureInstallLog();
  // Reads "single_profile" and "profile_path" of the installer's
  // preferences on first use; a missing file leaves both unset.
  void EnsurePrefs();

  const base::FilePath folder_;
  std::unique_ptr<InstallLog> install_log_;
  bool install_log_tried_ = false;

  bool prefs_read_ = false;
  bool single_profile_ = false;
  base::FilePath profile_path_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_INSTALLATION_H_
