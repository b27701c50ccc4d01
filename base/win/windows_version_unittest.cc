#include "base/win/windows_version.h"

#include "gtest/gtest.h"

namespace base::win {
namespace {

TEST(WindowsVersionTest, DescribesThisSystem) {
  const WindowsVersionInfo* info = WindowsVersionInfo::GetInstance();
  EXPECT_EQ(info, WindowsVersionInfo::GetInstance());
  const WindowsVersionInfo::VersionNumber number = info->version_number();
  EXPECT_GE(number.major, 6);
  EXPECT_GT(number.build, 0);
  EXPECT_GE(info->version(), VERSION_WIN7) << "the program needs Windows 7 or later";
  EXPECT_EQ(info->version(), GetWindowsVersion());
  EXPECT_EQ(MajorMinorBuildToVersion(number.major, number.minor, number.build), info->version());
  if (number.major == 6) {
    EXPECT_EQ(VERSION_VISTA + number.minor, static_cast<int>(info->version()));
  } else if (number.major == 10) {
    EXPECT_GE(info->version(), VERSION_WIN10);
  }
  EXPECT_EQ(X64_ARCHITECTURE, info->architecture());
  EXPECT_GE(info->processors(), 1);
  EXPECT_GE(info->service_pack().major, 0);
}

TEST(WindowsVersionTest, KnownReleases) {
  struct Release {
    int major, minor, build;
    Version version;
  } releases[] = {
      {5, 0, 2195, VERSION_PRE_XP},      {5, 1, 2600, VERSION_XP},
      {5, 2, 3790, VERSION_SERVER_2003}, {6, 0, 6002, VERSION_VISTA},
      {6, 1, 7601, VERSION_WIN7},        {6, 2, 9200, VERSION_WIN8},
      {6, 3, 9600, VERSION_WIN8_1},      {10, 0, 10240, VERSION_WIN10},
      {10, 0, 10586, VERSION_WIN10_TH2}, {10, 0, 14393, VERSION_WIN10_RS1},
      {10, 0, 17763, VERSION_WIN10_RS5}, {10, 0, 19045, VERSION_WIN10_20H1},
      {10, 0, 22000, VERSION_WIN11},     {10, 0, 22631, VERSION_WIN11_22H2},
      {11, 0, 30000, VERSION_WIN_LAST},
  };
  for (const Release& r : releases) {
    EXPECT_EQ(r.version, MajorMinorBuildToVersion(r.major, r.minor, r.build))
        << r.major << "." << r.minor << "." << r.build;
  }
  // Values that statistics and version checks rely on.
  EXPECT_EQ(3, VERSION_VISTA);
  EXPECT_EQ(4, VERSION_WIN7);
  EXPECT_EQ(5, VERSION_WIN8);
  EXPECT_EQ(7, VERSION_WIN10);
}

}  // namespace
}  // namespace base::win
