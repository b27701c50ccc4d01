#include "base/threading/loop_diagnostics.h"

#include "base/metrics/histogram_macros.h"
#include "base/trace_event/trace_site.h"

namespace base::loop_diagnostics {

void RecordMessageLoopProblem(MessageLoopProblem problem) {
  HISTOGRAM_LINEAR("Base.MessageLoopProblem", static_cast<int>(problem), kMessageLoopProblemMax,
                   kMessageLoopProblemMax + 1);
}

bool IsTaskFlowTraced() {
  static std::atomic<const trace_event::TraceCategory*> site{nullptr};
  return trace_event::internal::GetTraceSiteCategory(&site, "disabled-by-default-toplevel.flow")
      ->is_enabled();
}

}  // namespace base::loop_diagnostics
