#include "base/global_activity_tracker.h"

#include <windows.h>

#include <cstring>
#include <utility>

#include "base/logging.h"
#include "base/metrics/histogram_macros.h"
#include "base/threading/thread_local_slot.h"

namespace base {

struct GlobalActivityTracker::ThreadTrackerHolder {
  ThreadTrackerHolder(void* memory, size_t size, Reference ref, uint32_t generation)
      : tracker(memory, size), ref(ref), generation(generation) {}

  ThreadActivityTracker tracker;
  const Reference ref;
  // 0 once the holder is being given back.
  std::atomic<uint32_t> generation;
};

namespace {

std::atomic<uint32_t> g_next_generation{1};

// The slot is reserved once for the process; its destructor gives a thread's
// block back when the thread ends.
ThreadLocalSlot& TrackerSlot() {
  static ThreadLocalSlot slot;
  return slot;
}

bool PushToCurrentThread(const void* origin, uint8_t type, uint64_t data0, uint64_t data1,
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

void PopFromCurrentThread() {
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

}  // namespace

GlobalActivityTracker::GlobalActivityTracker(std::unique_ptr<PersistentMemoryAllocator> allocator,
                                             uint32_t stack_depth)
    : allocator_(std::move(allocator)),
      stack_memory_size_(ThreadActivityTracker::SizeForStackDepth(stack_depth)),
      generation_(g_next_generation.fetch_add(1, std::memory_order_relaxed)) {}

GlobalActivityTracker::~GlobalActivityTracker() = default;

// static
bool GlobalActivityTracker::CreateWithAllocator(
    std::unique_ptr<PersistentMemoryAllocator> allocator, uint32_t stack_depth) {
  if (!allocator || !allocator->IsValid() || allocator->IsReadOnly()) {
    LOG(ERROR) << "activity tracker needs a writable persistent memory segment";
    return false;
  }
  const size_t block_size = ThreadActivityTracker::SizeForStackDepth(stack_depth);
  // A tracker lives in one block, and no block crosses a page.
  if (block_size < ThreadActivityTracker::kMinBlockSize ||
      block_size + PersistentMemoryAllocator::kBlockHeaderSize > allocator->page_size()) {
    LOG(ERROR) << "activity tracker stack depth " << stack_depth << " does not fit a block";
    return false;
  }
  static const bool slot_ready = TrackerSlot().Initialize(&GlobalActivityTracker::OnThreadExit);
  if (!slot_ready)
    return false;
  activity_internal::SetRecordingFunctions(&PushToCurrentThread, &PopFromCurrentThread);
  auto* tracker = new GlobalActivityTracker(std::move(allocator), stack_depth);
  GlobalActivityTracker* expected = nullptr;
  if (!activity_internal::g_global_tracker.compare_exchange_strong(expected, tracker,
                                                                   std::memory_order_acq_rel)) {
    LOG(ERROR) << "a global activity tracker exists already";
    delete tracker;
    return false;
  }
  return true;
}

// static
std::unique_ptr<GlobalActivityTracker> GlobalActivityTracker::ReleaseForTesting() {
  return std::unique_ptr<GlobalActivityTracker>(
      activity_internal::g_global_tracker.exchange(nullptr, std::memory_order_acq_rel));
}

ThreadActivityTracker* GlobalActivityTracker::GetTrackerForCurrentThread() const {
  if (!TrackerSlot().initialized())
    return nullptr;
  auto* holder = static_cast<ThreadTrackerHolder*>(TrackerSlot().Get());
  if (!holder || holder->generation.load(std::memory_order_relaxed) != generation_)
    return nullptr;
  return &holder->tracker;
}

ThreadActivityTracker* GlobalActivityTracker::CreateTrackerForCurrentThread() {
  // A holder of an earlier tracker (or one being given back) is dropped; its
  // block belongs to a segment this tracker does not own.
  if (auto* stale = static_cast<ThreadTrackerHolder*>(TrackerSlot().Get())) {
    const uint32_t generation = stale->generation.load(std::memory_order_relaxed);
    if (generation == generation_)
      return &stale->tracker;
    // Generation 0: the thread is ending and its exit handler owns the
    // holder; no new tracker for it.
    if (generation == 0)
      return nullptr;
    TrackerSlot().Set(nullptr);
    delete stale;
  }

  Reference ref = 0;
  void* memory = nullptr;
  {
    AutoLock lock(lock_);
    if (!available_tracker_blocks_.empty()) {
      ref = available_tracker_blocks_.back();
      available_tracker_blocks_.pop_back();
      memory = allocator_->GetBlockData(ref, kTypeIdActivityTracker,
                                        static_cast<uint32_t>(stack_memory_size_));
      if (memory)
        std::memset(memory, 0, stack_memory_size_);
    } else {
      ref = allocator_->Allocate(stack_memory_size_, kTypeIdActivityTracker);
      memory = allocator_->GetBlockData(ref, kTypeIdActivityTracker,
                                        static_cast<uint32_t>(stack_memory_size_));
      if (memory) {
        std::memset(memory, 0, stack_memory_size_);
        // Readers in other processes find trackers through the queue.
        allocator_->MakeIterable(ref);
      }
    }
  }

  if (!memory) {
    HISTOGRAM_COUNTS("ActivityTracker.ThreadTrackers.MemLimitTrackerCount",
                     thread_tracker_count_.load(std::memory_order_relaxed), 1000);
    return nullptr;
  }
  auto* holder = new ThreadTrackerHolder(memory, stack_memory_size_, ref, generation_);
  if (!holder->tracker.IsValid() || !TrackerSlot().Set(holder)) {
    delete holder;
    AutoLock lock(lock_);
    available_tracker_blocks_.push_back(ref);
    return nullptr;
  }
  const int count = thread_tracker_count_.fetch_add(1, std::memory_order_relaxed) + 1;
  HISTOGRAM_LINEAR("ActivityTracker.ThreadTrackers.Count", count, 100, 101);
  return &holder->tracker;
}

void GlobalActivityTracker::ReleaseUserDataMemory(Reference ref) {
  AutoLock lock(lock_);
  if (available_user_data_blocks_.size() < kMaxPooledBlocks)
    available_user_data_blocks_.push_back(ref);
}

void GlobalActivityTracker::ReturnTrackerMemory(ThreadTrackerHolder* holder) {
  thread_tracker_count_.fetch_sub(1, std::memory_order_relaxed);
  // A reader must not take the ended thread for a live one: the block is
  // cleared now, not only when it is reused.
  if (void* memory = allocator_->GetBlockData(holder->ref, kTypeIdActivityTracker,
                                              static_cast<uint32_t>(stack_memory_size_))) {
    std::memset(memory, 0, stack_memory_size_);
  }
  AutoLock lock(lock_);
  if (available_tracker_blocks_.size() < kMaxPooledBlocks)
    available_tracker_blocks_.push_back(holder->ref);
}

// static
void GlobalActivityTracker::OnThreadExit(void* value) {
  auto* holder = static_cast<ThreadTrackerHolder*>(value);
  const uint32_t generation = holder->generation.exchange(0, std::memory_order_relaxed);
  // With the generation cleared the lock below records nothing into the
  // block being given back.
  GlobalActivityTracker* tracker = Get();
  if (tracker && tracker->generation_ == generation)
    tracker->ReturnTrackerMemory(holder);
  delete holder;
}

// static
std::vector<ActivitySnapshot> GlobalActivityTracker::ReadSnapshots(
    const PersistentMemoryAllocator& allocator) {
  std::vector<ActivitySnapshot> snapshots;
  PersistentMemoryAllocator::Iterator iterator(&allocator);
  while (Reference ref = iterator.GetNextOfType(kTypeIdActivityTracker)) {
    const uint32_t size = allocator.GetAllocSize(ref);
    const void* block = allocator.GetBlockData(ref, kTypeIdActivityTracker, size);
    ActivitySnapshot snapshot;
    if (block && ThreadActivityTracker::CreateSnapshot(block, size, &snapshot))
      snapshots.push_back(std::move(snapshot));
  }
  return snapshots;
}

}  // namespace base
