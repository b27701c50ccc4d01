// ScopedTaskRunActivity: marks a running task in the activity tracker
// (origin = the code that runs it, data = the task's posting program counter
// and its sequence number). Costs one load and a branch while no global
// tracker exists.
#ifndef BASE_THREADING_SCOPED_TASK_RUN_ACTIVITY_H_
#define BASE_THREADING_SCOPED_TASK_RUN_ACTIVITY_H_

#include <cstdint>

#include "base/activity_tracker.h"

namespace base {

class ScopedTaskRunActivity : public ScopedActivity {
 public:
  // |sequence_num| is 0 where the runner numbers no tasks.
  ScopedTaskRunActivity(const void* origin, const void* posted_from, uint64_t sequence_num)
      : ScopedActivity(origin, kActivityTaskRun, reinterpret_cast<uintptr_t>(posted_from),
                       sequence_num, /*create_tracker=*/true) {}
};

}  // namespace base

#endif  // BASE_THREADING_SCOPED_TASK_RUN_ACTIVITY_H_
