// SequencedWorkerPool: a fixed number of worker threads that run posted
// tasks, optionally in sequences. Tasks of one sequence run one at a time,
// in order (by due time, then posting order); different sequences and
// unsequenced tasks run in parallel on the other workers. Workers are
// started as work arrives, up to the maximum.
//
//   SharedRef<SequencedWorkerPool> pool = MakeShared<SequencedWorkerPool>(2, "PrefsTaskPool");
//   pool->PostNamedSequencedWorkerTask("C:\\prefs.json", FROM_HERE, write);
//   ...
//   pool->Shutdown();
//
// Shutdown. Each task says what a shutdown does to it:
//   kBlockShutdown       Shutdown() waits until it has run (the default for
//                        immediate tasks: writes must not be lost);
//   kSkipOnShutdown      dropped when not started; Shutdown() waits for it
//                        when it is running (always the case for delayed
//                        tasks);
//   kContinueOnShutdown  dropped when not started; Shutdown() does not wait
//                        for it when it is running.
// After Shutdown() new tasks are refused, except as many blocking ones as
// Shutdown() was told to allow. Destroying the pool shuts it down and joins
// the workers (waiting for a running continue-on-shutdown task).
//
// While a sequenced task runs, CurrentTaskRunner gives its sequence's
// runner, so timers and replies work inside sequences.
#ifndef BASE_THREADING_SEQUENCED_WORKER_POOL_H_
#define BASE_THREADING_SEQUENCED_WORKER_POOL_H_

#include <cstddef>
#include <string>
#include <string_view>

#include "base/callback.h"
#include "base/code_location.h"
#include "base/shared_ref.h"
#include "base/threading/ordered_task_runner.h"
#include "base/threading/task_runner.h"
#include "base/time.h"

namespace base {

class SequencedWorkerPool : public TaskRunner {
 public:
  enum class ShutdownBehavior {
    kContinueOnShutdown,
    kSkipOnShutdown,
    kBlockShutdown,
  };

  // Names a sequence of one pool. The default token is no sequence.
  class SequenceToken {
   public:
    SequenceToken() = default;
    bool IsValid() const { return id_ != 0; }
    bool operator==(const SequenceToken& other) const { return id_ == other.id_; }
    int id() const { return id_; }

   private:
    friend class SequencedWorkerPool;
    explicit SequenceToken(int id) : id_(id) {}
    int id_ = 0;
  };

  class Inner;

  // Workers are named |thread_name_prefix| + "Worker" + a number. At least
  // one worker.
  SequencedWorkerPool(size_t max_threads, std::string thread_name_prefix);

  // A new sequence, distinct from every other of this pool.
  SequenceToken GetSequenceToken();
  // The sequence of |name|: the same token for the same name.
  SequenceToken GetNamedSequenceToken(std::string_view name);

  // A runner whose tasks go to |token|'s sequence with |behavior| (delayed
  // ones always skip on shutdown). It outlives the pool; once the pool is
  // shut down its posts fail.
  SharedRef<OrderedTaskRunner> GetSequencedTaskRunner(
      SequenceToken token, ShutdownBehavior behavior = ShutdownBehavior::kBlockShutdown);

  // Posting. Each returns false (and logs) when the task is refused (the
  // pool is shut down, or a null task); the task is then destroyed.
  bool PostWorkerTask(const CodeLocation& from_here, Closure task);
  bool PostWorkerTaskWithShutdownBehavior(const CodeLocation& from_here, Closure task,
                                          ShutdownBehavior behavior);
  bool PostSequencedWorkerTask(SequenceToken token, const CodeLocation& from_here, Closure task);
  bool PostNamedSequencedWorkerTask(std::string_view name, const CodeLocation& from_here,
                                    Closure task);
  bool PostSequencedWorkerTaskWithShutdownBehavior(SequenceToken token,
                                                   const CodeLocation& from_here, Closure task,
                                                   ShutdownBehavior behavior);
  bool PostDelayedSequencedWorkerTask(SequenceToken token, const CodeLocation& from_here,
                                      Closure task, TimeSpan delay);

  // TaskRunner: an unsequenced task (delayed ones skip on shutdown).
  bool PostDelayedTask(const CodeLocation& from_here, Closure task, TimeSpan delay) override;
  // Whether the calling thread is one of this pool's workers running a task.
  bool RunsTasksOnCurrentThread() const override;
  // Whether the calling thread runs a task of |token|'s sequence now.
  bool IsRunningSequenceOnCurrentThread(SequenceToken token) const;

  // Refuses new tasks (except |max_new_blocking_tasks_after_shutdown|
  // blocking ones), drops the tasks that need not run and waits for those
  // that must (see the top of this file). The time waited is recorded in
  // "SequencedWorkerPool.ShutdownDelayTime". Not from a worker. Later calls
  // do nothing.
  void Shutdown(int max_new_blocking_tasks_after_shutdown = 0);
  bool IsShutdownInProgress() const;

  // The number of worker threads started so far. For tests.
  size_t GetWorkerCountForTesting() const;

 protected:
  ~SequencedWorkerPool() override;

 private:
  const SharedRef<Inner> inner_;
};

}  // namespace base

#endif  // BASE_THREADING_SEQUENCED_WORKER_POOL_H_
