#include "base/sha1.h"

#include <string>

#include "base/string_number_conversions.h"
#include "gtest/gtest.h"

namespace base {
namespace {

std::string HexOfSHA1(std::string_view text) { return HexEncode(SHA1HashString(text)); }

// FIPS 180 examples (and the NIST/RFC 3174 long-message vectors).
TEST(SHA1Test, FIPSVectors) {
  EXPECT_EQ("A9993E364706816ABA3E25717850C26C9CD0D89D", HexOfSHA1("abc"));
  EXPECT_EQ("84983E441C3BD26EBAAE4AA1F95129E5E54670F1",
            HexOfSHA1("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"));
  EXPECT_EQ("DA39A3EE5E6B4B0D3255BFEF95601890AFD80709", HexOfSHA1(""));
  EXPECT_EQ("A49B2446A02C645BF419F995B67091253A04A259",
            HexOfSHA1("abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmn"
                      "hijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu"));
}

TEST(SHA1Test, MillionA) {
  std::string text(1000000, 'a');
  unsigned char hash[kSHA1Length];
  SHA1HashBytes(reinterpret_cast<const unsigned char*>(text.data()), text.size(), hash);
  EXPECT_EQ("34AA973CD4C4DAA4F61EEB2BDBAD27316534016F", HexEncode(hash, sizeof(hash)));
}

TEST(SHA1Test, HashStringIsRawBytes) {
  std::string hash = SHA1HashString("abc");
  ASSERT_EQ(kSHA1Length, hash.size());
  EXPECT_EQ('\xa9', hash[0]);
  EXPECT_EQ('\x9d', hash[19]);
}

TEST(SHA1Test, IncrementalMatchesOneShot) {
  std::string text;
  for (int i = 0; i < 300; ++i)
    text.push_back(static_cast<char>(i * 13 + 1));
  for (size_t length : {0u, 1u, 55u, 56u, 57u, 63u, 64u, 65u, 119u, 120u, 128u, 300u}) {
    std::string part = text.substr(0, length);
    std::string expected = HexOfSHA1(part);
    for (size_t split = 0; split <= length; split += (length > 20 ? 11 : 1)) {
      SHA1Hasher hasher;
      hasher.Update(part.data(), split);
      hasher.Update(part.data() + split, length - split);
      unsigned char hash[kSHA1Length];
      hasher.Finish(hash);
      EXPECT_EQ(expected, HexEncode(hash, sizeof(hash))) << length << " " << split;
    }
  }
  // Finish starts over.
  SHA1Hasher hasher;
  hasher.Update("x", 1);
  unsigned char hash[kSHA1Length];
  hasher.Finish(hash);
  hasher.Update("abc", 3);
  hasher.Finish(hash);
  EXPECT_EQ("A9993E364706816ABA3E25717850C26C9CD0D89D", HexEncode(hash, sizeof(hash)));
}

}  // namespace
}  // namespace base
