// Filters see the events of the categories their configuration enables and
// decide whether each one is kept.
#ifndef BASE_TRACE_EVENT_TRACE_EVENT_FILTER_H_
#define BASE_TRACE_EVENT_TRACE_EVENT_FILTER_H_

#include <memory>
#include <set>
#include <string>

#include "base/trace_event/event_filter_config.h"
#include "base/trace_event/trace_event.h"

namespace base::trace_event {

class TraceEventFilter {
 public:
  virtual ~TraceEventFilter() = default;
  // True keeps the event.
  virtual bool Admit(const TraceEvent& event) const = 0;
  virtual void NoteEventEnd(const char* /*event_name*/, const char* /*category_name*/) const {}

  // The filter that |config| names, or null for a name no filter has.
  static std::unique_ptr<TraceEventFilter> Create(const EventFilterConfig& config);

  // A factory for "testing_predicate"; without one that name makes no filter.
  using TestingFactory = std::unique_ptr<TraceEventFilter> (*)();
  static void SetTestingFactory(TestingFactory factory);
};

// Keeps the events whose name is in the argument "event_name_whitelist".
class EventNameFilter : public TraceEventFilter {
 public:
  explicit EventNameFilter(const DictValue* args);
  bool Admit(const TraceEvent& event) const override;

 private:
  std::set<std::string, std::less<>> names_;
};

// Keeps every event; while heap profiling keeps a pseudo stack, maintains the
// calling thread's frames.
class HeapProfilerEventFilter : public TraceEventFilter {
 public:
  bool Admit(const TraceEvent& event) const override;
  void NoteEventEnd(const char* event_name, const char* category_name) const override;
};

}  // namespace base::trace_event

#endif  // BASE_TRACE_EVENT_TRACE_EVENT_FILTER_H_
