// CurrentTaskRunner: the task runner of the calling thread (its loop's, or a
// pool worker's while it runs a task), read from the thread's task-runner
// slot.
#ifndef BASE_THREADING_CURRENT_TASK_RUNNER_H_
#define BASE_THREADING_CURRENT_TASK_RUNNER_H_

#include "base/shared_ref.h"
#include "base/threading/ordered_task_runner.h"

namespace base {

class CurrentTaskRunner {
 public:
  // Null when the thread has none.
  static SharedRef<OrderedTaskRunner> Get();
  static bool IsSet();

  // Makes |runner| the thread's runner for the scope's lifetime (the
  // previous one comes back after). The scope does not keep |runner| alive.
  class Scope {
   public:
    explicit Scope(OrderedTaskRunner* runner);
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;
    ~Scope();

   private:
    void* previous_;
  };
};

}  // namespace base

#endif  // BASE_THREADING_CURRENT_TASK_RUNNER_H_
