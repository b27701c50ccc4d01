// Per-thread heap-profiler context: a pseudo stack of the trace events the
// thread is inside and a stack of the tasks it runs. Touched only while heap
// profiling is on (the switch "enable-heap-profiling").
#ifndef BASE_TRACE_EVENT_HEAP_PROFILER_CONTEXT_TRACKER_H_
#define BASE_TRACE_EVENT_HEAP_PROFILER_CONTEXT_TRACKER_H_

#include <cstddef>
#include <cstdint>
#include <vector>

namespace base::trace_event {

// 0 off; 1 the pseudo stack of trace events is kept.
enum HeapProfilingMode : uint32_t {
  kHeapProfilingModeDisabled = 0,
  kHeapProfilingModePseudoStack = 1
};

class HeapProfilerContextTracker {
 public:
  static constexpr size_t kMaxStackDepth = 128;
  static constexpr size_t kMaxTaskDepth = 16;

  struct Frame {
    const char* category = nullptr;
    const char* name = nullptr;
    bool operator==(const Frame&) const = default;
  };

  static HeapProfilingMode GetHeapProfilingMode();
  static void SetHeapProfilingMode(HeapProfilingMode mode);
  // Reserves the thread-local slot (once); false when it cannot be reserved.
  static bool InitializeThreadLocalSlot();

  // The calling thread's tracker, built on first use; null while it is being
  // built on this thread (an allocation made meanwhile asks again) or when
  // the slot is not reserved.
  static HeapProfilerContextTracker* GetForCurrentThread();

  HeapProfilerContextTracker();

  // Both pushes report whether they pushed, so that callers pop only what
  // they pushed.
  bool PushPseudoStackFrame(const Frame& frame);
  void PopPseudoStackFrame();
  // Pops only when the top frame is |frame|.
  bool PopPseudoStackFrameIfTop(const Frame& frame);
  const std::vector<Frame>& pseudo_stack() const { return pseudo_stack_; }

  bool PushTaskContext(const void* program_counter);
  void PopTaskContext();
  const std::vector<const void*>& task_contexts() const { return task_contexts_; }

  // While not 0 the thread's allocations are not attributed.
  uint32_t ignore_counter() const { return ignore_counter_; }
  void BeginIgnore() { ++ignore_counter_; }
  void EndIgnore() { --ignore_counter_; }

 private:
  std::vector<Frame> pseudo_stack_;
  std::vector<const void*> task_contexts_;
  uint32_t ignore_counter_ = 0;
};

// Around one task run: while heap profiling is on, the task's posting
// location is the thread's current task context. Pops only what it pushed.
class ScopedTaskContext {
 public:
  explicit ScopedTaskContext(const void* program_counter) {
    if (HeapProfilerContextTracker::GetHeapProfilingMode() == kHeapProfilingModeDisabled) [[likely]]
      return;
    tracker_ = HeapProfilerContextTracker::GetForCurrentThread();
    if (tracker_ && !tracker_->PushTaskContext(program_counter))
      tracker_ = nullptr;
  }
  ScopedTaskContext(const ScopedTaskContext&) = delete;
  ScopedTaskContext& operator=(const ScopedTaskContext&) = delete;
  ~ScopedTaskContext() {
    if (tracker_)
      tracker_->PopTaskContext();
  }

 private:
  HeapProfilerContextTracker* tracker_ = nullptr;
};

}  // namespace base::trace_event

#endif  // BASE_TRACE_EVENT_HEAP_PROFILER_CONTEXT_TRACKER_H_
