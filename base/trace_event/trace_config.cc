#include "base/trace_event/trace_config.h"

#include "base/pattern.h"
#include "base/trace_event/string_tokenizer.h"

namespace base::trace_event {
namespace {

constexpr char kDisabledByDefaultPattern[] = "disabled-by-default-*";

bool MatchesAny(std::string_view category, const std::vector<std::string>& patterns) {
  for (const std::string& pattern : patterns) {
    if (MatchPattern(category, pattern))
      return true;
  }
  return false;
}

bool IsDisabledByDefault(std::string_view category) {
  return MatchPattern(category, kDisabledByDefaultPattern);
}

std::string_view TrimSpaces(std::string_view text) {
  while (!text.empty() && text.front() == ' ')
    text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ')
    text.remove_suffix(1);
  return text;
}

}  // namespace

void MemoryDumpConfig::Clear() {
  allowed_dump_modes.clear();
  triggers.clear();
  heap_breakdown_threshold_bytes = kDefaultHeapBreakdownThresholdBytes;
}

TraceConfig::TraceConfig(std::string_view category_filter) {
  StringTokenizer tokens(category_filter, ",");
  while (tokens.GetNext()) {
    std::string_view pattern = TrimSpaces(tokens.token());
    if (pattern.empty())
      continue;
    if (pattern.front() == '-') {
      pattern.remove_prefix(1);
      if (!pattern.empty())
        excluded_.emplace_back(pattern);
    } else if (IsDisabledByDefault(pattern)) {
      disabled_by_default_enabled_.emplace_back(pattern);
    } else {
      included_.emplace_back(pattern);
    }
  }
}

bool TraceConfig::IsCategoryEnabled(std::string_view category) const {
  if (MatchesAny(category, disabled_by_default_enabled_))
    return true;
  if (IsDisabledByDefault(category))
    return false;
  return MatchesAny(category, included_);
}

bool TraceConfig::IsCategoryGroupEnabled(std::string_view category_group) const {
  bool had_enabled_by_default = false;
  StringTokenizer first_pass(category_group, ",");
  while (first_pass.GetNext()) {
    const std::string_view category = first_pass.token();
    if (IsCategoryEnabled(category))
      return true;
    if (!IsDisabledByDefault(category))
      had_enabled_by_default = true;
  }

  bool excluded = false;
  StringTokenizer second_pass(category_group, ",");
  while (second_pass.GetNext()) {
    const std::string_view category = second_pass.token();
    excluded = false;
    for (const std::string& pattern : excluded_) {
      if (MatchPattern(category, pattern)) {
        excluded = true;
        break;
      }
      if (!IsDisabledByDefault(category))
        excluded = false;
    }
    if (!excluded)
      break;
  }
  return !excluded && had_enabled_by_default && included_.empty();
}

void TraceConfig::Clear() {
  record_mode_ = 0;
  enable_systrace_ = false;
  enable_argument_filter_ = false;
  included_.clear();
  disabled_by_default_enabled_.clear();
  excluded_.clear();
  synthetic_delays_.clear();
  memory_dump_config_.Clear();
  event_filters_.clear();
}

}  // namespace base::trace_event
