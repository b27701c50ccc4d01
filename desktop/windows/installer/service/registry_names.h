// Names of registry keys and files that several installer steps agree on.
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_REGISTRY_NAMES_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_REGISTRY_NAMES_H_

#include <string>

namespace installer {

// "Software\Microsoft\Windows\CurrentVersion\Uninstall": the parent of every
// uninstall entry.
std::wstring GetUninstallRegistryKey();

// "Software\" followed by the configuration's "company_name"; used under
// HKEY_CURRENT_USER (and HKEY_LOCAL_MACHINE for all-users data).
std::wstring GetCompanyRegistryKey();

// The browser executable's file name: "file_name_base" + ".exe".
std::wstring GetBrowserExeName();

// The channel of a stream number: 1 "Nightly", 2 "Developer", 3 "Next",
// 4 "Stable"; any other number gives this build's stream name.
std::string GetChannelName(int stream);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_REGISTRY_NAMES_H_
