#include "base/trace_event/trace_site.h"

#include "base/trace_event/trace_category_registry.h"
#include "base/trace_event/trace_log.h"

namespace base::trace_event::internal {

const TraceCategory* ResolveTraceSiteCategory(std::atomic<const TraceCategory*>* site,
                                              const char* category_name) {
  const TraceCategory* category;
  TraceLog* trace_log = TraceLog::GetInstance();
  if (!trace_log) {
    category =
        TraceCategoryRegistry::GetCategoryAt(TraceCategoryRegistry::kCategoryAlreadyShutdown);
  } else {
    TraceCategory* entry = nullptr;
    if (TraceCategoryRegistry::GetOrCreateCategory(category_name, &entry))
      trace_log->UpdateCategoryState(entry);
    category = entry;
  }
  site->store(category, std::memory_order_relaxed);
  return category;
}

TraceEventHandle AddCompleteEvent(const TraceCategory* category, const char* name, uint64_t id,
                                  uint32_t flags, int num_args, const char* const* arg_names,
                                  const TraceArgValue* arg_values) {
  // Flow steps bind to each other by the same number that names them.
  const uint64_t bind_id =
      (flags & (TRACE_EVENT_FLAG_FLOW_IN | TRACE_EVENT_FLAG_FLOW_OUT)) ? id : 0;
  return TraceLog::GetInstance()->AddTraceEvent(TRACE_EVENT_PHASE_COMPLETE, category, name, id,
                                                bind_id, flags, num_args, arg_names, arg_values);
}

void EndCompleteEvent(const TraceCategory* category, const char* name, TraceEventHandle handle) {
  TraceLog::GetInstance()->UpdateEventDuration(category, name, handle);
}

}  // namespace base::trace_event::internal
