#include "desktop/windows/installer/service/registry_names.h"

#include "desktop/windows/installer/product_config.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

TEST(RegistryNamesTest, NamesFollowTheConfiguration) {
  SetProductConfigForTesting(R"({"company_name": "Acme Ltd", "file_name_base": "acmeweb"})");
  EXPECT_EQ(L"Software\\Acme Ltd", GetCompanyRegistryKey());
  EXPECT_EQ(L"acmeweb.exe", GetBrowserExeName());
  EXPECT_EQ(L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall", GetUninstallRegistryKey());
  SetProductConfigForTesting(nullptr);
  EXPECT_EQ(L"velmo.exe", GetBrowserExeName());
}

// A channel outside the known ones is named after the build's own stream.
TEST(RegistryNamesTest, UnknownChannelsTakeTheStreamName) {
  EXPECT_EQ(GetStreamName(), GetChannelName(0));
  EXPECT_EQ(GetStreamName(), GetChannelName(5));
  EXPECT_EQ(GetStreamName(), GetChannelName(-1));
}

}  // namespace
}  // namespace installer
