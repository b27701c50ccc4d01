#include "base/features/feature_registry.h"

#include <gtest/gtest.h>

#include "base/command_line.h"
#include "base/features/command_line_feature_reader.h"
#include "base/features/list_feature_reader.h"

namespace base {
namespace {

class FeatureRegistryTest : public testing::Test {
 protected:
  void SetUp() override {
    registry_.RegisterFeature("alpha", false, true);
    registry_.RegisterFeature("beta", true, true);
    registry_.RegisterFeature("locked", false, false);
  }

  FeatureRegistry registry_;
};

TEST_F(FeatureRegistryTest, DefaultsAndUnknownFeatures) {
  EXPECT_FALSE(registry_.IsInitialized());
  EXPECT_FALSE(registry_.IsEnabled("alpha"));
  EXPECT_TRUE(registry_.IsEnabled("beta"));
  EXPECT_FALSE(registry_.IsEnabled("missing"));
  EXPECT_FALSE(registry_.IsRegistered("missing"));
  EXPECT_TRUE(registry_.GetOverrides().empty());
}

TEST_F(FeatureRegistryTest, ListReaderOverridesAndSkipsMalformedEntries) {
  registry_.InitializeFromReader(
      ListFeatureReader({"alpha@1", "beta@2", "locked@1", "missing@1", "noseparator", "@1",
                         "alpha@3", "beta@", "beta@12"}));
  EXPECT_TRUE(registry_.IsInitialized());
  EXPECT_TRUE(registry_.IsEnabled("alpha"));
  EXPECT_FALSE(registry_.IsEnabled("beta"));
  EXPECT_FALSE(registry_.IsEnabled("locked"));  // not overridable
  const std::vector<FeatureOverride> expected = {{"alpha", true}, {"beta", false}};
  EXPECT_EQ(expected, registry_.GetOverrides());
}

TEST_F(FeatureRegistryTest, NamesMayHoldAnAtSign) {
  registry_.RegisterFeature("a@b", false, true);
  registry_.InitializeFromReader(ListFeatureReader({"a@b@1"}));
  EXPECT_TRUE(registry_.IsEnabled("a@b"));
}

TEST_F(FeatureRegistryTest, CommandLineReader) {
  CommandLine command_line(FilePath(L"installer.exe"));
  command_line.AppendSwitchASCII(FeatureSwitchName("alpha"), "on");
  command_line.AppendSwitchASCII(FeatureSwitchName("beta"), "off");
  command_line.AppendSwitchASCII(FeatureSwitchName("locked"), "on");
  command_line.AppendSwitchASCII(FeatureSwitchName("gamma"), "maybe");
  command_line.AppendSwitchASCII("alpha", "off");  // not a feature switch
  EXPECT_EQ("with-feature:alpha", FeatureSwitchName("alpha"));

  const std::vector<FeatureOverride> read = CommandLineFeatureReader(command_line).ReadOverrides();
  const std::vector<FeatureOverride> expected = {
      {"alpha", true}, {"beta", false}, {"locked", true}};
  EXPECT_EQ(expected, read);

  registry_.InitializeFromReader(CommandLineFeatureReader(command_line));
  EXPECT_TRUE(registry_.IsEnabled("alpha"));
  EXPECT_FALSE(registry_.IsEnabled("beta"));
  EXPECT_FALSE(registry_.IsEnabled("locked"));
}

TEST_F(FeatureRegistryTest, FirstOverrideOfANameWins) {
  registry_.InitializeFromReader(ListFeatureReader({"alpha@2", "alpha@1"}));
  EXPECT_FALSE(registry_.IsEnabled("alpha"));

  // A later reader adds new names but cannot change earlier overrides.
  CommandLine command_line(FilePath(L"installer.exe"));
  command_line.AppendSwitchASCII(FeatureSwitchName("alpha"), "on");
  command_line.AppendSwitchASCII(FeatureSwitchName("beta"), "off");
  registry_.InitializeFromReader(CommandLineFeatureReader(command_line));
  EXPECT_FALSE(registry_.IsEnabled("alpha"));
  EXPECT_FALSE(registry_.IsEnabled("beta"));
  const std::vector<FeatureOverride> expected = {{"alpha", false}, {"beta", false}};
  EXPECT_EQ(expected, registry_.GetOverrides());

  registry_.ResetForTesting();
  EXPECT_FALSE(registry_.IsInitialized());
  EXPECT_FALSE(registry_.IsRegistered("alpha"));
  EXPECT_TRUE(registry_.GetOverrides().empty());
}

TEST(FeatureSwitchesTest, ProcessRegistryRoundTripsThroughACommandLine) {
  FeatureRegistry* registry = FeatureRegistry::GetInstance();
  ASSERT_EQ(registry, FeatureRegistry::GetInstance());
  registry->ResetForTesting();
  registry->RegisterFeature("installer-experiment-test", false, true);
  registry->RegisterFeature("other", true, true);
  registry->InitializeFromReader(ListFeatureReader({"installer-experiment-test@1", "other@2"}));
  EXPECT_TRUE(IsFeatureEnabled("installer-experiment-test"));
  EXPECT_FALSE(IsFeatureEnabled("other"));

  CommandLine child(FilePath(L"child.exe"));
  AppendFeatureSwitches(&child);
  EXPECT_EQ("on", child.GetSwitchValueASCII("with-feature:installer-experiment-test"));
  EXPECT_EQ("off", child.GetSwitchValueASCII("with-feature:other"));

  // What the child reads back is what the parent held.
  FeatureRegistry child_registry;
  child_registry.RegisterFeature("installer-experiment-test", false, true);
  child_registry.RegisterFeature("other", true, true);
  child_registry.InitializeFromReader(CommandLineFeatureReader(child));
  EXPECT_TRUE(child_registry.IsEnabled("installer-experiment-test"));
  EXPECT_FALSE(child_registry.IsEnabled("other"));
  registry->ResetForTesting();
}

}  // namespace
}  // namespace base
