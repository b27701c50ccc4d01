// Activity scopes: each records, in the global activity tracker's per-thread
// stack, what a thread is doing (running a task, acquiring a lock, waiting for
// an event, joining a thread, waiting for a process), so that another process
// could read it after a hang or crash. Without a global tracker (the
// installer creates none) every scope costs one load and a branch.
#ifndef BASE_ACTIVITY_TRACKER_H_
#define BASE_ACTIVITY_TRACKER_H_

#include <atomic>
#include <cstdint>

namespace base {

class GlobalActivityTracker;

namespace activity_internal {
// The process-wide tracker (GlobalActivityTracker publishes it).
extern std::atomic<GlobalActivityTracker*> g_global_tracker;
// The slow path, only reached when a tracker exists. True when the
// activity went onto a thread tracker and must be popped.
bool PushActivity(const void* origin, uint8_t type, uint64_t data0, uint64_t data1,
                  bool create_tracker);
void PopActivity();

// The recording functions, installed by the global tracker before it is
// published. Going through them keeps the tracker's code (and the segment
// and histogram code it uses) out of programs that never create one.
using PushFunction = bool (*)(const void* origin, uint8_t type, uint64_t data0, uint64_t data1,
                              bool create_tracker);
using PopFunction = void (*)();
void SetRecordingFunctions(PushFunction push, PopFunction pop);
}  // namespace activity_internal

enum ActivityType : uint8_t {
  kActivityTaskRun = 0x10,
  kActivityLockAcquire = 0x20,
  kActivityEventWait = 0x30,
  kActivityThreadJoin = 0x41,
  kActivityProcessWait = 0x51,
};

class ScopedActivity {
 public:
  ScopedActivity(const void* origin, uint8_t type, uint64_t data0, uint64_t data1,
                 bool create_tracker) {
    if (!TrackerExists()) [[likely]]
      return;
    Enter(origin, type, data0, data1, create_tracker);
  }
  ScopedActivity(const ScopedActivity&) = delete;
  ScopedActivity& operator=(const ScopedActivity&) = delete;
  ~ScopedActivity() {
    if (pushed_) [[unlikely]]
      activity_internal::PopActivity();
  }

 protected:
  // For scopes whose data cost something to compute: they test
  // TrackerExists() first and Enter() only then.
  ScopedActivity() = default;
  static bool TrackerExists() {
    return activity_internal::g_global_tracker.load(std::memory_order_relaxed) != nullptr;
  }
  void Enter(const void* origin, uint8_t type, uint64_t data0, uint64_t data1,
             bool create_tracker) {
    pushed_ = activity_internal::PushActivity(origin, type, data0, data1, create_tracker);
  }

 private:
  bool pushed_ = false;
};

// Only uses a tracker that the thread already has; never creates one.
class ScopedLockAcquireActivity : public ScopedActivity {
 public:
  ScopedLockAcquireActivity(const void* origin, const void* lock)
      : ScopedActivity(origin, kActivityLockAcquire, reinterpret_cast<uintptr_t>(lock), 0,
                       /*create_tracker=*/false) {}
};

class ScopedEventWaitActivity : public ScopedActivity {
 public:
  ScopedEventWaitActivity(const void* origin, const void* event)
      : ScopedActivity(origin, kActivityEventWait, reinterpret_cast<uintptr_t>(event), 0, true) {}
};

}  // namespace base

#endif  // BASE_ACTIVITY_TRACKER_H_
