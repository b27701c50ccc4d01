#include "desktop/windows/installer/service/user_admin.h"

#include "base/win/scoped_handle.h"
#include "gtest/gtest.h"

namespace installer {

namespace {

// A token of this process with the Administrators group made deny-only: the
// non-administrator that Wine (whose user is always an elevated
// administrator) cannot provide otherwise.
base::win::ScopedHandle MakeNonAdminToken() {
  HANDLE process_token = nullptr;
  EXPECT_TRUE(::OpenProcessToken(::GetCurrentProcess(), TOKEN_ALL_ACCESS, &process_token));
  base::win::ScopedHandle token(process_token);
  BYTE sid[SECURITY_MAX_SID_SIZE];
  DWORD sid_size = sizeof(sid);
  EXPECT_TRUE(::CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, sid, &sid_size));
  SID_AND_ATTRIBUTES disabled = {sid, 0};
  HANDLE restricted = nullptr;
  EXPECT_TRUE(::CreateRestrictedToken(token.Get(), 0, 1, &disabled, 0, nullptr, 0, nullptr,
                                      &restricted));
  return base::win::ScopedHandle(restricted);
}

base::win::ScopedHandle DuplicateProcessToken() {
  HANDLE process_token = nullptr;
  EXPECT_TRUE(::OpenProcessToken(::GetCurrentProcess(), TOKEN_ALL_ACCESS, &process_token));
  base::win::ScopedHandle token(process_token);
  HANDLE duplicate = nullptr;
  EXPECT_TRUE(::DuplicateToken(token.Get(), SecurityIdentification, &duplicate));
  return base::win::ScopedHandle(duplicate);
}

TEST(UserAdminTest, TheTestUserIsAnAdministrator) {
  // Wine's user, and the user a test suite normally runs as, is an elevated
  // administrator.
  EXPECT_TRUE(IsUserAdmin(false));
  EXPECT_TRUE(IsUserAdmin(true));
}

TEST(UserAdminTest, LimitedTokenIsJudgedByItsLinkedTokenOnlyWhenAsked) {
  base::win::ScopedHandle limited = MakeNonAdminToken();
  base::win::ScopedHandle elevated = DuplicateProcessToken();
  ASSERT_TRUE(limited.IsValid());
  ASSERT_TRUE(elevated.IsValid());
  {
    ScopedAdminTokensForTesting tokens(limited.Get(), nullptr);
    EXPECT_FALSE(IsUserAdmin(false));
    EXPECT_FALSE(IsUserAdmin(true));
  }
  {
    ScopedAdminTokensForTesting tokens(limited.Get(), elevated.Get());
    EXPECT_FALSE(IsUserAdmin(false));
    EXPECT_TRUE(IsUserAdmin(true));
  }
  {
    // A linked token that is no administrator's either.
    base::win::ScopedHandle other_limited = MakeNonAdminToken();
    ScopedAdminTokensForTesting tokens(limited.Get(), other_limited.Get());
    EXPECT_FALSE(IsUserAdmin(true));
  }
  EXPECT_TRUE(IsUserAdmin(false));
}

TEST(UserAdminTest, NeedsElevationTruthTable) {
  for (bool all_users : {false, true}) {
    for (bool writable : {false, true})
      EXPECT_FALSE(NeedsElevation(all_users, writable)) << all_users << writable;
  }
  base::win::ScopedHandle limited = MakeNonAdminToken();
  base::win::ScopedHandle elevated = DuplicateProcessToken();
  // An unelevated administrator still needs elevation: the process token
  // counts, not the linked one.
  ScopedAdminTokensForTesting tokens(limited.Get(), elevated.Get());
  EXPECT_TRUE(NeedsElevation(true, true));
  EXPECT_TRUE(NeedsElevation(true, false));
  EXPECT_TRUE(NeedsElevation(false, false));
  EXPECT_FALSE(NeedsElevation(false, true));
}

}  // namespace

}  // namespace installer
