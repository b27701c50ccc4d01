// TaskRunner: somewhere tasks can be posted. Counted (SharedRef), so that a
// runner outlives the thread or loop it feeds: posting to a runner whose loop
// is gone returns false and destroys the task.
#ifndef BASE_THREADING_TASK_RUNNER_H_
#define BASE_THREADING_TASK_RUNNER_H_

#include "base/callback.h"
#include "base/code_location.h"
#include "base/ref_counted_thread_safe.h"
#include "base/time.h"

namespace base {

class TaskRunner : public RefCountedThreadSafe<TaskRunner> {
 public:
  // Runs |task| soon on the runner's thread. False (and logged) when the
  // runner no longer runs tasks; |task| is then destroyed.
  bool PostTask(const CodeLocation& from_here, Closure task);
  // Runs |task| no sooner than |delay| from now (a negative delay counts as
  // zero).
  virtual bool PostDelayedTask(const CodeLocation& from_here, Closure task, TimeSpan delay) = 0;
  virtual bool RunsTasksOnCurrentThread() const = 0;

 protected:
  friend class RefCountedThreadSafe<TaskRunner>;
  TaskRunner() = default;
  virtual ~TaskRunner() = default;
};

}  // namespace base

#endif  // BASE_THREADING_TASK_RUNNER_H_
