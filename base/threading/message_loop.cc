#include "base/threading/message_loop.h"

#include <utility>

#include "base/logging.h"
#include "base/threading/loop_diagnostics.h"
#include "base/threading/loop_runner.h"
#include "base/threading/message_loop_task_runner.h"
#include "base/threading/message_pump_default.h"
#include "base/threading/message_pump_io.h"
#include "base/threading/message_pump_ui.h"
#include "base/trace_event/heap_profiler_context_tracker.h"
#include "base/threading/scoped_task_run_activity.h"
#include "base/threading/thread_local_slot.h"

namespace base {

namespace {

std::unique_ptr<MessagePump> CreatePump(MessageLoop::Type type) {
  switch (type) {
    case MessageLoop::TYPE_UI: return std::make_unique<UiMessagePump>();
    case MessageLoop::TYPE_IO: return std::make_unique<IoMessagePump>();
    case MessageLoop::TYPE_DEFAULT: break;
  }
  return std::make_unique<DefaultMessagePump>();
}

}  // namespace

MessageLoop::MessageLoop(Type type)
    : type_(type), thread_id_(GetCurrentThreadId()), pump_(CreatePump(type)) {
  CHECK(Current() == nullptr) << "the thread already has a MessageLoop";
  task_runner_ = SharedRef<MessageLoopTaskRunner>(
      new MessageLoopTaskRunner(pump_.get(), thread_id_, type == TYPE_UI));
  task_runner_ref_ = task_runner_;
  GetCurrentLoopSlot().Set(this);
  GetCurrentTaskRunnerSlot().Set(static_cast<OrderedTaskRunner*>(task_runner_.get()));
}

MessageLoop::~MessageLoop() {
  CHECK(current_runner_ == nullptr) << "a MessageLoop destroyed while it runs";
  destruction_observers_.Notify(&DestructionObserver::WillDestroyCurrentMessageLoop);
  task_runner_->Detach();
  // Destroying a task may post another (which now fails) or destroy objects
  // that own tasks; a few passes take all.
  for (int pass = 0; pass < 100 && DeletePendingTasks(); ++pass) {
  }
  GetCurrentTaskRunnerSlot().Set(nullptr);
  GetCurrentLoopSlot().Set(nullptr);
}

// static
MessageLoop* MessageLoop::Current() {
  return static_cast<MessageLoop*>(GetCurrentLoopSlot().Get());
}

void MessageLoop::AddDestructionObserver(DestructionObserver* observer) {
  destruction_observers_.AddObserver(observer);
}

void MessageLoop::RemoveDestructionObserver(DestructionObserver* observer) {
  destruction_observers_.RemoveObserver(observer);
}

bool MessageLoop::IsIdleForTesting() {
  if (work_queue_.empty())
    task_runner_->ReloadWorkQueue(&work_queue_);
  for (const internal::PendingTask& pending : work_queue_) {
    if (pending.delayed_run_time.is_null() || pending.delayed_run_time <= MonotonicTime::Now())
      return false;
  }
  return delayed_work_queue_.empty() ||
         delayed_work_queue_.top().delayed_run_time > MonotonicTime::Now();
}

bool MessageLoop::CanRunTasks() const {
  return current_runner_ != nullptr && task_depth_ == current_runner_->task_depth_at_start_;
}

bool MessageLoop::DoWork() {
  if (!CanRunTasks())
    return false;
  for (;;) {
    if (work_queue_.empty() && !task_runner_->ReloadWorkQueue(&work_queue_))
      return false;
    internal::PendingTask pending = std::move(work_queue_.front());
    work_queue_.pop_front();
    if (pending.delayed_run_time.is_null()) [[likely]] {
      RunTask(&pending);
      return true;
    }
    bool earliest = delayed_work_queue_.empty() ||
                    internal::PendingTaskLater()(delayed_work_queue_.top(), pending);
    MonotonicTime run_time = pending.delayed_run_time;
    delayed_work_queue_.push(std::move(pending));
    if (earliest)
      pump_->ScheduleDelayedWork(run_time);
  }
}

bool MessageLoop::DoDelayedWork(MonotonicTime* next_delayed_work_time) {
  if (delayed_work_queue_.empty()) {
    *next_delayed_work_time = MonotonicTime();
    return false;
  }
  MonotonicTime next_run_time = delayed_work_queue_.top().delayed_run_time;
  if (!CanRunTasks()) {
    *next_delayed_work_time = next_run_time;
    return false;
  }
  if (next_run_time > recent_time_) {
    recent_time_ = MonotonicTime::Now();
    if (next_run_time > recent_time_) {
      *next_delayed_work_time = next_run_time;
      return false;
    }
  }
  internal::PendingTask pending = delayed_work_queue_.take_top();
  *next_delayed_work_time =
      delayed_work_queue_.empty() ? MonotonicTime() : delayed_work_queue_.top().delayed_run_time;
  RunTask(&pending);
  return true;
}

bool MessageLoop::DoIdleWork() {
  if (current_runner_ && current_runner_->quit_when_idle_ && CanRunTasks())
    pump_->Quit();
  return false;
}

bool MessageLoop::PrepareToWait() { return task_runner_->PrepareToWait(); }

bool MessageLoop::HasIncomingTasks() const { return task_runner_->HasIncomingTasks(); }

void MessageLoop::RunTask(internal::PendingTask* pending) {
  ++task_depth_;
  {
    ScopedTaskRunActivity activity(__builtin_return_address(0),
                                   pending->posted_from.program_counter(), pending->sequence_num);
    trace_event::ScopedTaskContext task_context(pending->posted_from.program_counter());
    LOOP_TRACE_TASK_FLOW_IN(pending->sequence_num,
                            pending->time_posted.is_null()
                                ? 0
                                : (MonotonicTime::Now() - pending->time_posted).InMicroseconds());
    LOOP_TRACE_RUN_TASK(pending->posted_from);
    pending->task.RunUnguarded();
  }
  --task_depth_;
}

bool MessageLoop::DeletePendingTasks() {
  bool deleted = false;
  while (!work_queue_.empty()) {
    internal::PendingTask pending = std::move(work_queue_.front());
    work_queue_.pop_front();
    deleted = true;
  }
  while (!delayed_work_queue_.empty()) {
    internal::PendingTask pending = delayed_work_queue_.take_top();
    deleted = true;
  }
  return deleted;
}

}  // namespace base
