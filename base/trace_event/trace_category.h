// One entry of the process-wide category table: a name and the one-byte state
// that trace sites test before doing any work.
#ifndef BASE_TRACE_EVENT_TRACE_CATEGORY_H_
#define BASE_TRACE_EVENT_TRACE_CATEGORY_H_

#include <atomic>
#include <cstdint>

namespace base::trace_event {

struct TraceCategory {
  // Bits of the state byte. No other bit is ever set.
  static constexpr uint8_t kEnabledForRecording = 1;
  static constexpr uint8_t kEnabledForEtwExport = 8;
  static constexpr uint8_t kEnabledForFilters = 16;
  // A trace site does work only when one of these bits is set.
  static constexpr uint8_t kEnabledMask =
      kEnabledForRecording | kEnabledForEtwExport | kEnabledForFilters;

  constexpr TraceCategory() = default;
  constexpr explicit TraceCategory(const char* category_name) : name_(category_name) {}
  TraceCategory(const TraceCategory&) = delete;
  TraceCategory& operator=(const TraceCategory&) = delete;

  // The state and the mask are read by trace sites without a lock or fence; a
  // site may see a change late, which is fine. Relaxed atomics keep that cheap
  // and well defined.
  uint8_t state() const { return state_.load(std::memory_order_relaxed); }
  bool is_enabled() const { return (state() & kEnabledMask) != 0; }
  uint32_t filter_mask() const { return filter_mask_.load(std::memory_order_relaxed); }
  const char* name() const { return name_; }

  void set_state(uint8_t state) { state_.store(state, std::memory_order_relaxed); }
  void set_filter_mask(uint32_t mask) { filter_mask_.store(mask, std::memory_order_relaxed); }
  void set_name(const char* name) { name_ = name; }

 private:
  std::atomic<uint8_t> state_{0};
  std::atomic<uint32_t> filter_mask_{0};
  // Constant text for the built-in entries, a registry-owned heap copy for the
  // entries added at run time.
  const char* name_ = nullptr;
};

}  // namespace base::trace_event

#endif  // BASE_TRACE_EVENT_TRACE_CATEGORY_H_
