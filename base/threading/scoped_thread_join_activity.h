// ScopedThreadJoinActivity: marks a wait for another thread's end in the
// activity tracker. Costs one load and a branch while no tracker exists.
#ifndef BASE_THREADING_SCOPED_THREAD_JOIN_ACTIVITY_H_
#define BASE_THREADING_SCOPED_THREAD_JOIN_ACTIVITY_H_

#include <cstdint>

#include "base/activity_tracker.h"

namespace base {

class ScopedThreadJoinActivity : public ScopedActivity {
 public:
  ScopedThreadJoinActivity(const void* origin, uint32_t thread_id)
      : ScopedActivity(origin, kActivityThreadJoin, thread_id, 0, /*create_tracker=*/true) {}
};

}  // namespace base

#endif  // BASE_THREADING_SCOPED_THREAD_JOIN_ACTIVITY_H_
