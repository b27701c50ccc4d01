// The product configuration: a JSON document carried by the host executable
// as resource "TXT" 133, read through typed getters, plus the build's
// constants and the experiment tables of this build.
#ifndef DESKTOP_WINDOWS_INSTALLER_PRODUCT_CONFIG_H_
#define DESKTOP_WINDOWS_INSTALLER_PRODUCT_CONFIG_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace base {
class DictValue;
class FeatureRegistry;
}  // namespace base

namespace installer {

// The resource type and id of the configuration in the host executable.
inline constexpr wchar_t kProductConfigResourceType[] = L"TXT";
inline constexpr int kProductConfigResourceId = 133;

// The resource text; empty when neither the host nor the test-automation
// module beside it carries one.
std::string LoadProductConfigResource();

// The process-wide dictionary, parsed on first use. When the configuration is
// missing, empty or not a JSON object this is an empty dictionary (every
// getter then answers empty/false/0) and IsProductConfigValid() is false.
const base::DictValue& GetProductConfigDictionary();
bool IsProductConfigValid();
// Tests: replaces the configuration with |json| (nullptr: reload from the
// resource on next use).
void SetProductConfigForTesting(const char* json);

// Keys are dotted paths ("urls.autoupdate").
std::string GetProductConfigString(const base::DictValue& dict, std::string_view key);
bool GetProductConfigBool(const base::DictValue& dict, std::string_view key);
int32_t GetProductConfigInt(const base::DictValue& dict, std::string_view key);

// Typed getters of the configuration.
std::string GetCompanyName();
std::string GetCrashLogProductSuffix();
std::string GetDefaultProfilePathTemplate();
std::string GetDomain();
std::string GetExpectedSigner();
std::string GetFileNameBase();
std::string ReadProductName();
std::string GetProductName();
bool ShouldScheduleAutoupdateTask();
std::string GetShortcutSuffix();
std::string GetProductUrl(std::string_view name);
std::string ReadUserAgentName();
std::string GetUserAgentName();
std::string ReadVisibleProductName();
std::string GetVisibleProductName();
bool IsWhiteLabeled();

// "%s" of |format| filled with the product name (ASCII lower case when asked).
std::string FormatWithProductName(std::string_view format, bool lower_case);

// Build constants.
int GetMajorVersion();
int GetUpstreamMajorVersion();
std::string FormatVersionString();
std::string GetVersionString();
std::string GetInternalVersion();
int GetBuildNumber();
int GetBuildsetNumber();
std::string GetBuildRequestTime();
std::string GetStreamName();
std::string GetEmptyBuildString();
// Stream numbers: 1 Nightly, 2 Developer, 3 Next, 4 Stable.
int GetBuildStream();

struct ExperimentRow {
  const char* name;
  uint32_t enabled_stream_mask;
  uint32_t switchable_stream_mask;
  uint32_t title_string_id;
  uint32_t description_string_id;
  uint32_t platform_mask;  // 1 macOS, 2 Windows, 4 Linux.
  uint32_t reserved;
};

struct StreamMaskRow {
  const char* user_agent_token;
  int32_t stream;
  uint32_t enabled_mask;
  uint32_t switchable_mask;
  uint32_t reserved;
};

struct StreamMasks {
  uint32_t enabled_mask;
  uint32_t switchable_mask;
};

extern const ExperimentRow kInstallerExperiments[4];
extern const ExperimentRow kBrowserFeatures[121];
extern const StreamMaskRow kStreamMasks[8];

const ExperimentRow* GetInstallerExperiments(size_t* count);
const ExperimentRow* FindBrowserFeature(std::string_view name);
StreamMasks GetCurrentStreamMasks();
bool IsFeatureEnabledByDefault(const ExperimentRow& row);
bool IsFeatureSwitchable(const ExperimentRow& row);
void RegisterInstallerExperiments(base::FeatureRegistry& registry);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PRODUCT_CONFIG_H_
