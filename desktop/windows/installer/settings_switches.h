// The switches that carry the settings of a run: the user's options and the
// command line with which the front end starts the back end. The start-up
// modes ("backend", "uninstall", "silent", ...) are in installer_switches.h.
#ifndef DESKTOP_WINDOWS_INSTALLER_SETTINGS_SWITCHES_H_
#define DESKTOP_WINDOWS_INSTALLER_SETTINGS_SWITCHES_H_

namespace installer {

inline constexpr char kLanguageSwitch[] = "language";
inline constexpr char kLaunchVelmoSwitch[] = "launchvelmo";
inline constexpr char kLaunchBrowserSwitch[] = "launchbrowser";
inline constexpr char kCopyOnlySwitch[] = "copyonly";
inline constexpr char kImportBrowserDataSwitch[] = "import-browser-data";
inline constexpr char kEnableStatsSwitch[] = "enable-stats";
inline constexpr char kEnableInstallerStatsSwitch[] = "enable-installer-stats";
inline constexpr char kAllUsersSwitch[] = "allusers";
inline constexpr char kSetDefaultBrowserSwitch[] = "setdefaultbrowser";
inline constexpr char kDesktopShortcutSwitch[] = "desktopshortcut";
inline constexpr char kStartMenuShortcutSwitch[] = "startmenushortcut";
inline constexpr char kQuickLaunchShortcutSwitch[] = "quicklaunchshortcut";
inline constexpr char kPinToTaskbarSwitch[] = "pintotaskbar";
inline constexpr char kSingleProfileSwitch[] = "singleprofile";
inline constexpr char kProfileFolderSwitch[] = "profile-folder";
inline constexpr char kInstallAssistantSwitch[] = "install-assistant";
inline constexpr char kDeleteUserProfileSwitch[] = "deleteuserprofile";

// Written for the back end only.
inline constexpr char kInstallSwitch[] = "install";
inline constexpr char kInitialPidSwitch[] = "initial-pid";
inline constexpr char kComponentsSwitch[] = "components";
inline constexpr char kVerboseLevelSwitch[] = "v";
inline constexpr char kServerTrackingDataSwitch[] = "server-tracking-data";
inline constexpr char kImportBookmarksSwitch[] = "import-bookmarks";
inline constexpr char kImportSessionSwitch[] = "import-session";
inline constexpr char kImportTopSitesSwitch[] = "import-topsites-to-speeddial";

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SETTINGS_SWITCHES_H_
