// MessageLoopTaskRunner: the task runner of one MessageLoop and the loop's
// incoming queue. Posting appends under the lock and wakes the pump only
// when the loop is not already scheduled to look at the queue; the loop
// takes the whole batch in one swap. The loop detaches it on destruction,
// after which posts fail.
#ifndef BASE_THREADING_MESSAGE_LOOP_TASK_RUNNER_H_
#define BASE_THREADING_MESSAGE_LOOP_TASK_RUNNER_H_

#include <windows.h>

#include <atomic>
#include <cstdint>

#include "base/threading/lock.h"
#include "base/threading/message_pump.h"
#include "base/threading/ordered_task_runner.h"
#include "base/threading/pending_task_queues.h"

namespace base {

class MessageLoopTaskRunner : public OrderedTaskRunner {
 public:
  // With |always_schedule_work| every post reaches the pump (which keeps at
  // most one wake-up outstanding): a UI loop may be inside a native modal
  // loop, which only the pump's wake-up makes run tasks.
  MessageLoopTaskRunner(MessagePump* pump, DWORD thread_id, bool always_schedule_work);

  // OrderedTaskRunner:
  bool PostDelayedTask(const CodeLocation& from_here, Closure task, TimeSpan delay) override;
  bool RunsTasksOnCurrentThread() const override;

  // Loop side. Moves the incoming tasks into |work_queue| (empty). False
  // when there were none.
  bool ReloadWorkQueue(internal::TaskQueue* work_queue);
  // The pump is about to sleep: true when nothing is incoming, and from
  // then on the next post wakes the pump; false when tasks arrived.
  bool PrepareToWait();
  bool HasIncomingTasks() const { return has_incoming_.load(std::memory_order_acquire); }
  // From now on posts fail; the pump is no longer touched.
  void Detach();

 private:
  ~MessageLoopTaskRunner() override = default;

  Lock lock_;
  // Null once detached.
  MessagePump* pump_;
  internal::TaskQueue incoming_queue_;
  uint64_t next_sequence_num_ = 0;
  // False while the pump sleeps (or is about to, or has not run yet)
  // without a wake-up on its way: only then does a post wake it.
  bool loop_scheduled_ = false;
  const bool always_schedule_work_;
  // Whether |incoming_queue_| is non-empty; read without the lock.
  // On a cache line of its own: the sleeping-soon loop polls it.
  alignas(64) std::atomic<bool> has_incoming_{false};
  const DWORD thread_id_;
};

}  // namespace base

#endif  // BASE_THREADING_MESSAGE_LOOP_TASK_RUNNER_H_
