#include "desktop/windows/installer/service/user_admin.h"

#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/service/user_token_test_support.h"
#include "gtest/gtest.h"

namespace installer {

namespace {

using test::DuplicateProcessToken;
using test::MakeNonAdminToken;

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
