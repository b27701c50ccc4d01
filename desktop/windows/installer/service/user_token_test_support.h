// Tokens of this process for tests of the administrator checks.
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_USER_TOKEN_TEST_SUPPORT_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_USER_TOKEN_TEST_SUPPORT_H_

#include <windows.h>

#include "base/win/scoped_handle.h"
#include "gtest/gtest.h"
#include "testing/non_admin_token.h"

namespace installer {
namespace test {

// A token of this process with the Administrators group made deny-only
// (see testing/non_admin_token.h); a failure to make it fails the test.
inline base::win::ScopedHandle MakeNonAdminToken() {
  base::win::ScopedHandle token = ::testing::MakeNonAdminToken();
  EXPECT_TRUE(token.IsValid());
  return token;
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
