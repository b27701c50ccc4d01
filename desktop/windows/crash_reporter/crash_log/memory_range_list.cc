#include "desktop/windows/crash_reporter/crash_log/memory_range_list.h"

#include <algorithm>

namespace crash_reporter {

MemoryRangeList::MemoryRangeList() = default;
MemoryRangeList::~MemoryRangeList() = default;

void MemoryRangeList::Add(uint64_t start, uint64_t end) {
  if (start >= end)
    return;
  // The first range that could touch [start, end) is the last one starting
  // at or before |start|.
  auto it = ranges_.upper_bound(start);
  if (it != ranges_.begin()) {
    auto previous = std::prev(it);
    if (previous->second >= start)
      it = previous;
  }
  while (it != ranges_.end() && it->first <= end) {
    start = std::min(start, it->first);
    end = std::max(end, it->second);
    total_size_ -= it->second - it->first;
    it = ranges_.erase(it);
  }
  ranges_.emplace(start, end);
  total_size_ += end - start;
}

void MemoryRangeList::Clear() {
  ranges_.clear();
  total_size_ = 0;
}

}  // namespace crash_reporter
