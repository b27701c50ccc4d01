#include "base/trace_event/trace_config.h"

#include "base/pattern.h"
#include "base/string_split.h"

namespace base::trace_event {
namespace {

constexpr std::string_view kDisabledByDefaultPrefix = "disabled-by-default-";

bool MatchesAny(std::string_view category, const std::vector<std::string>& patterns) {
  for (const std::string& pattern : patterns) {
    if (MatchPattern(category, pattern))
      return true;
  }
  return false;
}

std::string_view TrimSpaces(std::string_view text) {
  while (!text.empty() && text.front() == ' ')
    text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ')
    text.remove_suffix(1);
  return text;
}

}  // namespace

TraceConfig::TraceConfig(std::string_view category_filter) : has_filter_(true) {
  for (std::string_view piece : SplitIntoSlices(category_filter, ',')) {
    piece = TrimSpaces(piece);
    if (piece.empty())
      continue;
    if (piece.front() == '-') {
      piece.remove_prefix(1);
      if (!piece.empty())
        excluded_.emplace_back(piece);
    } else {
      included_.emplace_back(piece);
    }
  }
}

bool TraceConfig::IsCategoryEnabled(std::string_view category) const {
  // "disabled-by-default-" categories must be named (or matched) by an
  // include pattern that says so itself, never by a catch-all.
  const bool disabled_by_default = category.substr(0, kDisabledByDefaultPrefix.size()) ==
                                   kDisabledByDefaultPrefix;
  if (MatchesAny(category, excluded_))
    return false;
  for (const std::string& pattern : included_) {
    if (disabled_by_default &&
        std::string_view(pattern).substr(0, kDisabledByDefaultPrefix.size()) !=
            kDisabledByDefaultPrefix) {
      continue;
    }
    if (MatchPattern(category, pattern))
      return true;
  }
  // With only exclusions, everything else that is on by default is included.
  return included_.empty() && !excluded_.empty() && !disabled_by_default;
}

bool TraceConfig::IsCategoryGroupEnabled(std::string_view category_group) const {
  if (!has_filter_)
    return false;
  for (std::string_view category : SplitIntoSlices(category_group, ',')) {
    category = TrimSpaces(category);
    if (!category.empty() && IsCategoryEnabled(category))
      return true;
  }
  return false;
}

}  // namespace base::trace_event
