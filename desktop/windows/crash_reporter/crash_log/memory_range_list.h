// The memory a crash log dumps: ranges sorted by start, pairwise disjoint and
// not touching, so that the list always covers exactly the union of what was
// added and its total measures the dump's size.
#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_LOG_MEMORY_RANGE_LIST_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_LOG_MEMORY_RANGE_LIST_H_

#include <cstdint>
#include <map>

namespace crash_reporter {

class MemoryRangeList {
 public:
  MemoryRangeList();
  MemoryRangeList(const MemoryRangeList&) = delete;
  MemoryRangeList& operator=(const MemoryRangeList&) = delete;
  ~MemoryRangeList();

  // Adds [start, end), merged with every range it overlaps or touches.
  // An empty range adds nothing.
  void Add(uint64_t start, uint64_t end);
  void Clear();

  // Start to end, in order.
  const std::map<uint64_t, uint64_t>& ranges() const { return ranges_; }
  uint64_t total_size() const { return total_size_; }

 private:
  std::map<uint64_t, uint64_t> ranges_;
  uint64_t total_size_ = 0;
};

}  // namespace crash_reporter

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_LOG_MEMORY_RANGE_LIST_H_
