// A source of feature overrides for the FeatureRegistry.
#ifndef BASE_FEATURES_FEATURE_READER_H_
#define BASE_FEATURES_FEATURE_READER_H_

#include <string>
#include <vector>

namespace base {

// One feature forced on or off.
struct FeatureOverride {
  std::string name;
  bool enabled = false;

  bool operator==(const FeatureOverride&) const = default;
};

class FeatureReader {
 public:
  virtual ~FeatureReader() = default;

  // The overrides the source holds, in its own order. Malformed entries are
  // logged and left out.
  virtual std::vector<FeatureOverride> ReadOverrides() const = 0;
};

}  // namespace base

#endif  // BASE_FEATURES_FEATURE_READER_H_
