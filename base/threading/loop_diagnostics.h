// The message loop's trace sites and its problem histogram, in one place.
#ifndef BASE_THREADING_LOOP_DIAGNOSTICS_H_
#define BASE_THREADING_LOOP_DIAGNOSTICS_H_

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

// A scope for the run of one task ("toplevel" "MessageLoop::RunTask").
#define LOOP_TRACE_RUN_TASK() \
  do {                        \
  } while (0)
// One posted task ("disabled-by-default-toplevel.flow" "MessageLoop::PostTask").
#define LOOP_TRACE_POST_TASK(sequence_num) \
  do {                                     \
    (void)(sequence_num);                  \
  } while (0)
// A scope for one Windows message ("base" "UIMessagePump::ProcessMessageHelper").
#define LOOP_TRACE_PROCESS_MESSAGE() \
  do {                               \
  } while (0)

#endif  // BASE_THREADING_LOOP_DIAGNOSTICS_H_
