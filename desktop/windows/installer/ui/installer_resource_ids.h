// Ids of the host's dialog templates, images and controls. Shared by the
// resource script (plain #defines, which windres reads) and the window code.
#ifndef DESKTOP_WINDOWS_INSTALLER_UI_INSTALLER_RESOURCE_IDS_H_
#define DESKTOP_WINDOWS_INSTALLER_UI_INSTALLER_RESOURCE_IDS_H_

// The application icon.
#define IDI_INSTALLER 1

// Dialog templates.
#define IDD_INSTALLER_MAIN 101
#define IDD_INSTALLER_OPTIONS 138

// Images (types "JPG" and "PNG") and the terms text (type "TXT").
#define IDR_BACKGROUND_JPG 139
#define IDR_LOGO_PNG 140
#define IDR_ERROR_BADGE_PNG 141
#define IDR_TERMS_TXT 142

// Controls of the main dialog.
#define IDC_LOGO 1000
#define IDC_OPTIONS_BUTTON 1001
#define IDC_CANCEL_BUTTON 1002
#define IDC_ACCEPT_BUTTON 1003
#define IDC_FULL_PACKAGE_BUTTON 1004
#define IDC_RETRY_BUTTON 1005
#define IDC_UNINSTALL_BUTTON 1006
#define IDC_HEADLINE 1007
#define IDC_TOS_SENTENCE 1008
#define IDC_THANK_YOU 1009
#define IDC_INSTALL_FAILED 1010
#define IDC_STATUS_TEXT 1011
#define IDC_TERMS_TEXT 1012
#define IDC_BACK_BUTTON 1013
#define IDC_PROGRESS 1025
#define IDC_UNINSTALL_QUESTION 1029
#define IDC_DELETE_USER_DATA 1030
#define IDC_UNINSTALL_FAILED 1038

// Controls of the main dialog that a template may add: an install-path
// combo box, its browse button and a static drawn in red.
#define IDC_MAIN_INSTALL_PATH_COMBO 1017
#define IDC_MAIN_BROWSE_BUTTON 1019
#define IDC_MAIN_RED_TEXT 1028

// Controls of the options dialog.
#define IDC_LANGUAGE_COMBO 1014
#define IDC_MODE_COMBO 1015
#define IDC_INSTALL_PATH_COMBO 1016
#define IDC_BROWSE_BUTTON 1018
#define IDC_DEFAULT_BROWSER_CHECK 1022
#define IDC_IMPORT_DATA_CHECK 1023
#define IDC_SHARE_USAGE_CHECK 1024
#define IDC_INVALID_PATH_TEXT 1027
#define IDC_LANGUAGE_LABEL 1031
#define IDC_MODE_LABEL 1032
#define IDC_INSTALL_PATH_LABEL 1033

#endif  // DESKTOP_WINDOWS_INSTALLER_UI_INSTALLER_RESOURCE_IDS_H_
