// The category part of an event-filter configuration: the filter receives the
// events of the categories its category filter enables.
#ifndef BASE_TRACE_EVENT_EVENT_FILTER_CONFIG_H_
#define BASE_TRACE_EVENT_EVENT_FILTER_CONFIG_H_

#include <string>
#include <string_view>
#include <utility>

#include "base/trace_event/trace_config.h"

namespace base::trace_event {

class EventFilterConfig {
 public:
  EventFilterConfig(std::string predicate_name, TraceConfig category_filter)
      : predicate_name_(std::move(predicate_name)), category_filter_(std::move(category_filter)) {}

  const std::string& predicate_name() const { return predicate_name_; }
  bool IsCategoryGroupEnabled(std::string_view category_group) const {
    return category_filter_.IsCategoryGroupEnabled(category_group);
  }

 private:
  std::string predicate_name_;
  TraceConfig category_filter_;
};

}  // namespace base::trace_event

#endif  // BASE_TRACE_EVENT_EVENT_FILTER_CONFIG_H_
