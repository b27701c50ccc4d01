// The configuration of one event filter: which filter (by predicate name),
// the categories whose events it sees and the filter's own arguments.
#ifndef BASE_TRACE_EVENT_EVENT_FILTER_CONFIG_H_
#define BASE_TRACE_EVENT_EVENT_FILTER_CONFIG_H_

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/values.h"

namespace base::trace_event {

class EventFilterConfig {
 public:
  explicit EventFilterConfig(std::string predicate_name);
  EventFilterConfig(const EventFilterConfig& other);
  EventFilterConfig& operator=(const EventFilterConfig& other);
  EventFilterConfig(EventFilterConfig&&) = default;
  EventFilterConfig& operator=(EventFilterConfig&&) = default;
  ~EventFilterConfig();

  const std::string& predicate_name() const { return predicate_name_; }
  void AddIncludedCategory(std::string_view pattern) { included_.emplace_back(pattern); }
  void AddExcludedCategory(std::string_view pattern) { excluded_.emplace_back(pattern); }
  // Takes over the filter's arguments (copies of this configuration copy them).
  void SetArgs(std::unique_ptr<DictValue> args) { args_ = std::move(args); }
  const DictValue* args() const { return args_.get(); }

  // Walks the tokens of |category_group| in order: the first token that
  // matches an excluded pattern refuses the group, the first that matches an
  // included one (and no excluded one) admits it; no match refuses.
  bool IsCategoryGroupEnabled(std::string_view category_group) const;

 private:
  std::string predicate_name_;
  std::vector<std::string> included_;
  std::vector<std::string> excluded_;
  std::unique_ptr<DictValue> args_;
};

}  // namespace base::trace_event

#endif  // BASE_TRACE_EVENT_EVENT_FILTER_CONFIG_H_
