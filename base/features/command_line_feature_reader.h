// Feature overrides from a command line: a switch "with-feature:<name>" with
// the value "on" or "off".
#ifndef BASE_FEATURES_COMMAND_LINE_FEATURE_READER_H_
#define BASE_FEATURES_COMMAND_LINE_FEATURE_READER_H_

#include <vector>

#include "base/features/feature_reader.h"

namespace base {

class CommandLine;

class CommandLineFeatureReader : public FeatureReader {
 public:
  // |command_line| must outlive the reader.
  explicit CommandLineFeatureReader(const CommandLine& command_line);
  ~CommandLineFeatureReader() override;

  // In switch-name order (the command line's switch map is sorted). A value
  // other than "on" or "off", or an empty name, is ignored with a log line.
  std::vector<FeatureOverride> ReadOverrides() const override;

 private:
  const CommandLine& command_line_;
};

}  // namespace base

#endif  // BASE_FEATURES_COMMAND_LINE_FEATURE_READER_H_
