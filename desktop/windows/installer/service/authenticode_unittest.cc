#include "desktop/windows/installer/service/authenticode.h"

#include <string>

#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "desktop/windows/installer/product_config.h"
#include "desktop/windows/installer/service/authenticode_test_fixtures.h"
#include "desktop/windows/installer/service/nested_signature.h"
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
  EXPECT_FALSE(
      VerifyAuthenticode(testing::AuthenticodeFixture("signed_expected.exe"), "Velmo Software"));
}

// The fixtures' CA is trusted by nobody; Wine's WinVerifyTrust lets the
// primary signature through anyway, while the nested signer's chain check
// needs to be told about the test root.
std::string TestRoot() {
  std::string der;
  EXPECT_TRUE(base::ReadFileToString(testing::AuthenticodeFixture("test_root_ca.cer"), &der));
  return der;
}

TEST(AuthenticodeTest, AcceptsAValidNestedSignatureOfTheExpectedSigner) {
  ScopedNestedSignatureTestRoot root(TestRoot());
  EXPECT_TRUE(Verify("nested_expected.exe"));
}

// Nested signatures that verify in every other respect (their chains lead to
// the same trusted root, their digests match the image) but name another
// signer, or one whose name merely begins with the expected name.
TEST(AuthenticodeTest, RefusesANestedSignatureOfAnyOtherSigner) {
  ScopedNestedSignatureTestRoot root(TestRoot());
  const struct {
    const char* fixture;
    const char* signer;
  } cases[] = {
      {"nested_third.exe", "Nested signer \"Third Test Signer Ltd\" is not the expected signer"},
      {"nested_lookalike.exe",
       "Nested signer \"Velmo Software AS Lookalike\" is not the expected signer"},
  };
  for (const auto& c : cases) {
    testing::ScopedLogCapture log;
    EXPECT_FALSE(Verify(c.fixture)) << c.fixture;
    EXPECT_NE(std::string::npos, log.text().find(c.signer)) << log.text();
  }
}

TEST(AuthenticodeTest, NestedSignerChainMustBeTrusted) {
  testing::ScopedLogCapture log;
  EXPECT_FALSE(Verify("nested_expected.exe"));
  EXPECT_NE(std::string::npos, log.text().find("chain is not trusted")) << log.text();
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
  ScopedNestedSignatureTestRoot root(TestRoot());
  ASSERT_TRUE(Verify("other_image_expected.exe"));
  testing::ScopedLogCapture log;
  EXPECT_FALSE(Verify("pasted_nested.exe"));
  EXPECT_NE(std::string::npos, log.text().find("belongs to another image")) << log.text();
}

// The DER end of the embedded PKCS#7: the primary signature, whose last
// element (its unauthenticated attributes) ends with the nested signature,
// whose own last bytes are its signer's RSA signature.
size_t EmbeddedSignatureEnd(const std::string& file) {
  auto u32 = [&](size_t at) {
    return static_cast<uint32_t>(static_cast<uint8_t>(file[at])) |
           static_cast<uint32_t>(static_cast<uint8_t>(file[at + 1])) << 8 |
           static_cast<uint32_t>(static_cast<uint8_t>(file[at + 2])) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(file[at + 3])) << 24;
  };
  const size_t pe = u32(0x3C);
  const size_t table = u32(pe + 24 + 144);  // PE32+ security directory.
  const size_t der = table + 8;             // After the WIN_CERTIFICATE header.
  EXPECT_EQ(0x30, static_cast<uint8_t>(file[der]));
  EXPECT_EQ(0x82, static_cast<uint8_t>(file[der + 1]));
  return der + 4 + (static_cast<uint8_t>(file[der + 2]) << 8 | static_cast<uint8_t>(file[der + 3]));
}

// A nested signature whose own signature is broken (its digest and chain
// still fine) must not count.
TEST(AuthenticodeTest, RefusesANestedSignatureThatDoesNotVerify) {
  ScopedNestedSignatureTestRoot root(TestRoot());
  std::string file;
  ASSERT_TRUE(base::ReadFileToString(testing::AuthenticodeFixture("nested_expected.exe"), &file));
  const size_t end = EmbeddedSignatureEnd(file);
  ASSERT_LT(end, file.size() + 1);
  file[end - 10] ^= 0x5A;
  base::ScopedTempDir dir;
  ASSERT_TRUE(dir.CreateUniqueTempDir());
  const base::FilePath broken = dir.GetPath().AppendASCII("broken_nested.exe");
  ASSERT_EQ(static_cast<int>(file.size()),
            base::WriteFileBytes(broken, file.data(), static_cast<int>(file.size())));
  testing::ScopedLogCapture log;
  EXPECT_FALSE(VerifyAuthenticode(broken, GetExpectedSigner()));
  EXPECT_NE(std::string::npos, log.text().find("The nested signature does not verify"))
      << log.text();
}

}  // namespace

}  // namespace installer
