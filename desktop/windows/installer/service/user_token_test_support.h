// Tokens of this process for tests of the administrator checks.
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_USER_TOKEN_TEST_SUPPORT_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_USER_TOKEN_TEST_SUPPORT_H_

#include <windows.h>

#include "base/win/scoped_handle.h"
#include "gtest/gtest.h"

namespace installer {
namespace test {

// A token of this process with the Administrators group made deny-only: the
// non-administrator that Wine (whose user is always an elevated
// administrator) cannot provide otherwise.
inline base::win::ScopedHandle MakeNonAdminToken() {
  HANDLE process_token = nullptr;
  EXPECT_TRUE(::OpenProcessToken(::GetCurrentProcess(), TOKEN_ALL_ACCESS, &process_token));
  base::win::ScopedHandle token(process_token);
  BYTE sid[SECURITY_MAX_SID_SIZE];
  DWORD sid_size = sizeof(sid);
  EXPECT_TRUE(::CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, sid, &sid_size));
  SID_AND_ATTRIBUTES disabled = {sid, 0};
  HANDLE restricted = nullptr;
  EXPECT_TRUE(
      ::CreateRestrictedToken(token.Get(), 0, 1, &disabled, 0, nullptr, 0, nullptr, &restricted));
  return base::win::ScopedHandle(restricted);
}

// An identification copy of this process's token.
inline base::win::ScopedHandle DuplicateProcessToken() {
  HANDLE process_token = nullptr;
  EXPECT_TRUE(::OpenProcessToken(::GetCurrentProcess(), TOKEN_ALL_ACCESS, &process_token));
  base::win::ScopedHandle token(process_token);
  HANDLE duplicate = nullptr;
  EXPECT_TRUE(::DuplicateToken(token.Get(), SecurityIdentification, &duplicate));
  return base::win::ScopedHandle(duplicate);
}

}  // namespace test
}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_USER_TOKEN_TEST_SUPPORT_H_
