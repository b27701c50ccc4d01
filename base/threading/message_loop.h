// MessageLoop: the task loop of one thread. Constructing it makes it the
// calling thread's loop (MessageLoop::Current()); LoopRunner runs it.
//
// Tasks arrive through task_runner() from any thread: they are queued under
// a lock and swapped in batches into the loop's work queue; delayed tasks
// wait in a queue ordered by due time, then posting order. Tasks from one
// poster run in the order posted. A task never runs inside another task,
// except when a task or window procedure enters a native modal loop (message
// box, dialog) on a UI loop, where posted tasks keep running, or starts a
// nested LoopRunner.
//
// The task runner outlives the loop: once the loop is destroyed, posting
// returns false and destroys the task.
#ifndef BASE_THREADING_MESSAGE_LOOP_H_
#define BASE_THREADING_MESSAGE_LOOP_H_

#include <windows.h>

#include <cstdint>
#include <memory>

#include "base/callback.h"
#include "base/code_location.h"
#include "base/observer_list.h"
#include "base/shared_ref.h"
#include "base/threading/message_pump.h"
#include "base/threading/ordered_task_runner.h"
#include "base/threading/pending_task_queues.h"

namespace base {

class LoopRunner;
class MessageLoopTaskRunner;

class MessageLoop : private MessagePump::Delegate {
 public:
  enum Type {
    TYPE_DEFAULT = 0,
    TYPE_UI = 1,
    TYPE_IO = 3,
  };

  class DestructionObserver {
   public:
    // The loop is about to be destroyed; it is still the current loop.
    virtual void WillDestroyCurrentMessageLoop() = 0;

   protected:
    virtual ~DestructionObserver() = default;
  };

  // The calling thread must not have a loop yet.
  explicit MessageLoop(Type type = TYPE_DEFAULT);
  MessageLoop(const MessageLoop&) = delete;
  MessageLoop& operator=(const MessageLoop&) = delete;
  // Tells the destruction observers, detaches the task runner and destroys
  // the tasks that did not run.
  virtual ~MessageLoop();

  // The calling thread's loop, or null.
  static MessageLoop* Current();

  // Adding an observer twice keeps one entry.
  void AddDestructionObserver(DestructionObserver* observer);
  void RemoveDestructionObserver(DestructionObserver* observer);

  const SharedRef<OrderedTaskRunner>& task_runner() const { return task_runner_ref_; }

  Type type() const { return type_; }
  DWORD thread_id() const { return thread_id_; }

  // Whether a LoopRunner is running this loop now.
  bool is_running() const { return current_runner_ != nullptr; }
  // Whether a task is running now.
  bool is_running_task() const { return task_depth_ > 0; }

  // Whether no task is ready to run now (delayed tasks not yet due don't
  // count). Loop thread only; for tests.
  bool IsIdleForTesting();

 protected:
  MessagePump* pump() const { return pump_.get(); }

 private:
  friend class LoopRunner;

  // MessagePump::Delegate:
  bool DoWork() override;
  bool DoDelayedWork(MonotonicTime* next_delayed_work_time) override;
  bool DoIdleWork() override;
  bool PrepareToWait() override;
  bool HasIncomingTasks() const override;

  // Whether tasks may start now: not inside a running task, unless a nested
  // run or a native modal loop allows it.
  bool CanRunTasks() const;
  void RunTask(internal::PendingTask* task);
  // Destroys the queued tasks; true when there were any.
  bool DeletePendingTasks();

  const Type type_;
  const DWORD thread_id_;
  std::unique_ptr<MessagePump> pump_;
  SharedRef<MessageLoopTaskRunner> task_runner_;
  SharedRef<OrderedTaskRunner> task_runner_ref_;
  internal::TaskQueue work_queue_;
  internal::DelayedTaskQueue delayed_work_queue_;
  // A recent reading of the clock, so that delayed tasks not yet due cost no
  // clock read per loop iteration.
  MonotonicTime recent_time_;
  ObserverList<DestructionObserver> destruction_observers_;
  LoopRunner* current_runner_ = nullptr;
  int task_depth_ = 0;
};

}  // namespace base

#endif  // BASE_THREADING_MESSAGE_LOOP_H_
