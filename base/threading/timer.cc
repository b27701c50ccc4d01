#include "base/threading/timer.h"

#include <utility>

#include "base/bind.h"
#include "base/logging.h"
#include "base/threading/current_task_runner.h"

namespace base {

Timer::Timer(Mode mode) : mode_(mode) {}

Timer::~Timer() {
  Stop();
  user_task_.Reset();
  task_runner_.reset();
}

void Timer::Start(const CodeLocation& posted_from, TimeSpan delay, Closure task) {
  Stop();
  if (task.is_null()) {
    LOG(ERROR) << "Timer started without a task at " << posted_from.ToString();
    return;
  }
  SharedRef<OrderedTaskRunner> runner = CurrentTaskRunner::Get();
  if (!runner) {
    LOG(ERROR) << "Timer started on a thread without a task runner at " << posted_from.ToString();
    return;
  }
  posted_from_ = posted_from;
  delay_ = delay < TimeSpan() ? TimeSpan() : delay;
  user_task_ = std::move(task);
  task_runner_ = std::move(runner);
  PostNext();
}

void Timer::Stop() {
  weak_factory_.InvalidateWeakRefs();
  is_running_ = false;
}

void Timer::Reset() {
  if (user_task_.is_null() || !task_runner_)
    return;
  weak_factory_.InvalidateWeakRefs();
  PostNext();
}

void Timer::PostNext() {
  is_running_ = task_runner_->PostDelayedTask(
      posted_from_, Bind(&Timer::OnScheduledTask, weak_factory_.GetWeakRef()), delay_);
}

void Timer::OnScheduledTask() {
  if (mode_ == Mode::kRepeating)
    PostNext();
  else
    is_running_ = false;
  // The task may stop, restart or destroy the timer: run a copy and touch
  // nothing afterwards.
  Closure task = user_task_;
  task.Run();
}

}  // namespace base
