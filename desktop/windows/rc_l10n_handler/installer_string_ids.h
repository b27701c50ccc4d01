// The ids of the installer's localised strings. The texts live in the string
// tables of the host executable, one table per interface language, generated
// from desktop/windows/installer/resources/strings.json.
#ifndef DESKTOP_WINDOWS_RC_L10N_HANDLER_INSTALLER_STRING_IDS_H_
#define DESKTOP_WINDOWS_RC_L10N_HANDLER_INSTALLER_STRING_IDS_H_

namespace installer {

// Placeholders "$1" ... are noted where a text has them.
inline constexpr int IDS_INSTALLER_CAPTION = 37000;
inline constexpr int IDS_BUTTON_OK = 37001;
inline constexpr int IDS_BUTTON_CANCEL = 37002;
inline constexpr int IDS_BUTTON_YES = 37003;
inline constexpr int IDS_BUTTON_NO = 37004;
inline constexpr int IDS_TERMS_OF_SERVICE_SENTENCE = 37005;  // "$1"
inline constexpr int IDS_BUTTON_OPTIONS = 37006;
inline constexpr int IDS_BUTTON_ACCEPT_AND_INSTALL = 37007;
inline constexpr int IDS_BUTTON_ACCEPT_AND_UPGRADE = 37008;
inline constexpr int IDS_BUTTON_BACK = 37009;
inline constexpr int IDS_LABEL_LANGUAGE = 37010;
inline constexpr int IDS_LABEL_INSTALL_FOR = 37011;
inline constexpr int IDS_LABEL_INSTALL_PATH = 37012;
inline constexpr int IDS_BUTTON_CHANGE_PATH = 37016;
inline constexpr int IDS_INVALID_INSTALL_PATH = 37017;
inline constexpr int IDS_CHECKBOX_DEFAULT_BROWSER = 37018;
inline constexpr int IDS_CHECKBOX_IMPORT_DATA = 37019;
inline constexpr int IDS_CHECKBOX_SHARE_USAGE_DATA = 37020;
inline constexpr int IDS_HEADLINE = 37022;  // "$1"
inline constexpr int IDS_HEADLINE_PRODUCT = 37023;
inline constexpr int IDS_THANK_YOU = 37024;
inline constexpr int IDS_PROGRESS_DOWNLOADING = 37025;
inline constexpr int IDS_PROGRESS_EXTRACTING = 37026;
inline constexpr int IDS_PROGRESS_INSTALLING = 37027;
inline constexpr int IDS_PROGRESS_INSTALLING_FOR_USER = 37028;  // "$1"
inline constexpr int IDS_PROGRESS_UNINSTALLING = 37029;
inline constexpr int IDS_BROWSE_FOR_FOLDER = 37031;
inline constexpr int IDS_MODE_ALL_USERS = 37032;
inline constexpr int IDS_MODE_CURRENT_USER = 37033;
inline constexpr int IDS_MODE_STANDALONE = 37034;
inline constexpr int IDS_UNINSTALL_QUESTION = 37035;
inline constexpr int IDS_CHECKBOX_DELETE_USER_DATA = 37036;
inline constexpr int IDS_BUTTON_UNINSTALL = 37037;
inline constexpr int IDS_CANCEL_INSTALL_QUESTION = 37038;
inline constexpr int IDS_CANCEL_UNINSTALL_QUESTION = 37039;
inline constexpr int IDS_MODE_TIP_ALL_USERS_TITLE = 37040;
inline constexpr int IDS_MODE_TIP_ALL_USERS_TEXT = 37041;
inline constexpr int IDS_MODE_TIP_CURRENT_USER_TITLE = 37042;
inline constexpr int IDS_MODE_TIP_CURRENT_USER_TEXT = 37043;
inline constexpr int IDS_MODE_TIP_STANDALONE_TITLE = 37044;
inline constexpr int IDS_MODE_TIP_STANDALONE_TEXT = 37045;
inline constexpr int IDS_INSTALL_FAILED_TITLE = 37046;
inline constexpr int IDS_UNINSTALL_FAILED_TITLE = 37047;
inline constexpr int IDS_BUTTON_TRY_AGAIN = 37048;
inline constexpr int IDS_BUTTON_GET_FULL_INSTALLER = 37049;
inline constexpr int IDS_LANGUAGE_NAME = 37051;
inline constexpr int IDS_AUTOUPDATE_TASK_DESCRIPTION = 37052;
inline constexpr int IDS_ERROR_DOWNLOAD_FAILED = 37053;
inline constexpr int IDS_ERROR_PACKAGE_CORRUPTED = 37054;
inline constexpr int IDS_ERROR_INSTALL_FAILED = 37055;
inline constexpr int IDS_ERROR_UNINSTALL_FAILED = 37056;
inline constexpr int IDS_ERROR_INSTALLER_ALREADY_RUNNING = 37057;
inline constexpr int IDS_ERROR_INVALID_LOCATION = 37058;
inline constexpr int IDS_ERROR_CREATE_FOLDER = 37059;  // "$1"
inline constexpr int IDS_ERROR_INSUFFICIENT_PRIVILEGES = 37060;
inline constexpr int IDS_ERROR_ELEVATION_FAILED = 37061;
inline constexpr int IDS_ERROR_COPY_FILE = 37062;  // "$1"
inline constexpr int IDS_ERROR_BROWSER_RUNNING = 37063;
inline constexpr int IDS_ERROR_UNSUPPORTED_OS = 37064;  // "$1"
inline constexpr int IDS_ERROR_NO_SSE2 = 37065;

// The first and last id of the installer's range; 37013 to 37015, 37021,
// 37030 and 37050 are free.
inline constexpr int kFirstInstallerStringId = 37000;
inline constexpr int kLastInstallerStringId = 37065;

// Every id the installer shows, in increasing order.
inline constexpr int kInstallerStringIds[] = {
    37000, 37001, 37002, 37003, 37004, 37005, 37006, 37007, 37008, 37009, 37010, 37011,
    37012, 37016, 37017, 37018, 37019, 37020, 37022, 37023, 37024, 37025, 37026, 37027,
    37028, 37029, 37031, 37032, 37033, 37034, 37035, 37036, 37037, 37038, 37039, 37040,
    37041, 37042, 37043, 37044, 37045, 37046, 37047, 37048, 37049, 37051, 37052, 37053,
    37054, 37055, 37056, 37057, 37058, 37059, 37060, 37061, 37062, 37063, 37064, 37065,
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_RC_L10N_HANDLER_INSTALLER_STRING_IDS_H_
