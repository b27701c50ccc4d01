// The process-wide tracing singleton. It owns the recording state (modes,
// options, configuration, event filters) and computes the state byte of every
// category from it.
//
// Event recording (the trace buffer, the event records and their JSON form,
// metadata events, observers) is not part of this library yet: AddTraceEvent
// and UpdateEventDuration accept their calls and record nothing. They are only
// reached when a category state is non-zero, which nothing in this program
// switches on.
#ifndef BASE_TRACE_EVENT_TRACE_LOG_H_
#define BASE_TRACE_EVENT_TRACE_LOG_H_

#include <cstdint>
#include <vector>

#include "base/threading/lock.h"
#include "base/trace_event/event_filter_config.h"
#include "base/trace_event/trace_category.h"
#include "base/trace_event/trace_config.h"
#include "base/trace_event/trace_event_handle.h"

namespace base::trace_event {

class TraceLog {
 public:
  // Bits of the enabled modes.
  static constexpr uint8_t kRecordingMode = 1;
  static constexpr uint8_t kFilteringMode = 2;

  // Bits of the trace options.
  static constexpr uint32_t kRecordUntilFull = 1;
  static constexpr uint32_t kRecordContinuously = 2;
  static constexpr uint32_t kEchoToConsole = 8;
  static constexpr uint32_t kRecordAsMuchAsPossible = 16;

  // Only the first 32 event filters can be told apart in a category's mask.
  static constexpr size_t kMaxEventFilters = 32;

  TraceLog(const TraceLog&) = delete;
  TraceLog& operator=(const TraceLog&) = delete;

  // The singleton, built on the first call and never destroyed.
  static TraceLog* GetInstance();
  // The singleton when it has been built (and published), else null.
  static TraceLog* GetInstanceIfExists();

  // The process-id hash: (|pid| sign-extended to 64 bits XOR the 64-bit FNV
  // offset basis) times the 64-bit FNV prime, modulo 2^64.
  static uint64_t ComputeProcessIdHash(uint32_t pid);

  // The entry of |category_name|; with no instance the "tracing already
  // shutdown" entry. A newly added entry gets its state computed at once.
  static const TraceCategory* GetCategoryEntry(const char* category_name);

  // Recomputes one entry's state byte and filter mask from the current modes,
  // configuration, ETW export and event filters.
  void UpdateCategoryState(TraceCategory* category);
  // Runs UpdateCategoryState over every used entry, index 0 upwards.
  void RefreshAllCategoryStates();

  // Adds an event. Event recording is not built: records nothing and returns
  // an invalid handle.
  TraceEventHandle AddTraceEvent(char phase, const TraceCategory* category, const char* name,
                                 uint64_t id, uint32_t flags, int num_args,
                                 const char* const* arg_names, const TraceArgValue* arg_values);
  // Closes the complete event |handle|. Records nothing (see AddTraceEvent).
  void UpdateEventDuration(const TraceCategory* category, const char* name,
                           TraceEventHandle handle);

  uint8_t enabled_modes() const;
  uint32_t trace_options() const;
  uint32_t process_id() const { return process_id_; }
  uint64_t process_id_hash() const { return process_id_hash_; }

  // Switches the category-relevant state without any recording machinery:
  // stores |modes|, |config| and |filters| and refreshes every category state.
  // For tests of the category states.
  void SetEnabledForTesting(uint8_t modes, const TraceConfig& config,
                            std::vector<EventFilterConfig> filters);
  // Back to modes 0, no configuration and no filters; refreshes the states.
  void SetDisabledForTesting();

 private:
  TraceLog();
  ~TraceLog() = delete;

  // Guards the modes, options, configuration and filters.
  mutable Lock lock_;
  uint8_t enabled_modes_ = 0;
  uint32_t process_id_ = 0;
  uint64_t process_id_hash_ = 0;
  uint32_t trace_options_ = kRecordUntilFull;
  TraceConfig trace_config_;
  std::vector<EventFilterConfig> event_filters_;
};

}  // namespace base::trace_event

#endif  // BASE_TRACE_EVENT_TRACE_LOG_H_
