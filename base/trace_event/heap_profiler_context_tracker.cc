#include "base/trace_event/heap_profiler_context_tracker.h"

#include <atomic>

#include "base/threading/lock.h"
#include "base/threading/thread_local_slot.h"

namespace base::trace_event {
namespace {

std::atomic<uint32_t> g_heap_profiling_mode{kHeapProfilingModeDisabled};
ThreadLocalSlot g_tracker_slot;
Lock g_slot_lock;

// Stored while the tracker is being built, so that a nested request sees it.
void* const kTrackerBeingBuilt = reinterpret_cast<void*>(~uintptr_t{0});

void DestroyTracker(void* value) {
  if (value != kTrackerBeingBuilt)
    delete static_cast<HeapProfilerContextTracker*>(value);
}

}  // namespace

// static
HeapProfilingMode HeapProfilerContextTracker::GetHeapProfilingMode() {
  return static_cast<HeapProfilingMode>(g_heap_profiling_mode.load(std::memory_order_relaxed));
}

// static
void HeapProfilerContextTracker::SetHeapProfilingMode(HeapProfilingMode mode) {
  g_heap_profiling_mode.store(mode, std::memory_order_relaxed);
}

// static
bool HeapProfilerContextTracker::InitializeThreadLocalSlot() {
  AutoLock hold(g_slot_lock);
  return g_tracker_slot.initialized() || g_tracker_slot.Initialize(&DestroyTracker);
}

// static
HeapProfilerContextTracker* HeapProfilerContextTracker::GetForCurrentThread() {
  if (!g_tracker_slot.initialized())
    return nullptr;
  void* value = g_tracker_slot.Get();
  if (value == kTrackerBeingBuilt)
    return nullptr;
  if (!value) {
    if (!g_tracker_slot.Set(kTrackerBeingBuilt))
      return nullptr;
    value = new HeapProfilerContextTracker();
    g_tracker_slot.Set(value);
  }
  return static_cast<HeapProfilerContextTracker*>(value);
}

HeapProfilerContextTracker::HeapProfilerContextTracker() {
  pseudo_stack_.reserve(kMaxStackDepth);
  task_contexts_.reserve(kMaxTaskDepth);
}

bool HeapProfilerContextTracker::PushPseudoStackFrame(const Frame& frame) {
  if (pseudo_stack_.size() >= kMaxStackDepth)
    return false;
  pseudo_stack_.push_back(frame);
  return true;
}

void HeapProfilerContextTracker::PopPseudoStackFrame() {
  if (!pseudo_stack_.empty())
    pseudo_stack_.pop_back();
}

bool HeapProfilerContextTracker::PopPseudoStackFrameIfTop(const Frame& frame) {
  if (pseudo_stack_.empty() || !(pseudo_stack_.back() == frame))
    return false;
  pseudo_stack_.pop_back();
  return true;
}

bool HeapProfilerContextTracker::PushTaskContext(const void* program_counter) {
  if (task_contexts_.size() >= kMaxTaskDepth)
    return false;
  task_contexts_.push_back(program_counter);
  return true;
}

void HeapProfilerContextTracker::PopTaskContext() {
  if (!task_contexts_.empty())
    task_contexts_.pop_back();
}

}  // namespace base::trace_event
