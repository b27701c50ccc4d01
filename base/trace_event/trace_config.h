// What a tracing run records: category patterns, the event-filter
// configurations and the memory-dump settings.
#ifndef BASE_TRACE_EVENT_TRACE_CONFIG_H_
#define BASE_TRACE_EVENT_TRACE_CONFIG_H_

#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "base/trace_event/event_filter_config.h"

namespace base::trace_event {

// Levels of detail of a memory dump.
enum class MemoryDumpLevelOfDetail : uint32_t { kBackground = 0, kLight = 1, kDetailed = 2 };

struct MemoryDumpConfig {
  static constexpr uint32_t kDefaultHeapBreakdownThresholdBytes = 1024;

  struct Trigger {
    uint32_t period_ms = 0;
    MemoryDumpLevelOfDetail level_of_detail = MemoryDumpLevelOfDetail::kBackground;
  };

  void Clear();

  std::set<MemoryDumpLevelOfDetail> allowed_dump_modes;
  std::vector<Trigger> triggers;
  uint32_t heap_breakdown_threshold_bytes = kDefaultHeapBreakdownThresholdBytes;
};

class TraceConfig {
 public:
  // Empty lists: every category that is not disabled by default is enabled.
  TraceConfig() = default;
  // |category_filter|: comma-separated patterns ("*" and "?" wildcards). A
  // leading '-' excludes; a pattern starting with "disabled-by-default-"
  // enables such categories explicitly; anything else is included.
  explicit TraceConfig(std::string_view category_filter);

  // Two passes over the tokens of |category_group|: any token enabled on its
  // own enables the group; otherwise the group is enabled only when nothing
  // is included, it names a category that is on by default, and the last
  // token looked at is not excluded.
  bool IsCategoryGroupEnabled(std::string_view category_group) const;
  // One category: explicitly enabled disabled-by-default patterns first, then
  // never another disabled-by-default one, then the included patterns.
  bool IsCategoryEnabled(std::string_view category) const;

  // Back to the state after construction.
  void Clear();

  uint32_t record_mode() const { return record_mode_; }
  void set_record_mode(uint32_t mode) { record_mode_ = mode; }

  void AddIncludedCategory(std::string_view pattern) { included_.emplace_back(pattern); }
  void AddExcludedCategory(std::string_view pattern) { excluded_.emplace_back(pattern); }
  void AddDisabledByDefaultCategory(std::string_view pattern) {
    disabled_by_default_enabled_.emplace_back(pattern);
  }

  MemoryDumpConfig& memory_dump_config() { return memory_dump_config_; }
  const MemoryDumpConfig& memory_dump_config() const { return memory_dump_config_; }

  std::vector<EventFilterConfig>& event_filters() { return event_filters_; }
  const std::vector<EventFilterConfig>& event_filters() const { return event_filters_; }

 private:
  uint32_t record_mode_ = 0;
  bool enable_systrace_ = false;
  bool enable_argument_filter_ = false;
  MemoryDumpConfig memory_dump_config_;
  std::vector<std::string> included_;
  std::vector<std::string> disabled_by_default_enabled_;
  std::vector<std::string> excluded_;
  std::vector<std::string> synthetic_delays_;
  std::vector<EventFilterConfig> event_filters_;
};

}  // namespace base::trace_event

#endif  // BASE_TRACE_EVENT_TRACE_CONFIG_H_
