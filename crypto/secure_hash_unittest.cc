#include "crypto/secure_hash.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/string_number_conversions.h"
#include "base/string_util.h"
#include "base/win/scoped_handle.h"

namespace crypto {
namespace {

std::string HexDigest(SecureHash* hash) {
  uint8_t digest[32];
  hash->Finish(digest, sizeof(digest));
  return base::HexEncode(digest, sizeof(digest));
}

std::string Sha256(const std::string& input) {
  std::unique_ptr<SecureHash> hash = SecureHash::Create(SecureHash::SHA256);
  hash->Update(input.data(), input.size());
  return HexDigest(hash.get());
}

TEST(SecureHashTest, NistVectors) {
  EXPECT_EQ("E3B0C44298FC1C149AFBF4C8996FB92427AE41E4649B934CA495991B7852B855", Sha256(""));
  EXPECT_EQ("BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD", Sha256("abc"));
  EXPECT_EQ("248D6A61D20638B8E5C026930C3E6039A33CE45964FF2167F6ECEDD419DB06C1",
            Sha256("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"));
}

TEST(SecureHashTest, MillionAsInOddChunks) {
  std::unique_ptr<SecureHash> hash = SecureHash::Create(SecureHash::SHA256);
  ASSERT_TRUE(hash);
  EXPECT_EQ(32u, hash->GetHashLength());
  const std::string chunk(997, 'a');
  size_t fed = 0;
  for (size_t step = 1; fed < 1000000; step = step * 7 % 997 + 1) {
    const size_t n = std::min(step, 1000000 - fed);
    hash->Update(chunk.data(), n);
    fed += n;
  }
  EXPECT_EQ("CDC76E5C9914FB9281A1C7E284D73E67F1809A48A497200E046D39CCC7112CD0",
            HexDigest(hash.get()));
}

TEST(SecureHashTest, ShortOutputGetsThePrefix) {
  std::unique_ptr<SecureHash> hash = SecureHash::Create(SecureHash::SHA256);
  hash->Update("abc", 3);
  uint8_t prefix[5] = {0, 0, 0, 0, 0xEE};
  hash->Finish(prefix, 4);
  EXPECT_EQ("BA7816BFEE", base::HexEncode(prefix, sizeof(prefix)));
}

TEST(SecureHashTest, OtherAlgorithmsAreNotImplemented) {
  EXPECT_EQ(nullptr, SecureHash::Create(1));
  EXPECT_EQ(nullptr, SecureHash::Create(-1));
}

TEST(SecureHashTest, HashFileSpanningSeveralChunks) {
  wchar_t temp_dir[MAX_PATH];
  ASSERT_NE(0u, GetTempPathW(MAX_PATH, temp_dir));
  const base::FilePath path = base::FilePath(temp_dir).Append(
      L"secure_hash_unittest_" + std::to_wstring(GetCurrentProcessId()) + L".bin");
  // 2.5 MiB of 'a' crosses two 1 MiB read boundaries.
  const std::string content(5 * 512 * 1024, 'a');
  {
    base::win::ScopedHandle file(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    ASSERT_TRUE(file.IsValid());
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(file.Get(), content.data(), static_cast<DWORD>(content.size()), &written,
                          nullptr));
  }
  uint8_t digest[32];
  const bool ok = Sha256HashFile(path, digest);
  DeleteFileW(path.c_str());
  ASSERT_TRUE(ok);
  EXPECT_EQ(Sha256(content), base::HexEncode(digest, sizeof(digest)));

  EXPECT_FALSE(Sha256HashFile(path, digest));  // gone now
}

}  // namespace
}  // namespace crypto

namespace crypto {
namespace {

// The fixture's digest was computed by the build machine's own sha256sum.
TEST(SecureHashFileTest, MatchesTheDigestComputedOutsideWine) {
  wchar_t exe[MAX_PATH];
  DWORD length = GetModuleFileNameW(nullptr, exe, MAX_PATH);
  ASSERT_GT(length, 0u);
  base::FilePath dir =
      base::FilePath(std::wstring_view(exe, length)).DirName().Append(L"crypto_fixtures");
  std::string expected;
  ASSERT_TRUE(base::ReadFileToString(dir.Append(L"random.bin.sha256"), &expected));
  ASSERT_GE(expected.size(), 64u);
  expected.resize(64);

  uint8_t digest[SecureHash::kSha256Length];
  ASSERT_TRUE(Sha256HashFile(dir.Append(L"random.bin"), digest));
  EXPECT_EQ(expected, base::ToLowerASCII(base::HexEncode(digest, sizeof(digest))));

  // A missing file is a failure, not a digest of nothing.
  EXPECT_FALSE(Sha256HashFile(dir.Append(L"missing.bin"), digest));
}

}  // namespace
}  // namespace crypto
