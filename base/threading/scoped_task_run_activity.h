// ScopedTaskRunActivity: marks a running task in the activity tracker (origin
// = the posting program counter, data = the task's sequence number). Costs
// one load and a branch while no global tracker exists.
#ifndef BASE_THREADING_SCOPED_TASK_RUN_ACTIVITY_H_
#define BASE_THREADING_SCOPED_TASK_RUN_ACTIVITY_H_

#include <cstdint>

#include "base/activity_tracker.h"

namespace base {

class ScopedTaskRunActivity : public ScopedActivity {
 public:
  ScopedTaskRunActivity(const void* posted_from, uint64_t sequence_num)
      : ScopedActivity(posted_from, kActivityTaskRun, sequence_num, 0, /*create_tracker=*/true) {}
};

}  // namespace base

#endif  // BASE_THREADING_SCOPED_TASK_RUN_ACTIVITY_H_
