#include "base/threading/loop_diagnostics.h"

namespace base::loop_diagnostics {

void RecordMessageLoopProblem(MessageLoopProblem problem) {
  (void)problem;
}

}  // namespace base::loop_diagnostics
