#include "base/rand_util.h"

#include <climits>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace base {
namespace {

TEST(RandUtilTest, RandIntBoundsAreHit) {
  bool seen_min = false, seen_max = false;
  for (int i = 0; i < 2000 && !(seen_min && seen_max); ++i) {
    int value = RandInt(-3, 3);
    ASSERT_GE(value, -3);
    ASSERT_LE(value, 3);
    seen_min |= value == -3;
    seen_max |= value == 3;
  }
  EXPECT_TRUE(seen_min);
  EXPECT_TRUE(seen_max);

  // Two values: both show up.
  std::set<int> seen;
  for (int i = 0; i < 200; ++i)
    seen.insert(RandInt(0, 1));
  EXPECT_EQ(2u, seen.size());
}

TEST(RandUtilTest, RandIntMinEqualsMax) {
  for (int i = 0; i < 10; ++i) {
    EXPECT_EQ(5, RandInt(5, 5));
    EXPECT_EQ(INT_MIN, RandInt(INT_MIN, INT_MIN));
    EXPECT_EQ(INT_MAX, RandInt(INT_MAX, INT_MAX));
  }
}

TEST(RandUtilTest, RandIntFullRange) {
  // The full int range: values spread over both halves.
  bool negative = false, positive = false;
  for (int i = 0; i < 200; ++i) {
    int value = RandInt(INT_MIN, INT_MAX);
    negative |= value < 0;
    positive |= value > 0;
  }
  EXPECT_TRUE(negative);
  EXPECT_TRUE(positive);
  // Ranges at the ends.
  for (int i = 0; i < 100; ++i) {
    int low = RandInt(INT_MIN, INT_MIN + 1);
    EXPECT_TRUE(low == INT_MIN || low == INT_MIN + 1);
    int high = RandInt(INT_MAX - 1, INT_MAX);
    EXPECT_TRUE(high == INT_MAX - 1 || high == INT_MAX);
  }
}

TEST(RandUtilTest, RandIntIsRoughlyUniform) {
  // 6000 draws over 6 values: each count is near 1000 (the chance of a
  // count outside [800, 1200] is far below 1e-9).
  int counts[6] = {};
  for (int i = 0; i < 6000; ++i)
    ++counts[RandInt(10, 15) - 10];
  for (int count : counts) {
    EXPECT_GT(count, 800);
    EXPECT_LT(count, 1200);
  }
}

TEST(RandUtilTest, RandGeneratorAndDouble) {
  for (int i = 0; i < 1000; ++i) {
    EXPECT_LT(RandGenerator(3), 3u);
    EXPECT_EQ(0u, RandGenerator(1));
    double d = RandDouble();
    EXPECT_GE(d, 0.0);
    EXPECT_LT(d, 1.0);
  }
  // A range above 2^63 (most of the rejection threshold).
  uint64_t big = (1ULL << 63) + 12345;
  for (int i = 0; i < 100; ++i)
    EXPECT_LT(RandGenerator(big), big);
}

TEST(RandUtilTest, RandBytes) {
  // 64 bytes of zeros would be a broken source (chance 2^-512).
  unsigned char buffer[64];
  std::memset(buffer, 0, sizeof(buffer));
  RandBytes(buffer, sizeof(buffer));
  bool nonzero = false;
  for (unsigned char c : buffer)
    nonzero |= c != 0;
  EXPECT_TRUE(nonzero);
  RandBytes(buffer, 0);  // nothing to do

  std::string a = RandBytesAsString(32);
  std::string b = RandBytesAsString(32);
  EXPECT_EQ(32u, a.size());
  EXPECT_NE(a, b);
  EXPECT_EQ("", RandBytesAsString(0));
  EXPECT_NE(RandUint64(), RandUint64());

  // Large fills work.
  std::vector<unsigned char> large(1 << 20);
  RandBytes(large.data(), large.size());
  std::set<unsigned char> distinct(large.begin(), large.end());
  EXPECT_EQ(256u, distinct.size());
}

}  // namespace
}  // namespace base
