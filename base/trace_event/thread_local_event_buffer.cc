#include "base/trace_event/thread_local_event_buffer.h"

#include <windows.h>

#include "base/logging.h"
#include "base/string_printf.h"
#include "base/threading/thread_local_slot.h"
#include "base/trace_event/memory_dump_manager.h"
#include "base/trace_event/trace_event_memory_overhead.h"
#include "base/trace_event/trace_log.h"

namespace base::trace_event {
namespace {

ThreadLocalSlot& BufferSlot() {
  static ThreadLocalSlot* slot = [] {
    auto* reserved = new ThreadLocalSlot();
    reserved->Initialize(nullptr);
    return reserved;
  }();
  return *slot;
}

}  // namespace

// static
ThreadLocalEventBuffer* ThreadLocalEventBuffer::GetForCurrentThread() {
  ThreadLocalSlot& slot = BufferSlot();
  return slot.initialized() ? static_cast<ThreadLocalEventBuffer*>(slot.Get()) : nullptr;
}

ThreadLocalEventBuffer::ThreadLocalEventBuffer(TraceLog* trace_log)
    : trace_log_(trace_log),
      message_loop_(MessageLoop::Current()),
      generation_(trace_log->generation()) {
  message_loop_->AddDestructionObserver(this);
  MemoryDumpManager::Instance()->AddProvider(this, "ThreadLocalEventBuffer",
                                             message_loop_->task_runner());
  trace_log_->AddThreadMessageLoop(message_loop_);
  BufferSlot().Set(this);
}

ThreadLocalEventBuffer::~ThreadLocalEventBuffer() {
  message_loop_->RemoveDestructionObserver(this);
  MemoryDumpManager::Instance()->RemoveProvider(this);
  trace_log_->ReleaseThreadBuffer(message_loop_, generation_, chunk_index_, std::move(chunk_));
  if (GetForCurrentThread() == this)
    BufferSlot().Set(nullptr);
}

TraceEvent* ThreadLocalEventBuffer::AddTraceEvent(TraceEventHandle* handle) {
  if (chunk_ && chunk_->IsFull())
    trace_log_->ReturnThreadChunk(generation_, chunk_index_, std::move(chunk_));
  if (!chunk_)
    chunk_ = trace_log_->GetThreadChunk(&chunk_index_);
  if (!chunk_)
    return nullptr;
  return chunk_->AddTraceEvent(chunk_index_, handle);
}

TraceEvent* ThreadLocalEventBuffer::GetEventByHandle(TraceEventHandle handle) {
  if (!chunk_ || handle.chunk_seq != chunk_->seq() || handle.chunk_index != chunk_index_ ||
      handle.event_index >= chunk_->size()) {
    return nullptr;
  }
  return chunk_->GetEventAt(handle.event_index);
}

void ThreadLocalEventBuffer::WillDestroyCurrentMessageLoop() { delete this; }

bool ThreadLocalEventBuffer::WriteDump(const MemoryDumpArgs& /*args*/,
                                       ProcessMemoryDump* process_memory_dump) {
  if (!chunk_)
    return true;
  TraceEventMemoryOverhead overhead;
  chunk_->EstimateTraceMemoryOverhead(&overhead);
  overhead.DumpInto(
      FormatString("tracing/thread_%d", static_cast<int>(GetCurrentThreadId())).c_str(),
      process_memory_dump);
  return true;
}

}  // namespace base::trace_event
