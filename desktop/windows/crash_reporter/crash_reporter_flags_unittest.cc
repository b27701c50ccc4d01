#include "desktop/windows/crash_reporter/crash_reporter_flags.h"

#include <string>

#include "base/command_line.h"
#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "desktop/windows/installer/product_config.h"
#include "gtest/gtest.h"

namespace crash_reporter {
namespace {

class CrashReporterFlagsTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(temp_.CreateUniqueTempDir()); }
  base::FilePath Preferences(const std::string& json) {
    const base::FilePath path = temp_.GetPath().Append(L"Preferences");
    EXPECT_EQ(static_cast<int>(json.size()),
              base::WriteFileBytes(path, json.data(), static_cast<int>(json.size())));
    return path;
  }
  base::CommandLine WithFeature(const char* value) {
    base::CommandLine command_line(base::FilePath(L"installer.exe"));
    if (value)
      command_line.AppendSwitchASCII("with-feature:alternative-crash-logging", value);
    return command_line;
  }

  base::ScopedTempDir temp_;
};

TEST_F(CrashReporterFlagsTest, DefaultsComeFromTheTableAndTheFeatureTable) {
  CrashReporterFlags flags;
  EXPECT_TRUE(flags.IsCrashReportingEnabled());
  EXPECT_FALSE(flags.IsAlternativeCrashLoggingEnabled());
  flags.Load(WithFeature(nullptr), temp_.GetPath().Append(L"missing"));
  EXPECT_TRUE(flags.IsCrashReportingEnabled());
  const installer::ExperimentRow* row = installer::FindBrowserFeature("alternative-crash-logging");
  ASSERT_NE(nullptr, row);
  EXPECT_EQ(installer::IsFeatureEnabledByDefault(*row), flags.IsAlternativeCrashLoggingEnabled());
}

TEST_F(CrashReporterFlagsTest, TheSwitchThenThePreferenceFileDecide) {
  CrashReporterFlags on;
  on.Load(WithFeature("on"), base::FilePath());
  EXPECT_TRUE(on.IsAlternativeCrashLoggingEnabled());
  CrashReporterFlags off;
  off.Load(WithFeature("off"), base::FilePath());
  EXPECT_FALSE(off.IsAlternativeCrashLoggingEnabled());
  CrashReporterFlags unknown;
  unknown.Load(WithFeature("yes"), base::FilePath());
  CrashReporterFlags plain;
  plain.Load(WithFeature(nullptr), base::FilePath());
  EXPECT_EQ(plain.IsAlternativeCrashLoggingEnabled(), unknown.IsAlternativeCrashLoggingEnabled());

  // The preference file comes last: 2 disables what the switch enabled, 1
  // enables, anything else leaves it.
  CrashReporterFlags disabled;
  disabled.Load(WithFeature("on"),
                Preferences("{\"browser\": {\"flags\": {\"alternative-crash-logging\": 2}}}"));
  EXPECT_FALSE(disabled.IsAlternativeCrashLoggingEnabled());
  CrashReporterFlags enabled;
  enabled.Load(WithFeature("off"),
               Preferences("{\"browser\": {\"flags\": {\"alternative-crash-logging\": 1}}}"));
  EXPECT_TRUE(enabled.IsAlternativeCrashLoggingEnabled());
  CrashReporterFlags kept;
  kept.Load(WithFeature("on"),
            Preferences("{\"browser\": {\"flags\": {\"alternative-crash-logging\": 3}}}"));
  EXPECT_TRUE(kept.IsAlternativeCrashLoggingEnabled());
}

TEST_F(CrashReporterFlagsTest, ReportingFollowsThePreferenceFileOnlyWhenItIsADictionary) {
  CrashReporterFlags off;
  off.Load(WithFeature(nullptr),
           Preferences("{\"user_experience_metrics\": {\"reporting_enabled\": false}}"));
  EXPECT_FALSE(off.IsCrashReportingEnabled());
  CrashReporterFlags not_boolean;
  not_boolean.Load(WithFeature(nullptr),
                   Preferences("{\"user_experience_metrics\": {\"reporting_enabled\": 0}}"));
  EXPECT_TRUE(not_boolean.IsCrashReportingEnabled());
  CrashReporterFlags broken;
  broken.Load(WithFeature(nullptr), Preferences("{\"user_experience_metrics\": {"));
  EXPECT_TRUE(broken.IsCrashReportingEnabled());
}

}  // namespace
}  // namespace crash_reporter
