#include "desktop/windows/installer/product_config.h"

#include "base/features/feature_registry.h"
#include "base/values.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

class ProductConfigTest : public testing::Test {
 protected:
  void TearDown() override { SetProductConfigForTesting(nullptr); }
};

TEST_F(ProductConfigTest, ReadsTheResourceOfTheRunningExecutable) {
  // The test executable carries the host's configuration resource.
  EXPECT_FALSE(LoadProductConfigResource().empty());
  EXPECT_TRUE(IsProductConfigValid());
  EXPECT_EQ("Velmo", GetProductName());
  EXPECT_EQ("velmo", GetFileNameBase());
  EXPECT_EQ("VLM", GetUserAgentName());
  EXPECT_EQ('.', GetDomain()[0]);
  EXPECT_FALSE(GetProductUrl("autoupdate").empty());
  EXPECT_EQ("43.0.2442.991", GetVersionString());
  EXPECT_EQ("2442.991", GetInternalVersion());
  EXPECT_EQ("Stable", GetStreamName());
}

TEST_F(ProductConfigTest, VersionFollowsDeltaAndUpstreamFlag) {
  SetProductConfigForTesting(R"({"major_delta": 0, "use_upstream_major_for_minor": false})");
  EXPECT_EQ("43.0.2442.991", FormatVersionString());
  SetProductConfigForTesting(R"({"major_delta": 2, "use_upstream_major_for_minor": true})");
  EXPECT_EQ("45.56.2442.991", FormatVersionString());
  EXPECT_EQ(45, GetMajorVersion());
  SetProductConfigForTesting(R"({"product_name": "X"})");
  EXPECT_EQ(43, GetMajorVersion());
}

TEST_F(ProductConfigTest, MissingKeysAnswerEmptyFalseOrZero) {
  SetProductConfigForTesting(R"({"urls": {"help": "https://h"}, "white_labeled": true})");
  EXPECT_EQ("", GetProductUrl("missing"));
  EXPECT_EQ("https://h", GetProductUrl("help"));
  EXPECT_FALSE(ShouldScheduleAutoupdateTask());
  EXPECT_TRUE(IsWhiteLabeled());
  EXPECT_EQ("", GetCompanyName());
}

TEST_F(ProductConfigTest, BrokenConfigurationIsReportedInvalid) {
  for (const char* json : {"", "[1, 2]", "{\"product_name\": ", "\"text\""}) {
    SetProductConfigForTesting(json);
    EXPECT_FALSE(IsProductConfigValid()) << json;
    EXPECT_EQ("", GetProductName()) << json;
    EXPECT_TRUE(GetProductConfigDictionary().empty()) << json;
  }
}

TEST_F(ProductConfigTest, FormatWithProductNameInsertsTheNameLiterally) {
  SetProductConfigForTesting(R"({"product_name": "Ve%dlmo"})");
  EXPECT_EQ("Ve%dlmo Installer", FormatWithProductName("%s Installer", false));
  EXPECT_EQ("ve%dlmo_installer 100%", FormatWithProductName("%s_installer 100%%", true));
}

TEST_F(ProductConfigTest, StreamMasksDecideExperimentDefaults) {
  base::FeatureRegistry registry;
  RegisterInstallerExperiments(registry);
  EXPECT_FALSE(registry.IsEnabled("installer-experiment-test"));
  EXPECT_FALSE(registry.IsEnabled("installer-hide-from-program-and-features"));
  EXPECT_TRUE(registry.IsEnabled("installer-pref-default-overrides-support"));
  EXPECT_TRUE(registry.IsEnabled("installer-support-x64-download"));
  EXPECT_TRUE(IsFeatureSwitchable(kInstallerExperiments[0]));
  EXPECT_FALSE(IsFeatureSwitchable(kInstallerExperiments[1]));

  // A token without a row turns every experiment off and fixed.
  SetProductConfigForTesting(R"({"user_agent_name": "OTHER"})");
  StreamMasks masks = GetCurrentStreamMasks();
  EXPECT_EQ(0u, masks.enabled_mask);
  EXPECT_EQ(0u, masks.switchable_mask);
  for (const ExperimentRow& row : kInstallerExperiments) {
    EXPECT_FALSE(IsFeatureEnabledByDefault(row)) << row.name;
    EXPECT_FALSE(IsFeatureSwitchable(row)) << row.name;
  }
}

TEST_F(ProductConfigTest, BrowserFeaturesAreFoundByTheirExactName) {
  const ExperimentRow* row = FindBrowserFeature("alternative-crash-logging");
  ASSERT_NE(nullptr, row);
  EXPECT_STREQ("alternative-crash-logging", row->name);
  EXPECT_EQ(nullptr, FindBrowserFeature("unknown"));
  EXPECT_EQ(nullptr, FindBrowserFeature("alternative-crash-loggin"));
  EXPECT_EQ(nullptr, FindBrowserFeature("alternative-crash-logging2"));
}

}  // namespace
}  // namespace installer
