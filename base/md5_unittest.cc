#include "base/md5.h"

#include <string>

#include "gtest/gtest.h"

namespace base {
namespace {

// The test suite of RFC 1321, appendix A.5.
TEST(MD5Test, RFC1321TestSuite) {
  EXPECT_EQ("d41d8cd98f00b204e9800998ecf8427e", MD5String(""));
  EXPECT_EQ("0cc175b9c0f1b6a831c399e269772661", MD5String("a"));
  EXPECT_EQ("900150983cd24fb0d6963f7d28e17f72", MD5String("abc"));
  EXPECT_EQ("f96b697d7cb7938d525a2f31aaf161d0", MD5String("message digest"));
  EXPECT_EQ("c3fcd3d76192e4007dfb496cca67e13b", MD5String("abcdefghijklmnopqrstuvwxyz"));
  EXPECT_EQ("d174ab98d277d9f5a5611c2c9f419d9f",
            MD5String("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"));
  EXPECT_EQ("57edf4a22be3c955ac49da2e2107b67a",
            MD5String("1234567890123456789012345678901234567890"
                      "1234567890123456789012345678901234567890"));
}

TEST(MD5Test, DigestBytes) {
  MD5Digest digest;
  MD5Sum("abc", 3, &digest);
  const uint8_t expected[16] = {0x90, 0x01, 0x50, 0x98, 0x3c, 0xd2, 0x4f, 0xb0,
                                0xd6, 0x96, 0x3f, 0x7d, 0x28, 0xe1, 0x7f, 0x72};
  for (int i = 0; i < 16; ++i)
    EXPECT_EQ(expected[i], digest.a[i]) << i;
  MD5Sum(nullptr, 0, &digest);
  EXPECT_EQ("d41d8cd98f00b204e9800998ecf8427e", MD5DigestToBase16(digest));
}

TEST(MD5Test, IncrementalMatchesOneShot) {
  // Every split point of texts around the block and padding boundaries
  // (55, 56, 63, 64, 65 bytes and more) gives the one-shot digest.
  std::string text;
  for (int i = 0; i < 200; ++i)
    text.push_back(static_cast<char>(i * 7 + 3));
  for (size_t length : {0u, 1u, 55u, 56u, 57u, 63u, 64u, 65u, 119u, 120u, 128u, 200u}) {
    std::string part = text.substr(0, length);
    std::string expected = MD5String(part);
    for (size_t split = 0; split <= length; split += (length > 20 ? 7 : 1)) {
      MD5Context context;
      MD5Init(&context);
      MD5Update(&context, part.data(), split);
      MD5Update(&context, std::string_view(part).substr(split));
      MD5Digest digest;
      MD5Final(&digest, &context);
      EXPECT_EQ(expected, MD5DigestToBase16(digest)) << length << " " << split;
    }
  }
}

TEST(MD5Test, ByteAtATimeAndLong) {
  MD5Context context;
  MD5Init(&context);
  std::string text = "The quick brown fox jumps over the lazy dog";
  for (char c : text)
    MD5Update(&context, &c, 1);
  MD5Digest digest;
  MD5Final(&digest, &context);
  EXPECT_EQ("9e107d9d372bb6826bd81d3542a419d6", MD5DigestToBase16(digest));

  EXPECT_EQ("7707d6ae4e027c70eea2a935c2296f21", MD5String(std::string(1000000, 'a')));

  // The context can be reused after MD5Init.
  MD5Init(&context);
  MD5Update(&context, "a", 1);
  MD5Final(&digest, &context);
  EXPECT_EQ("0cc175b9c0f1b6a831c399e269772661", MD5DigestToBase16(digest));
}

}  // namespace
}  // namespace base
