#include "desktop/windows/installer/service/authenticode.h"

#include "desktop/windows/installer/product_config.h"
#include "desktop/windows/installer/service/authenticode_test_fixtures.h"
#include "gtest/gtest.h"

namespace installer {

namespace {

bool Verify(const char* fixture) {
  return VerifyAuthenticode(testing::AuthenticodeFixture(fixture), GetExpectedSigner());
}

TEST(AuthenticodeTest, ExpectedSignerInThisConfiguration) {
  ASSERT_EQ("Velmo Software AS", GetExpectedSigner());
}

TEST(AuthenticodeTest, AcceptsTheExpectedSigner) {
  EXPECT_TRUE(Verify("signed_expected.exe"));
  // The same file does not pass for a different expected signer.
  EXPECT_FALSE(VerifyAuthenticode(testing::AuthenticodeFixture("signed_expected.exe"),
                                  "Velmo Software"));
}

TEST(AuthenticodeTest, AcceptsAValidNestedSignatureOfTheExpectedSigner) {
  EXPECT_TRUE(Verify("nested_expected.exe"));
}

TEST(AuthenticodeTest, RefusesTamperedUnsignedAndForeignFiles) {
  EXPECT_FALSE(Verify("tampered.exe"));
  EXPECT_FALSE(Verify("unsigned.exe"));
  EXPECT_FALSE(Verify("signed_other.exe"));
  EXPECT_FALSE(Verify("truncated.exe"));
  EXPECT_FALSE(Verify("missing.exe"));
}

// The nested signature pasted into pasted_nested.exe is a genuine signature
// by the expected signer, only of another file: it must not vouch for this
// one.
TEST(AuthenticodeTest, RefusesANestedSignatureTakenFromAnotherFile) {
  ASSERT_TRUE(Verify("other_image_expected.exe"));
  testing::ScopedLogCapture log;
  EXPECT_FALSE(Verify("pasted_nested.exe"));
  EXPECT_NE(std::string::npos, log.text().find("belongs to another image")) << log.text();
}

}  // namespace

}  // namespace installer
