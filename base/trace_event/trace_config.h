// Which categories a tracing session records: a list of category patterns to
// include and to exclude. Only this category filter exists; the record modes,
// memory-dump and event-filter settings of a full configuration are not kept.
#ifndef BASE_TRACE_EVENT_TRACE_CONFIG_H_
#define BASE_TRACE_EVENT_TRACE_CONFIG_H_

#include <string>
#include <string_view>
#include <vector>

namespace base::trace_event {

class TraceConfig {
 public:
  // Enables nothing.
  TraceConfig() = default;
  // |category_filter|: comma-separated patterns ("*" and "?" wildcards); a
  // leading '-' excludes. "-*" excludes everything; "a,b" includes a and b;
  // "-a" includes every category but a and the "disabled-by-default-" ones.
  explicit TraceConfig(std::string_view category_filter);

  // True when some category of the comma-separated |category_group| is
  // enabled by this configuration.
  bool IsCategoryGroupEnabled(std::string_view category_group) const;

  bool empty() const { return !has_filter_; }

 private:
  bool IsCategoryEnabled(std::string_view category) const;

  bool has_filter_ = false;
  std::vector<std::string> included_;
  std::vector<std::string> excluded_;
};

}  // namespace base::trace_event

#endif  // BASE_TRACE_EVENT_TRACE_CONFIG_H_
