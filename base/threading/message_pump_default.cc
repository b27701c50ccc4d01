#include "base/threading/message_pump_default.h"

#include <windows.h>

namespace base {

namespace {
// Checks of the incoming queue before sleeping (some microseconds).
constexpr int kSpinCount = 1000;
// Pause after tasks arrive, so that the loop takes them in batches rather
// than contending with the poster for every one.
constexpr int kBatchSpinCount = 64;
}  // namespace

DefaultMessagePump::DefaultMessagePump()
    : event_(WaitableEvent::ResetPolicy::kAutomatic, WaitableEvent::InitialState::kNotSignaled) {}

DefaultMessagePump::~DefaultMessagePump() = default;

void DefaultMessagePump::Run(Delegate* delegate, MessageDispatcher* /*dispatcher*/) {
  RunState state;
  RunState* previous_state = state_;
  state_ = &state;
  for (;;) {
    bool did_work = delegate->DoWork();
    if (state.should_quit)
      break;
    did_work |= delegate->DoDelayedWork(&delayed_work_time_);
    if (state.should_quit)
      break;
    if (did_work)
      continue;
    did_work = delegate->DoIdleWork();
    if (state.should_quit)
      break;
    if (did_work)
      continue;
    // Tasks often follow each other closely: watch for them briefly before
    // paying for a sleep and the poster's wake-up.
    bool arrived = false;
    for (int spin = 0; spin < kSpinCount && !arrived; ++spin) {
      YieldProcessor();
      arrived = delegate->HasIncomingTasks();
    }
    if (arrived) {
      // Let the poster add a few more before taking the lock it uses.
      for (int spin = 0; spin < kBatchSpinCount; ++spin)
        YieldProcessor();
      continue;
    }
    if (!delegate->PrepareToWait())
      continue;
    if (delayed_work_time_.is_null()) {
      event_.Wait();
    } else {
      TimeSpan delay = delayed_work_time_ - MonotonicTime::Now();
      if (delay > TimeSpan())
        event_.TimedWait(delay);
    }
  }
  state_ = previous_state;
}

void DefaultMessagePump::Quit() {
  if (state_)
    state_->should_quit = true;
}

void DefaultMessagePump::ScheduleWork() { event_.Signal(); }

void DefaultMessagePump::ScheduleDelayedWork(MonotonicTime delayed_work_time) {
  // Only called on the loop's thread, which reads it before its next wait.
  delayed_work_time_ = delayed_work_time;
}

}  // namespace base
