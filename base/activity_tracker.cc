#include "base/activity_tracker.h"

namespace base::activity_internal {

std::atomic<GlobalActivityTracker*> g_global_tracker{nullptr};

namespace {

std::atomic<PushFunction> g_push{nullptr};
std::atomic<PopFunction> g_pop{nullptr};

}  // namespace

void SetRecordingFunctions(PushFunction push, PopFunction pop) {
  g_push.store(push, std::memory_order_release);
  g_pop.store(pop, std::memory_order_release);
}

bool PushActivity(const void* origin, uint8_t type, uint64_t data0, uint64_t data1,
                  bool create_tracker) {
  PushFunction push = g_push.load(std::memory_order_acquire);
  return push && push(origin, type, data0, data1, create_tracker);
}

void PopActivity() {
  if (PopFunction pop = g_pop.load(std::memory_order_acquire))
    pop();
}

}  // namespace base::activity_internal
