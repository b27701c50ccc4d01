#include "base/threading/message_loop_task_runner.h"

#include <utility>

#include "base/logging.h"
#include "base/threading/loop_diagnostics.h"

namespace base {

MessageLoopTaskRunner::MessageLoopTaskRunner(MessagePump* pump, DWORD thread_id,
                                             bool always_schedule_work)
    : pump_(pump), always_schedule_work_(always_schedule_work), thread_id_(thread_id) {}

bool MessageLoopTaskRunner::PostDelayedTask(const CodeLocation& from_here, Closure task,
                                            TimeSpan delay) {
  if (task.is_null()) {
    LOG(ERROR) << "Null task posted from " << from_here.ToString();
    return false;
  }
  internal::PendingTask pending;
  pending.task = std::move(task);
  pending.posted_from = from_here;
  if (delay > TimeSpan())
    pending.delayed_run_time = MonotonicTime::Now() + delay;
  if (loop_diagnostics::IsTaskFlowTraced()) [[unlikely]]
    pending.time_posted = MonotonicTime::Now();
  uint64_t sequence_num;
  {
    AutoLock hold(lock_);
    if (pump_) {
      sequence_num = next_sequence_num_++;
      pending.sequence_num = sequence_num;
      incoming_queue_.push_back(std::move(pending));
      if (incoming_queue_.size() == 1)
        has_incoming_.store(true, std::memory_order_release);
      if (!loop_scheduled_ || always_schedule_work_) {
        loop_scheduled_ = true;
        // Under the lock: the pump cannot go away meanwhile.
        pump_->ScheduleWork();
      }
    } else {
      sequence_num = UINT64_MAX;
    }
  }
  if (sequence_num == UINT64_MAX) {
    // |pending| is destroyed here, outside the lock: its bound arguments'
    // destructors may post again.
    LOG(ERROR) << "Task posted from " << from_here.ToString()
               << " to a message loop that no longer exists";
    return false;
  }
  LOOP_TRACE_POST_TASK(sequence_num);
  return true;
}

bool MessageLoopTaskRunner::RunsTasksOnCurrentThread() const {
  return GetCurrentThreadId() == thread_id_;
}

bool MessageLoopTaskRunner::ReloadWorkQueue(internal::TaskQueue* work_queue) {
  if (!has_incoming_.load(std::memory_order_acquire))
    return false;
  AutoLock hold(lock_);
  incoming_queue_.swap(*work_queue);
  has_incoming_.store(false, std::memory_order_relaxed);
  return !work_queue->empty();
}

bool MessageLoopTaskRunner::PrepareToWait() {
  AutoLock hold(lock_);
  if (!incoming_queue_.empty()) {
    loop_scheduled_ = true;
    return false;
  }
  loop_scheduled_ = false;
  return true;
}

void MessageLoopTaskRunner::Detach() {
  internal::TaskQueue leftovers;
  {
    AutoLock hold(lock_);
    pump_ = nullptr;
    incoming_queue_.swap(leftovers);
  }
  // Destroyed outside the lock (posts from destructors fail cleanly).
}

}  // namespace base
