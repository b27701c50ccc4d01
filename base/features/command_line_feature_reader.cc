#include "base/features/command_line_feature_reader.h"

#include <string_view>

#include "base/command_line.h"
#include "base/features/feature_registry.h"
#include "base/logging.h"

namespace base {

CommandLineFeatureReader::CommandLineFeatureReader(const CommandLine& command_line)
    : command_line_(command_line) {}

CommandLineFeatureReader::~CommandLineFeatureReader() = default;

std::vector<FeatureOverride> CommandLineFeatureReader::ReadOverrides() const {
  const std::string_view prefix(kFeatureSwitchPrefix);
  std::vector<FeatureOverride> overrides;
  for (const auto& [switch_name, value] : command_line_.GetSwitches()) {
    if (!switch_name.starts_with(prefix))
      continue;
    const std::string_view name = std::string_view(switch_name).substr(prefix.size());
    if (name.empty()) {
      LOG(ERROR) << "Ignoring feature switch without a feature name";
      continue;
    }
    if (value == L"on") {
      overrides.push_back({std::string(name), true});
    } else if (value == L"off") {
      overrides.push_back({std::string(name), false});
    } else {
      LOG(ERROR) << "Ignoring feature switch " << switch_name << " with value \"" << value
                 << "\" (expected on or off)";
    }
  }
  return overrides;
}

}  // namespace base
