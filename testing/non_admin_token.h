// A non-administrator token of the current user, for tests and for the test
// programs that run the installer as a standard user.
#ifndef TESTING_NON_ADMIN_TOKEN_H_
#define TESTING_NON_ADMIN_TOKEN_H_

#include <windows.h>

#include "base/logging.h"
#include "base/win/scoped_handle.h"

namespace testing {

// A token of this process with the Administrators group made deny-only: the
// non-administrator that Wine (whose user is always an elevated
// administrator) cannot provide otherwise. Not valid when a call failed
// (logged).
inline base::win::ScopedHandle MakeNonAdminToken() {
  HANDLE process_token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ALL_ACCESS, &process_token)) {
    PLOG(ERROR) << "OpenProcessToken failed";
    return base::win::ScopedHandle();
  }
  base::win::ScopedHandle token(process_token);
  BYTE sid[SECURITY_MAX_SID_SIZE];
  DWORD sid_size = sizeof(sid);
  if (!::CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, sid, &sid_size)) {
    PLOG(ERROR) << "CreateWellKnownSid(Administrators) failed";
    return base::win::ScopedHandle();
  }
  SID_AND_ATTRIBUTES disabled = {sid, 0};
  HANDLE restricted = nullptr;
  if (!::CreateRestrictedToken(token.Get(), 0, 1, &disabled, 0, nullptr, 0, nullptr, &restricted)) {
    PLOG(ERROR) << "CreateRestrictedToken failed";
    return base::win::ScopedHandle();
  }
  return base::win::ScopedHandle(restricted);
}

}  // namespace testing

#endif  // TESTING_NON_ADMIN_TOKEN_H_
