#include "base/trace_event/event_filter_config.h"

#include <utility>

#include "base/pattern.h"
#include "base/trace_event/string_tokenizer.h"

namespace base::trace_event {
namespace {

bool MatchesAny(std::string_view category, const std::vector<std::string>& patterns) {
  for (const std::string& pattern : patterns) {
    if (MatchPattern(category, pattern))
      return true;
  }
  return false;
}

}  // namespace

EventFilterConfig::EventFilterConfig(std::string predicate_name)
    : predicate_name_(std::move(predicate_name)) {}

EventFilterConfig::EventFilterConfig(const EventFilterConfig& other)
    : predicate_name_(other.predicate_name_),
      included_(other.included_),
      excluded_(other.excluded_),
      args_(other.args_ ? other.args_->CreateDeepCopyDict() : nullptr) {}

EventFilterConfig& EventFilterConfig::operator=(const EventFilterConfig& other) {
  if (this != &other) {
    predicate_name_ = other.predicate_name_;
    included_ = other.included_;
    excluded_ = other.excluded_;
    args_ = other.args_ ? other.args_->CreateDeepCopyDict() : nullptr;
  }
  return *this;
}

EventFilterConfig::~EventFilterConfig() = default;

bool EventFilterConfig::IsCategoryGroupEnabled(std::string_view category_group) const {
  StringTokenizer tokens(category_group, ",");
  while (tokens.GetNext()) {
    const std::string_view category = tokens.token();
    if (MatchesAny(category, excluded_))
      return false;
    if (MatchesAny(category, included_))
      return true;
  }
  return false;
}

}  // namespace base::trace_event
