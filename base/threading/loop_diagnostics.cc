#include "base/threading/loop_diagnostics.h"

#include "base/metrics/histogram_macros.h"

namespace base::loop_diagnostics {

void RecordMessageLoopProblem(MessageLoopProblem problem) {
  HISTOGRAM_LINEAR("Base.MessageLoopProblem", static_cast<int>(problem), kMessageLoopProblemMax,
                   kMessageLoopProblemMax + 1);
}

}  // namespace base::loop_diagnostics
