// The queues of a MessageLoop: PendingTask (a task with its posting
// location, due time and sequence number), the FIFO TaskQueue and the
// DelayedTaskQueue ordered by due time, then sequence number.
#ifndef BASE_THREADING_PENDING_TASK_QUEUES_H_
#define BASE_THREADING_PENDING_TASK_QUEUES_H_

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "base/callback.h"
#include "base/code_location.h"
#include "base/time.h"

namespace base::internal {

struct PendingTask {
  Closure task;
  CodeLocation posted_from;
  // Null for an immediate task.
  MonotonicTime delayed_run_time;
  uint64_t sequence_num = 0;
  // Set only while the task flow is traced.
  MonotonicTime time_posted;
};

// A FIFO over a vector with a read position. The loop swaps a drained work
// queue with the incoming one; clearing keeps the capacity, so in a steady
// state the two vectors trade places without allocating.
class TaskQueue {
 public:
  bool empty() const { return read_ == tasks_.size(); }
  size_t size() const { return tasks_.size() - read_; }
  void push_back(PendingTask task) { tasks_.push_back(std::move(task)); }
  PendingTask& front() { return tasks_[read_]; }
  void pop_front() {
    if (++read_ == tasks_.size()) {
      // Keep the room of an ordinary batch, not of a rare flood.
      if (tasks_.capacity() > kRetainedCapacity)
        std::vector<PendingTask>().swap(tasks_);
      else
        tasks_.clear();
      read_ = 0;
    }
  }
  void swap(TaskQueue& other) {
    tasks_.swap(other.tasks_);
    std::swap(read_, other.read_);
  }
  auto begin() const { return tasks_.begin() + static_cast<std::ptrdiff_t>(read_); }
  auto end() const { return tasks_.end(); }

 private:
  static constexpr size_t kRetainedCapacity = 16384;

  std::vector<PendingTask> tasks_;
  size_t read_ = 0;
};

struct PendingTaskLater {
  bool operator()(const PendingTask& a, const PendingTask& b) const {
    if (a.delayed_run_time != b.delayed_run_time)
      return a.delayed_run_time > b.delayed_run_time;
    return a.sequence_num > b.sequence_num;
  }
};

// A binary heap whose earliest task can be moved out.
class DelayedTaskQueue {
 public:
  bool empty() const { return heap_.empty(); }
  size_t size() const { return heap_.size(); }
  const PendingTask& top() const { return heap_.front(); }
  void push(PendingTask task) {
    heap_.push_back(std::move(task));
    std::push_heap(heap_.begin(), heap_.end(), PendingTaskLater());
  }
  PendingTask take_top() {
    std::pop_heap(heap_.begin(), heap_.end(), PendingTaskLater());
    PendingTask task = std::move(heap_.back());
    heap_.pop_back();
    return task;
  }

 private:
  std::vector<PendingTask> heap_;
};

}  // namespace base::internal

#endif  // BASE_THREADING_PENDING_TASK_QUEUES_H_
