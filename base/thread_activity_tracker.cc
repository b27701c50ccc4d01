#include "base/thread_activity_tracker.h"

#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "base/logging.h"
#include "base/threading/thread_name_registry.h"
#include "base/time.h"

namespace base {

struct ThreadActivityTracker::Header {
  // Written last when the header is made, so that a reader that sees it sees
  // the rest.
  std::atomic<uint32_t> cookie;
  uint32_t process_id;
  uint32_t thread_id;
  uint32_t reserved0;
  int64_t start_time;
  int64_t start_ticks;
  uint32_t stack_slots;
  std::atomic<uint32_t> current_depth;
  std::atomic<uint32_t> data_changed;
  uint32_t reserved1;
  char thread_name[32];
  uint8_t reserved2[8];
};

namespace {

// Raw performance-counter ticks: recording must stay cheap, and a reader
// compares them with the header's start ticks, taken the same way.
int64_t NowTicks() {
  LARGE_INTEGER counter;
  return QueryPerformanceCounter(&counter) ? counter.QuadPart : 0;
}

uint32_t SlotsForSize(size_t size) {
  return static_cast<uint32_t>((size - ThreadActivityTracker::kHeaderSize) /
                               ThreadActivityTracker::kEntrySize);
}

}  // namespace

ThreadActivityTracker::ThreadActivityTracker(void* base, size_t size) {
  static_assert(sizeof(Header) == kHeaderSize);
  static_assert(sizeof(ActivityEntry) == kEntrySize);
  static_assert(offsetof(ActivityEntry, activity_type) == 108);
  if (!base || size < kMinBlockSize) {
    LOG(ERROR) << "activity tracker block of " << size << " bytes is too small";
    return;
  }
  auto* header = static_cast<Header*>(base);
  const uint32_t slots = SlotsForSize(size);
  const uint32_t thread_id = ::GetCurrentThreadId();
  if (header->cookie.load(std::memory_order_acquire) == 0) {
    header->process_id = ::GetCurrentProcessId();
    header->thread_id = thread_id;
    header->start_time = Time::Now().ToInternalValue();
    header->start_ticks = NowTicks();
    header->stack_slots = slots;
    header->current_depth.store(0, std::memory_order_relaxed);
    header->data_changed.store(0, std::memory_order_relaxed);
    const char* name = ThreadNameRegistry::GetInstance()->GetName(thread_id);
    std::strncpy(header->thread_name, name, sizeof(header->thread_name) - 1);
    header->thread_name[sizeof(header->thread_name) - 1] = '\0';
    header->cookie.store(kHeaderCookie, std::memory_order_release);
  } else if (header->cookie.load(std::memory_order_relaxed) != kHeaderCookie ||
             header->process_id != ::GetCurrentProcessId() || header->thread_id != thread_id ||
             header->start_time == 0 || header->start_ticks == 0 || header->stack_slots != slots ||
             header->data_changed.load(std::memory_order_relaxed) != 0) {
    LOG(ERROR) << "activity tracker block belongs to another thread or is damaged";
    return;
  }
  header_ = header;
  stack_ = reinterpret_cast<ActivityEntry*>(static_cast<char*>(base) + kHeaderSize);
  stack_slots_ = slots;
}

ThreadActivityTracker::~ThreadActivityTracker() = default;

void ThreadActivityTracker::PushActivity(const void* origin, uint8_t type, uint64_t data0,
                                         uint64_t data1) {
  const uint32_t depth = header_->current_depth.load(std::memory_order_relaxed);
  if (depth < stack_slots_) {
    ActivityEntry& entry = stack_[depth];
    entry.time_ticks = NowTicks();
    entry.origin_address = reinterpret_cast<uintptr_t>(origin);
    entry.data[0] = data0;
    entry.data[1] = data1;
    entry.activity_type = type;
    entry.user_data = 0;
  }
  // Release: a reader that sees the new depth sees the entry.
  header_->current_depth.store(depth + 1, std::memory_order_release);
}

uint32_t ThreadActivityTracker::PopActivity() {
  const uint32_t depth = header_->current_depth.load(std::memory_order_relaxed);
  if (depth == 0) {
    LOG(ERROR) << "activity popped from an empty stack";
    return 0;
  }
  header_->current_depth.store(depth - 1, std::memory_order_release);
  header_->data_changed.store(0, std::memory_order_relaxed);
  // An activity entered past the slots was never recorded, and its entry
  // would lie beyond the block.
  if (depth - 1 >= stack_slots_)
    return 0;
  return std::atomic_ref<uint32_t>(stack_[depth - 1].user_data)
      .exchange(0, std::memory_order_relaxed);
}

// static
bool ThreadActivityTracker::CreateSnapshot(const void* base, size_t size,
                                           ActivitySnapshot* snapshot) {
  if (!base || size < kMinBlockSize)
    return false;
  const auto* header = static_cast<const Header*>(base);
  if (header->cookie.load(std::memory_order_acquire) != kHeaderCookie)
    return false;
  // The slots come from the block's size; a header that claims others is
  // damaged.
  const uint32_t slots = SlotsForSize(size);
  if (header->stack_slots != slots)
    return false;
  snapshot->process_id = header->process_id;
  snapshot->thread_id = header->thread_id;
  snapshot->start_time = header->start_time;
  snapshot->start_ticks = header->start_ticks;
  snapshot->thread_name.assign(header->thread_name,
                               strnlen(header->thread_name, sizeof(header->thread_name)));
  snapshot->activity_depth = header->current_depth.load(std::memory_order_acquire);
  const uint32_t recorded = std::min(snapshot->activity_depth, slots);
  const auto* entries =
      reinterpret_cast<const ActivityEntry*>(static_cast<const char*>(base) + kHeaderSize);
  snapshot->activity_stack.clear();
  snapshot->activity_stack.reserve(recorded);
  for (uint32_t i = 0; i < recorded; ++i) {
    ActivityEntry& copy = snapshot->activity_stack.emplace_back();
    std::memcpy(static_cast<void*>(&copy), &entries[i], sizeof(ActivityEntry));
  }
  return true;
}

}  // namespace base
