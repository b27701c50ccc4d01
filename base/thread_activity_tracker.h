// One thread's stack of activities, kept in a block of a persistent memory
// segment so that another process can read what the thread was doing. Only
// the owning thread writes it; a reader takes a snapshot and checks it.
//
// Block layout: an 88-byte header, then as many 120-byte entries as fit.
#ifndef BASE_THREAD_ACTIVITY_TRACKER_H_
#define BASE_THREAD_ACTIVITY_TRACKER_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace base {

struct ActivityEntry {
  // Performance-counter ticks when the activity began.
  int64_t time_ticks;
  uint64_t origin_address;
  uint64_t data[2];
  uint8_t reserved[72];
  // A user-data block of the global tracker's pool; 0 for none.
  uint32_t user_data;
  uint8_t activity_type;
  uint8_t padding[11];
};

// What a reader found in one tracker block.
struct ActivitySnapshot {
  uint32_t process_id = 0;
  uint32_t thread_id = 0;
  int64_t start_time = 0;
  // Performance-counter ticks when the tracker was made.
  int64_t start_ticks = 0;
  std::string thread_name;
  // The depth the thread reached, which may exceed the recorded entries.
  uint32_t activity_depth = 0;
  // The innermost activity last.
  std::vector<ActivityEntry> activity_stack;
};

class ThreadActivityTracker {
 public:
  static constexpr uint32_t kHeaderCookie = 0xC0029B26;
  static constexpr size_t kHeaderSize = 88;
  static constexpr size_t kEntrySize = 120;
  // Two entries at least; a smaller block gives no tracker.
  static constexpr size_t kMinBlockSize = kHeaderSize + 2 * kEntrySize;

  // Over |size| bytes at |base|. Zero memory gets a new header for the
  // calling thread; otherwise the header must be the calling thread's and
  // match the size. Check IsValid().
  ThreadActivityTracker(void* base, size_t size);
  ThreadActivityTracker(const ThreadActivityTracker&) = delete;
  ThreadActivityTracker& operator=(const ThreadActivityTracker&) = delete;
  ~ThreadActivityTracker();

  bool IsValid() const { return header_ != nullptr; }
  uint32_t stack_slots() const { return stack_slots_; }

  static size_t SizeForStackDepth(uint32_t stack_depth) {
    return kHeaderSize + stack_depth * kEntrySize;
  }

  // Records the activity while the depth is below the slots; the depth
  // grows in any case, so deeper nesting is counted without being recorded.
  void PushActivity(const void* origin, uint8_t type, uint64_t data0, uint64_t data1);
  // Leaves the innermost activity. Its user-data reference (when not 0) is
  // returned.
  uint32_t PopActivity();

  // A checked copy of the tracker block at |base|: false when it holds no
  // valid header. Never writes to the block.
  static bool CreateSnapshot(const void* base, size_t size, ActivitySnapshot* snapshot);

 private:
  struct Header;

  Header* header_ = nullptr;
  ActivityEntry* stack_ = nullptr;
  uint32_t stack_slots_ = 0;
};

}  // namespace base

#endif  // BASE_THREAD_ACTIVITY_TRACKER_H_
