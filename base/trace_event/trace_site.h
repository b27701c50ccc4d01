// Trace sites: the macros that code puts where it wants an event.
//
// Each site resolves its category once and keeps the entry in a static
// pointer; afterwards a site that is off costs one load of that pointer and
// one test of the category's state byte.
//
//   void MessageLoop::RunTask(...) {
//     TRACE_EVENT_SCOPE2("toplevel", "MessageLoop::RunTask",
//                        "src_file", file, "src_func", function);
//     ...
//   }
//
//   TRACE_EVENT_INSTANT_FLOW("disabled-by-default-toplevel.flow", "MessageLoop::PostTask",
//                            sequence_id,
//                            TRACE_EVENT_FLAG_HAS_ID | TRACE_EVENT_FLAG_MANGLE_ID |
//                                TRACE_EVENT_FLAG_FLOW_OUT);
//
// Arguments are evaluated only when the category is on. String arguments are
// not copied. The scope macros declare variables: use them at block scope,
// not as the only statement of an unbraced if/else.
#ifndef BASE_TRACE_EVENT_TRACE_SITE_H_
#define BASE_TRACE_EVENT_TRACE_SITE_H_

#include <atomic>
#include <cstdint>

#include "base/trace_event/trace_category.h"
#include "base/trace_event/trace_event_handle.h"

// Event flags.
#define TRACE_EVENT_FLAG_NONE 0u
#define TRACE_EVENT_FLAG_COPY (1u << 0)
#define TRACE_EVENT_FLAG_HAS_ID (1u << 1)
#define TRACE_EVENT_FLAG_MANGLE_ID (1u << 2)
#define TRACE_EVENT_FLAG_FLOW_IN (1u << 8)
#define TRACE_EVENT_FLAG_FLOW_OUT (1u << 9)

#define TRACE_EVENT_PHASE_COMPLETE ('X')

namespace base::trace_event::internal {

// The slow path of a site's first pass: takes the trace log (building it),
// resolves |category_name| (updating the state of an entry it adds) and
// stores the entry in |*site|. Threads that race store the same entry.
const TraceCategory* ResolveTraceSiteCategory(std::atomic<const TraceCategory*>* site,
                                              const char* category_name);

inline const TraceCategory* GetTraceSiteCategory(std::atomic<const TraceCategory*>* site,
                                                 const char* category_name) {
  const TraceCategory* category = site->load(std::memory_order_relaxed);
  if (category) [[likely]]
    return category;
  return ResolveTraceSiteCategory(site, category_name);
}

// Adds a complete ('X') event through the trace log.
TraceEventHandle AddCompleteEvent(const TraceCategory* category, const char* name, uint64_t id,
                                  uint32_t flags, int num_args, const char* const* arg_names,
                                  const TraceArgValue* arg_values);
// Closes it.
void EndCompleteEvent(const TraceCategory* category, const char* name, TraceEventHandle handle);

// Closes a complete event when its scope ends, if one was started.
class ScopedTraceEvent {
 public:
  ScopedTraceEvent(const TraceCategory* category, const char* name)
      : category_(category), name_(name) {}
  ScopedTraceEvent(const ScopedTraceEvent&) = delete;
  ScopedTraceEvent& operator=(const ScopedTraceEvent&) = delete;
  ~ScopedTraceEvent() {
    if (started_ && category_->state() != 0)
      EndCompleteEvent(category_, name_, handle_);
  }

  // Called only when the category is on.
  void Begin(uint64_t id, uint32_t flags) { Begin(id, flags, 0, nullptr, nullptr); }
  void Begin(uint64_t id, uint32_t flags, const char* arg1_name, TraceArgValue arg1_value) {
    const char* names[1] = {arg1_name};
    TraceArgValue values[1] = {arg1_value};
    Begin(id, flags, 1, names, values);
  }
  void Begin(uint64_t id, uint32_t flags, const char* arg1_name, TraceArgValue arg1_value,
             const char* arg2_name, TraceArgValue arg2_value) {
    const char* names[2] = {arg1_name, arg2_name};
    TraceArgValue values[2] = {arg1_value, arg2_value};
    Begin(id, flags, 2, names, values);
  }

