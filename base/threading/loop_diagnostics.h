// The message loop's trace sites and its problem histogram, in one place.
#ifndef BASE_THREADING_LOOP_DIAGNOSTICS_H_
#define BASE_THREADING_LOOP_DIAGNOSTICS_H_

#include "base/trace_event/trace_site.h"

namespace base::loop_diagnostics {

// Values of "Base.MessageLoopProblem".
enum MessageLoopProblem : int {
  kPostMessageFailed = 0,
  kCompletionPortPostFailed = 1,
  kTimerFailed = 2,
  kQuitMessageReceived = 3,
  kMessageLoopProblemMax = 4,
};

void RecordMessageLoopProblem(MessageLoopProblem problem);

}  // namespace base::loop_diagnostics

// A scope for the run of one task; declares variables, so a statement of
// its own at block scope.
#define LOOP_TRACE_RUN_TASK() TRACE_EVENT_SCOPE("toplevel", "MessageLoop::RunTask")
// One posted task, as the start of a flow to its run.
#define LOOP_TRACE_POST_TASK(sequence_num)                                                  \
  TRACE_EVENT_INSTANT_FLOW("disabled-by-default-toplevel.flow", "MessageLoop::PostTask",   \
                           (sequence_num),                                                 \
                           TRACE_EVENT_FLAG_HAS_ID | TRACE_EVENT_FLAG_MANGLE_ID |          \
                               TRACE_EVENT_FLAG_FLOW_OUT)
// A scope for one Windows message taken by the UI pump.
#define LOOP_TRACE_PROCESS_MESSAGE() TRACE_EVENT_SCOPE("base", "UIMessagePump::ProcessMessageHelper")

#endif  // BASE_THREADING_LOOP_DIAGNOSTICS_H_
