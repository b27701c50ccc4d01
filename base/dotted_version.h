// DottedVersion: a version number of unsigned components separated by ".",
// such as "2442.991" or "43.0.2442.991", compared component by component
// (a missing component counts as 0, so "1.2" equals "1.2.0").
#ifndef BASE_DOTTED_VERSION_H_
#define BASE_DOTTED_VERSION_H_

#include <cstdint>
#include <string_view>
#include <vector>

namespace base {

class DottedVersion {
 public:
  // An invalid version.
  DottedVersion() = default;
  // Valid when |text| is one or more runs of decimal digits joined by single
  // dots, each at most 2^32 - 1; nothing else (no sign, no spaces).
  explicit DottedVersion(std::string_view text);

  bool IsValid() const { return !components_.empty(); }
  const std::vector<uint32_t>& components() const { return components_; }

  // -1, 0 or 1. Both versions must be valid.
  int CompareTo(const DottedVersion& other) const;
  bool operator<(const DottedVersion& other) const { return CompareTo(other) < 0; }
  bool operator==(const DottedVersion& other) const { return CompareTo(other) == 0; }

 private:
  std::vector<uint32_t> components_;
};

}  // namespace base

#endif  // BASE_DOTTED_VERSION_H_
