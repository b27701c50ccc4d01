// The stored trace event: its initialisation (with copies of transient
// strings), its JSON form and its pretty-printed form.
#ifndef BASE_TRACE_EVENT_TRACE_EVENT_H_
#define BASE_TRACE_EVENT_TRACE_EVENT_H_

#include <cstdint>
#include <memory>
#include <string>

#include "base/trace_event/trace_category.h"
#include "base/trace_event/trace_event_handle.h"

namespace base::trace_event {

// Event flags.
inline constexpr uint32_t kTraceEventFlagNone = 0;
inline constexpr uint32_t kTraceEventFlagCopy = 0x1;
inline constexpr uint32_t kTraceEventFlagHasId = 0x2;
inline constexpr uint32_t kTraceEventFlagMangleId = 0x4;
inline constexpr uint32_t kTraceEventFlagScopeProcess = 0x8;
inline constexpr uint32_t kTraceEventFlagScopeThread = 0x10;
inline constexpr uint32_t kTraceEventFlagScopeMask = 0x18;
inline constexpr uint32_t kTraceEventFlagAsyncTts = 0x40;
inline constexpr uint32_t kTraceEventFlagBindToEnclosing = 0x80;
inline constexpr uint32_t kTraceEventFlagFlowIn = 0x100;
inline constexpr uint32_t kTraceEventFlagFlowOut = 0x200;
inline constexpr uint32_t kTraceEventFlagHasProcessId = 0x800;
inline constexpr uint32_t kTraceEventFlagHasLocalId = 0x1000;
inline constexpr uint32_t kTraceEventFlagHasGlobalId = 0x2000;

inline constexpr int kTraceMaxNumArgs = 2;

class TraceEventMemoryOverhead;

// An argument that writes its own JSON text.
class ConvertableToTraceFormat {
 public:
  virtual ~ConvertableToTraceFormat() = default;
  virtual void AppendAsTraceFormat(std::string* out) const = 0;
  virtual void EstimateTraceMemoryOverhead(TraceEventMemoryOverhead* overhead);
};

// Given an event's category and name, may refuse its arguments (false) or
// hand back a filter of argument names (null: every name passes).
using ArgumentNameFilterPredicate = bool (*)(const char* arg_name);
using ArgumentFilterPredicate = bool (*)(const char* category_group, const char* event_name,
                                         ArgumentNameFilterPredicate* name_filter);

class TraceEvent {
 public:
  TraceEvent() = default;
  TraceEvent(const TraceEvent&) = delete;
  TraceEvent& operator=(const TraceEvent&) = delete;
  ~TraceEvent();

  void Initialize(int thread_id, int64_t timestamp, int64_t thread_timestamp, char phase,
                  const TraceCategory* category, const char* name, const char* scope, uint64_t id,
                  uint64_t bind_id, int num_args, const char* const* arg_names,
                  const uint8_t* arg_types, const uint64_t* arg_values,
                  std::unique_ptr<ConvertableToTraceFormat>* convertables, uint32_t flags);
  // Takes over everything |other| holds; |other| is deleted.
  void MoveFrom(std::unique_ptr<TraceEvent> other);
  // Drops copied strings and convertables; the duration is unset again.
  void Reset();
  void UpdateDuration(int64_t now, int64_t thread_now);
  void EstimateTraceMemoryOverhead(TraceEventMemoryOverhead* overhead);

  // |process_id| is the trace log's.
  void AppendAsJSON(std::string* out, uint32_t process_id,
                    ArgumentFilterPredicate argument_filter) const;
  void AppendPrettyPrinted(std::string* out) const;
  static void AppendValueAsJSON(uint8_t type, uint64_t value, std::string* out);

  int64_t timestamp() const { return timestamp_; }
  int64_t thread_timestamp() const { return thread_timestamp_; }
  int64_t duration() const { return duration_; }
  int64_t thread_duration() const { return thread_duration_; }
  const char* scope() const { return scope_; }
  uint64_t id() const { return id_; }
  uint64_t bind_id() const { return bind_id_; }
  const TraceCategory* category() const { return category_; }
  const char* category_name() const;
  const char* name() const { return name_; }
  int thread_id() const { return thread_id_; }
  uint32_t flags() const { return flags_; }
  char phase() const { return phase_; }
  const char* arg_name(int i) const { return arg_names_[i]; }
  uint8_t arg_type(int i) const { return arg_types_[i]; }
  uint64_t arg_value(int i) const { return arg_values_[i]; }
  const ConvertableToTraceFormat* convertable(int i) const { return convertables_[i].get(); }
  const std::string* copied_strings() const { return copied_strings_.get(); }

 private:
  void AppendArgumentsPretty(std::string* out) const;

  int64_t timestamp_ = 0;
  int64_t thread_timestamp_ = 0;
  int64_t duration_ = -1;
  int64_t thread_duration_ = -1;
  const char* scope_ = nullptr;
  uint64_t id_ = 0;
  uint64_t arg_values_[kTraceMaxNumArgs] = {};
  const char* arg_names_[kTraceMaxNumArgs] = {};
  std::unique_ptr<ConvertableToTraceFormat> convertables_[kTraceMaxNumArgs];
  const TraceCategory* category_ = nullptr;
  const char* name_ = nullptr;
  std::unique_ptr<std::string> copied_strings_;
  int thread_id_ = 0;
  uint32_t flags_ = 0;
  uint64_t bind_id_ = 0;
  uint8_t arg_types_[kTraceMaxNumArgs] = {};
  char phase_ = 'B';
};

}  // namespace base::trace_event

#endif  // BASE_TRACE_EVENT_TRACE_EVENT_H_
