// Whether the user is an administrator and whether an installation needs an
// elevated process.
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_USER_ADMIN_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_USER_ADMIN_H_

#include <windows.h>

namespace installer {

// True when the process token belongs to the Administrators group. With
// |linked_token|, a limited (UAC-filtered) token is judged by its linked
// elevated token instead, so an administrator running unelevated counts.
bool IsUserAdmin(bool linked_token);

// False for an administrator's token; otherwise true for an all-users
// installation, and else true when the install folder is not writable.
bool NeedsElevation(bool all_users, bool folder_writable);

// Tests: makes IsUserAdmin examine |token| instead of the process token and,
// when |linked_token| is not null, treat |token| as a limited token whose
// linked token is |linked_token|. The handles stay owned by the caller and
// must outlive the holder. Needed because a test user under Wine is always
// an elevated administrator with no limited token.
class ScopedAdminTokensForTesting {
 public:
  ScopedAdminTokensForTesting(HANDLE token, HANDLE linked_token);
  ScopedAdminTokensForTesting(const ScopedAdminTokensForTesting&) = delete;
  ScopedAdminTokensForTesting& operator=(const ScopedAdminTokensForTesting&) = delete;
  ~ScopedAdminTokensForTesting();
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_USER_ADMIN_H_