 private:
  void Begin(uint64_t id, uint32_t flags, int num_args, const char* const* arg_names,
             const TraceArgValue* arg_values) {
    handle_ = AddCompleteEvent(category_, name_, id, flags, num_args, arg_names, arg_values);
    started_ = true;
  }

  const TraceCategory* category_;
  const char* name_;
  TraceEventHandle handle_;
  bool started_ = false;
};

}  // namespace base::trace_event::internal

#define VELMO_TRACE_CONCAT_INNER(a, b) a##b
#define VELMO_TRACE_CONCAT(a, b) VELMO_TRACE_CONCAT_INNER(a, b)
#define VELMO_TRACE_UID(prefix) VELMO_TRACE_CONCAT(prefix, __LINE__)

// The shared body of the scoped forms: resolve, then start the event with
// the remaining arguments (id, flags[, name, value[, name, value]]) when on.
#define VELMO_TRACE_EVENT_SCOPE_INTERNAL(category, name, ...)                                  \
  static std::atomic<const ::base::trace_event::TraceCategory*> VELMO_TRACE_UID(               \
      velmo_trace_site_){nullptr};                                                             \
  const ::base::trace_event::TraceCategory* VELMO_TRACE_UID(velmo_trace_category_) =           \
      ::base::trace_event::internal::GetTraceSiteCategory(&VELMO_TRACE_UID(velmo_trace_site_), \
                                                          category);                           \
  ::base::trace_event::internal::ScopedTraceEvent VELMO_TRACE_UID(velmo_trace_scope_)(         \
      VELMO_TRACE_UID(velmo_trace_category_), name);                                           \
  if (VELMO_TRACE_UID(velmo_trace_category_)->is_enabled()) [[unlikely]]                       \
  VELMO_TRACE_UID(velmo_trace_scope_).Begin(__VA_ARGS__)

// A complete event that lasts until the end of the enclosing scope.
#define TRACE_EVENT_SCOPE(category, name) \
  VELMO_TRACE_EVENT_SCOPE_INTERNAL(category, name, 0, TRACE_EVENT_FLAG_NONE)
#define TRACE_EVENT_SCOPE1(category, name, arg1_name, arg1_value) \
  VELMO_TRACE_EVENT_SCOPE_INTERNAL(category, name, 0, TRACE_EVENT_FLAG_NONE, arg1_name, arg1_value)
#define TRACE_EVENT_SCOPE2(category, name, arg1_name, arg1_value, arg2_name, arg2_value) \
  VELMO_TRACE_EVENT_SCOPE_INTERNAL(category, name, 0, TRACE_EVENT_FLAG_NONE, arg1_name,  \
                                   arg1_value, arg2_name, arg2_value)

// A scoped complete event with an id and flags (a flow step that lasts for
// the scope, e.g. flow in while a queued task runs).
#define TRACE_EVENT_SCOPE_FLOW(category, name, id, flags) \
  VELMO_TRACE_EVENT_SCOPE_INTERNAL(category, name, static_cast<uint64_t>(id), (flags))
#define TRACE_EVENT_SCOPE_FLOW1(category, name, id, flags, arg1_name, arg1_value)                 \
  VELMO_TRACE_EVENT_SCOPE_INTERNAL(category, name, static_cast<uint64_t>(id), (flags), arg1_name, \
                                   arg1_value)

// A complete event that is closed at once (a flow step at a single point,
// e.g. flow out where a task is queued). A statement of its own.
#define TRACE_EVENT_INSTANT_FLOW(category, name, id, flags)                                   \
  do {                                                                                        \
    static std::atomic<const ::base::trace_event::TraceCategory*> velmo_trace_site{nullptr};  \
    const ::base::trace_event::TraceCategory* velmo_trace_category =                          \
        ::base::trace_event::internal::GetTraceSiteCategory(&velmo_trace_site, category);     \
    if (velmo_trace_category->is_enabled()) [[unlikely]] {                                    \
      ::base::trace_event::internal::ScopedTraceEvent velmo_trace_scope(velmo_trace_category, \
                                                                        name);                \
      velmo_trace_scope.Begin(static_cast<uint64_t>(id), (flags));                            \
    }                                                                                         \
  } while (0)

#endif  // BASE_TRACE_EVENT_TRACE_SITE_H_
