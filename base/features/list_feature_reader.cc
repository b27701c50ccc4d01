#include "base/features/list_feature_reader.h"

#include <string_view>
#include <utility>

#include "base/logging.h"

namespace base {

ListFeatureReader::ListFeatureReader(std::vector<std::string> entries)
    : entries_(std::move(entries)) {}

ListFeatureReader::~ListFeatureReader() = default;

std::vector<FeatureOverride> ListFeatureReader::ReadOverrides() const {
  std::vector<FeatureOverride> overrides;
  for (const std::string& entry : entries_) {
    const size_t separator = entry.rfind(kSeparator);
    if (separator == std::string::npos || separator == 0) {
      LOG(ERROR) << "Ignoring feature entry \"" << entry << "\": no name@state";
      continue;
    }
    const std::string_view state = std::string_view(entry).substr(separator + 1);
    if (state.size() != 1 || (state[0] != kStateOn && state[0] != kStateOff)) {
      LOG(ERROR) << "Ignoring feature entry \"" << entry << "\": the state must be 1 or 2";
      continue;
    }
    overrides.push_back({entry.substr(0, separator), state[0] == kStateOn});
  }
  return overrides;
}

}  // namespace base
