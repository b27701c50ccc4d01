#include "base/activity_tracker.h"

#include "base/logging.h"

namespace base::activity_internal {

std::atomic<GlobalActivityTracker*> g_global_tracker{nullptr};

// No code in this program publishes a global tracker, so the scopes never get
// here; the per-thread recording arrives together with the tracker itself.
void PushActivity(const void*, uint8_t, uint64_t, uint64_t, bool) {
  NOTREACHED() << "activity recorded without a global tracker";
}

void PopActivity() {
  NOTREACHED() << "activity popped without a global tracker";
}

}  // namespace base::activity_internal
