// The current user's logon and display names.
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_USER_NAME_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_USER_NAME_H_

#include <string>

namespace installer {

// The logon name (GetUserNameW). False (logged) when it cannot be read.
bool GetCurrentUserName(std::wstring* name);

// The display name (GetUserNameExW, NameDisplay). False (logged) when it
// cannot be read, for example for a local account without a full name.
bool GetCurrentUserDisplayName(std::wstring* name);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_USER_NAME_H_
