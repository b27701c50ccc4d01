#include "base/dotted_version.h"

#include "gtest/gtest.h"

namespace base {
namespace {

TEST(DottedVersionTest, ParsesOnlyDigitsJoinedByDots) {
  EXPECT_EQ((std::vector<uint32_t>{2442, 991}), DottedVersion("2442.991").components());
  EXPECT_EQ((std::vector<uint32_t>{4294967295u}), DottedVersion("4294967295").components());
  EXPECT_EQ((std::vector<uint32_t>{0, 7}), DottedVersion("00.007").components());
  for (const char* bad : {"", ".", "1.", ".1", "1..2", "1.2a", "-1", "+1", " 1", "1 ", "1.2\n",
                          "4294967296", "99999999999999999999"}) {
    EXPECT_FALSE(DottedVersion(bad).IsValid()) << bad;
  }
}

TEST(DottedVersionTest, ComparesComponentByComponent) {
  EXPECT_TRUE(DottedVersion("2442.990") < DottedVersion("2442.991"));
  EXPECT_TRUE(DottedVersion("9.99") < DottedVersion("10.0"));
  EXPECT_TRUE(DottedVersion("1.2") == DottedVersion("1.2.0"));
  EXPECT_TRUE(DottedVersion("1.2") < DottedVersion("1.2.0.1"));
  EXPECT_EQ(1, DottedVersion("2443").CompareTo(DottedVersion("2442.999")));
  EXPECT_EQ(0, DottedVersion("3.4").CompareTo(DottedVersion("3.4")));
}

}  // namespace
}  // namespace base
