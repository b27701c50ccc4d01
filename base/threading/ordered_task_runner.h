// OrderedTaskRunner: a TaskRunner whose tasks run one at a time, in the order
// they were posted (delayed ones ordered by due time, then by posting order),
// on one thread.
#ifndef BASE_THREADING_ORDERED_TASK_RUNNER_H_
#define BASE_THREADING_ORDERED_TASK_RUNNER_H_

#include "base/bind.h"
#include "base/threading/task_runner.h"

namespace base {

namespace internal {
template <typename T>
void DeleteObject(const T* object) {
  delete object;
}
}  // namespace internal

class OrderedTaskRunner : public TaskRunner {
 public:
  // Deletes |object| on the runner's thread. When the post fails (the loop
  // is gone) the object is leaked rather than deleted on the wrong thread.
  template <typename T>
  bool DeleteSoon(const CodeLocation& from_here, const T* object) {
    return PostTask(from_here, Bind(&internal::DeleteObject<T>, object));
  }

 protected:
  OrderedTaskRunner() = default;
  ~OrderedTaskRunner() override = default;
};

}  // namespace base

#endif  // BASE_THREADING_ORDERED_TASK_RUNNER_H_
