// Tokens of this process for tests of the administrator checks.
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_USER_TOKEN_TEST_SUPPORT_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_USER_TOKEN_TEST_SUPPORT_H_

#include <windows.h>

#include <string>

#include "base/command_line.h"
#include "base/files/file_path.h"
#include "base/process.h"
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

// Starts |command_line| as a standard user: under MakeNonAdminToken(), in
// |working_folder| when one is given.
inline base::Process LaunchAsNonAdmin(const base::CommandLine& command_line,
                                      const base::FilePath& working_folder = base::FilePath()) {
  base::win::ScopedHandle token = MakeNonAdminToken();
  std::wstring text = command_line.GetCommandLineString();
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  if (!::CreateProcessAsUserW(token.Get(), nullptr, text.data(), nullptr, nullptr, FALSE, 0,
                              nullptr, working_folder.empty() ? nullptr : working_folder.c_str(),
                              &startup, &info)) {
    ADD_FAILURE() << "CreateProcessAsUserW failed: " << ::GetLastError();
    return base::Process();
  }
  base::win::ScopedHandle thread(info.hThread);
  return base::Process(info.hProcess);
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
