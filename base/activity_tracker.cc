#include "base/activity_tracker.h"

#include "base/global_activity_tracker.h"
#include "base/logging.h"

namespace base::activity_internal {

std::atomic<GlobalActivityTracker*> g_global_tracker{nullptr};

bool PushActivity(const void* origin, uint8_t type, uint64_t data0, uint64_t data1,
                  bool create_tracker) {
  GlobalActivityTracker* global = GlobalActivityTracker::Get();
  if (!global)
    return false;
  ThreadActivityTracker* tracker = create_tracker ? global->GetOrCreateTrackerForCurrentThread()
                                                  : global->GetTrackerForCurrentThread();
  if (!tracker)
    return false;
  tracker->PushActivity(origin, type, data0, data1);
  return true;
}

void PopActivity() {
  // The tracker may have been unpublished since the push: the thread's
  // tracker then belongs to no one and there is nothing to pop.
  GlobalActivityTracker* global = GlobalActivityTracker::Get();
  if (!global)
    return;
  ThreadActivityTracker* tracker = global->GetTrackerForCurrentThread();
  if (!tracker)
    return;
  if (const uint32_t user_data = tracker->PopActivity())
    global->ReleaseUserDataMemory(user_data);
}

}  // namespace base::activity_internal
