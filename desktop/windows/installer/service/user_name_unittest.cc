#include "desktop/windows/installer/service/user_name.h"

#include <windows.h>

#include "desktop/windows/installer/service/authenticode_test_fixtures.h"
#include "gtest/gtest.h"

namespace installer {

namespace {

bool RunningUnderWine() {
  HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  return ntdll && ::GetProcAddress(ntdll, "wine_get_version");
}

TEST(UserNameTest, LogonNameMatchesTheEnvironment) {
  std::wstring name;
  ASSERT_TRUE(GetCurrentUserName(&name));
  EXPECT_FALSE(name.empty());
  wchar_t from_environment[257];
  const DWORD length = ::GetEnvironmentVariableW(L"USERNAME", from_environment, 257);
  if (length > 0 && length < 257) {
    EXPECT_EQ(0, ::lstrcmpiW(from_environment, name.c_str()));
  }
}

TEST(UserNameTest, DisplayNameOrALoggedFailure) {
  testing::ScopedLogCapture log;
  std::wstring name = L"untouched";
  const bool found = GetCurrentUserDisplayName(&name);
  // Wine has no display names (error 1332): the real call stays and its
  // failure has to come out as false with the cause logged.
  if (RunningUnderWine()) {
    EXPECT_FALSE(found);
  }
  if (found) {
    EXPECT_FALSE(name.empty());
  } else {
    EXPECT_EQ(L"untouched", name);
    EXPECT_NE(std::string::npos, log.text().find("GetUserNameExW(NameDisplay) failed"))
        << log.text();
  }
}

}  // namespace

}  // namespace installer
