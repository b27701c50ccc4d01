#include "base/trace_event/trace_event_filter.h"

#include <atomic>

#include "base/trace_event/heap_profiler_context_tracker.h"

namespace base::trace_event {
namespace {

std::atomic<TraceEventFilter::TestingFactory> g_testing_factory{nullptr};

}  // namespace

// static
std::unique_ptr<TraceEventFilter> TraceEventFilter::Create(const EventFilterConfig& config) {
  const std::string& name = config.predicate_name();
  if (name == "event_whitelist_predicate")
    return std::make_unique<EventNameFilter>(config.args());
  if (name == "heap_profiler_predicate")
    return std::make_unique<HeapProfilerEventFilter>();
  if (name == "testing_predicate") {
    TestingFactory factory = g_testing_factory.load();
    if (factory)
      return factory();
  }
  return nullptr;
}

// static
void TraceEventFilter::SetTestingFactory(TestingFactory factory) {
  g_testing_factory.store(factory);
}

EventNameFilter::EventNameFilter(const DictValue* args) {
  if (!args)
    return;
  // The dictionary's lookups are not const; nothing here changes it.
  ListValue* list = nullptr;
  if (!const_cast<DictValue*>(args)->GetList("event_name_whitelist", &list))
    return;
  for (size_t i = 0; i < list->size(); ++i) {
    std::string name;
    if (list->GetString(i, &name))
      names_.insert(std::move(name));
  }
}

bool EventNameFilter::Admit(const TraceEvent& event) const {
  return event.name() && names_.count(std::string_view(event.name())) != 0;
}

bool HeapProfilerEventFilter::Admit(const TraceEvent& event) const {
  if (HeapProfilerContextTracker::GetHeapProfilingMode() != kHeapProfilingModePseudoStack)
    return true;
  // Copied names die with the event: no frame may point at them.
  if (event.flags() & kTraceEventFlagCopy)
    return true;
  HeapProfilerContextTracker* tracker = HeapProfilerContextTracker::GetForCurrentThread();
  if (!tracker)
    return true;
  const HeapProfilerContextTracker::Frame frame{event.category_name(), event.name()};
  if (event.phase() == 'B' || event.phase() == 'X')
    tracker->PushPseudoStackFrame(frame);
  else if (event.phase() == 'E')
    tracker->PopPseudoStackFrameIfTop(frame);
  return true;
}

void HeapProfilerEventFilter::NoteEventEnd(const char* event_name,
                                           const char* category_name) const {
  if (HeapProfilerContextTracker::GetHeapProfilingMode() != kHeapProfilingModePseudoStack)
    return;
  HeapProfilerContextTracker* tracker = HeapProfilerContextTracker::GetForCurrentThread();
  // An event that was never pushed (past the depth limit, or with copied
  // names) must not pop its caller's frame.
  if (tracker)
    tracker->PopPseudoStackFrameIfTop({category_name, event_name});
}

}  // namespace base::trace_event
