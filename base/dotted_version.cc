#include "base/dotted_version.h"

#include <algorithm>

#include "base/logging.h"

namespace base {

DottedVersion::DottedVersion(std::string_view text) {
  std::vector<uint32_t> components;
  uint64_t value = 0;
  bool digits = false;
  for (char c : text) {
    if (c == '.') {
      if (!digits)
        return;
      components.push_back(static_cast<uint32_t>(value));
      value = 0;
      digits = false;
    } else if (c >= '0' && c <= '9') {
      value = value * 10 + static_cast<uint64_t>(c - '0');
      if (value > UINT32_MAX)
        return;
      digits = true;
    } else {
      return;
    }
  }
  if (!digits)
    return;
  components.push_back(static_cast<uint32_t>(value));
  components_ = std::move(components);
}

int DottedVersion::CompareTo(const DottedVersion& other) const {
  CHECK(IsValid() && other.IsValid()) << "comparing an invalid version";
  const size_t count = std::max(components_.size(), other.components_.size());
  for (size_t i = 0; i < count; ++i) {
    const uint32_t mine = i < components_.size() ? components_[i] : 0;
    const uint32_t theirs = i < other.components_.size() ? other.components_[i] : 0;
    if (mine != theirs)
      return mine < theirs ? -1 : 1;
  }
  return 0;
}

}  // namespace base
