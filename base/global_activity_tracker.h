// The process-wide activity tracker: it hands each thread that enters an
// activity scope a ThreadActivityTracker in a block of its persistent memory
// segment, takes the block back when the thread ends and gives it to the next
// thread. Nothing in the installer publishes one; a program that wants its
// threads' activities readable from another process does, once.
#ifndef BASE_GLOBAL_ACTIVITY_TRACKER_H_
#define BASE_GLOBAL_ACTIVITY_TRACKER_H_

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "base/activity_tracker.h"
#include "base/metrics/persistent_memory_allocator.h"
#include "base/thread_activity_tracker.h"
#include "base/threading/lock.h"

namespace base {

class GlobalActivityTracker {
 public:
  using Reference = PersistentMemoryAllocator::Reference;

  static constexpr uint32_t kTypeIdActivityTracker = 0x5D7381B1;
  // Blocks kept for reuse; more are left unused in the segment.
  static constexpr size_t kMaxPooledBlocks = 100;

  // Publishes a tracker over |allocator| whose threads record up to
  // |stack_depth| nested activities. False (logged) when one exists already
  // or the allocator cannot hold a tracker.
  static bool CreateWithAllocator(std::unique_ptr<PersistentMemoryAllocator> allocator,
                                  uint32_t stack_depth);
  static GlobalActivityTracker* Get() {
    return activity_internal::g_global_tracker.load(std::memory_order_acquire);
  }
  // Unpublishes the tracker. Threads that still hold a tracker of it drop it
  // at their next scope; blocks stay in the segment.
  static std::unique_ptr<GlobalActivityTracker> ReleaseForTesting();

  GlobalActivityTracker(const GlobalActivityTracker&) = delete;
  GlobalActivityTracker& operator=(const GlobalActivityTracker&) = delete;
  ~GlobalActivityTracker();

  PersistentMemoryAllocator* allocator() { return allocator_.get(); }
  // The calling thread's tracker, or null.
  ThreadActivityTracker* GetTrackerForCurrentThread() const;
  // A tracker in a pooled or new block; null (counted) when no block is
  // left.
  ThreadActivityTracker* CreateTrackerForCurrentThread();
  ThreadActivityTracker* GetOrCreateTrackerForCurrentThread() {
    ThreadActivityTracker* tracker = GetTrackerForCurrentThread();
    return tracker ? tracker : CreateTrackerForCurrentThread();
  }
  int thread_tracker_count() const { return thread_tracker_count_.load(std::memory_order_relaxed); }

  // Takes back a user-data block a popped activity held.
  void ReleaseUserDataMemory(Reference ref);

  // Snapshots of every valid tracker block of |allocator|'s segment.
  static std::vector<ActivitySnapshot> ReadSnapshots(const PersistentMemoryAllocator& allocator);

 private:
  struct ThreadTrackerHolder;

  GlobalActivityTracker(std::unique_ptr<PersistentMemoryAllocator> allocator, uint32_t stack_depth);

  static void OnThreadExit(void* value);
  void ReturnTrackerMemory(ThreadTrackerHolder* holder);

  const std::unique_ptr<PersistentMemoryAllocator> allocator_;
  const size_t stack_memory_size_;
  // Holders of other generations belong to an earlier tracker.
  const uint32_t generation_;
  std::atomic<int> thread_tracker_count_{0};

  // Guards both pools.
  Lock lock_;
  std::vector<Reference> available_tracker_blocks_;
  std::vector<Reference> available_user_data_blocks_;
};

}  // namespace base

#endif  // BASE_GLOBAL_ACTIVITY_TRACKER_H_
