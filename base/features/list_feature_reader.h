// Feature overrides from a list of texts, each "<name>@1" (on) or
// "<name>@2" (off), as an installation records its experiment states.
#ifndef BASE_FEATURES_LIST_FEATURE_READER_H_
#define BASE_FEATURES_LIST_FEATURE_READER_H_

#include <string>
#include <vector>

#include "base/features/feature_reader.h"

namespace base {

class ListFeatureReader : public FeatureReader {
 public:
  static constexpr char kSeparator = '@';
  static constexpr char kStateOn = '1';
  static constexpr char kStateOff = '2';

  explicit ListFeatureReader(std::vector<std::string> entries);
  ~ListFeatureReader() override;

  // In list order. An entry without "@", with an empty name or with another
  // state is ignored with a log line. The name ends at the last "@".
  std::vector<FeatureOverride> ReadOverrides() const override;

 private:
  std::vector<std::string> entries_;
};

}  // namespace base

#endif  // BASE_FEATURES_LIST_FEATURE_READER_H_
