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

// True while the task flow is traced: posting then notes the time, so that
// the run can tell how long the task waited.
bool IsTaskFlowTraced();

}  // namespace base::loop_diagnostics

// A scope for the run of one task; declares variables, so a statement of
// its own at block scope.
#define LOOP_TRACE_RUN_TASK(posted_from)                                                        \
  TRACE_EVENT_SCOPE2("toplevel", "MessageLoop::RunTask", "src_file", (posted_from).file_name(), \
                     "src_func", (posted_from).function_name())
// The run of a queued task as the end of the flow from its posting; the time
// it waited is known only when the flow was traced at posting time.
#define LOOP_TRACE_TASK_FLOW_IN(sequence_num, queue_duration_us)                       \
  TRACE_EVENT_SCOPE_FLOW1(                                                             \
      "disabled-by-default-toplevel.flow", "MessageLoop::PostTask", (sequence_num),    \
      TRACE_EVENT_FLAG_HAS_ID | TRACE_EVENT_FLAG_MANGLE_ID | TRACE_EVENT_FLAG_FLOW_IN, \
      "queue_duration", static_cast<long long>(queue_duration_us))
// One posted task, as the start of a flow to its run.
#define LOOP_TRACE_POST_TASK(sequence_num)                                          \
  TRACE_EVENT_INSTANT_FLOW(                                                         \
      "disabled-by-default-toplevel.flow", "MessageLoop::PostTask", (sequence_num), \
      TRACE_EVENT_FLAG_HAS_ID | TRACE_EVENT_FLAG_MANGLE_ID | TRACE_EVENT_FLAG_FLOW_OUT)
// A scope for one Windows message taken by the UI pump.
#define LOOP_TRACE_PROCESS_MESSAGE(message_id)                                 \
  TRACE_EVENT_SCOPE1("base", "UIMessagePump::ProcessMessageHelper", "message", \
                     static_cast<unsigned>(message_id))

#endif  // BASE_THREADING_LOOP_DIAGNOSTICS_H_
