// Timer: runs a Callback on the starting thread's task runner after a delay,
// again and again at that interval (a repeating timer, the default) or once.
//
//   Timer timer;
//   timer.Start(FROM_HERE, TimeSpan::FromSeconds(1), Bind(&Poll));
//
// Use a timer on one thread: the one that started it. Its tasks are posted
// with the CodeLocation given to Start(). Destruction stops the timer and
// releases the callback and the task runner.
#ifndef BASE_THREADING_TIMER_H_
#define BASE_THREADING_TIMER_H_

#include "base/callback.h"
#include "base/code_location.h"
#include "base/shared_ref.h"
#include "base/threading/ordered_task_runner.h"
#include "base/time.h"
#include "base/weak_ref.h"

namespace base {

class Timer {
 public:
  enum class Mode { kRepeating, kOneShot };

  explicit Timer(Mode mode = Mode::kRepeating);
  Timer(const Timer&) = delete;
  Timer& operator=(const Timer&) = delete;
  ~Timer();

  // (Re)starts the timer with |task| every |delay| (a negative delay counts
  // as zero). Not started (logged) when the calling thread has no task
  // runner or |task| is null.
  void Start(const CodeLocation& posted_from, TimeSpan delay, Closure task);
  // Cancels the pending run. The callback is kept for Reset().
  void Stop();
  // Restarts the delay from now with the held callback (also after Stop()).
  // Nothing when no callback is held.
  void Reset();

  bool IsRunning() const { return is_running_; }
  TimeSpan GetCurrentDelay() const { return delay_; }
  Mode mode() const { return mode_; }

 private:
  void PostNext();
  // The posted task; does nothing once the run was stopped or reset.
  void OnScheduledTask();

  const Mode mode_;
  CodeLocation posted_from_;
  TimeSpan delay_;
  Closure user_task_;
  SharedRef<OrderedTaskRunner> task_runner_;
  bool is_running_ = false;
  // Invalidated by every stop and restart, so that only the latest posted
  // task counts.
  WeakRefFactory<Timer> weak_factory_{this};
};

}  // namespace base

#endif  // BASE_THREADING_TIMER_H_
