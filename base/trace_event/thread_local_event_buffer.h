// The event buffer of one thread that runs a message loop: events go into
// its own chunk without the trace log's lock; the chunk goes back to the
// trace buffer when it is full, when the buffer goes away (the loop ends or
// the trace is flushed) or is dropped when tracing moved on meanwhile.
#ifndef BASE_TRACE_EVENT_THREAD_LOCAL_EVENT_BUFFER_H_
#define BASE_TRACE_EVENT_THREAD_LOCAL_EVENT_BUFFER_H_

#include <cstddef>
#include <cstdint>
#include <memory>

#include "base/threading/message_loop.h"
#include "base/trace_event/memory_dump_provider.h"
#include "base/trace_event/trace_buffer_chunk.h"
#include "base/trace_event/trace_event_handle.h"

namespace base::trace_event {

class TraceLog;

class ThreadLocalEventBuffer : public MessageLoop::DestructionObserver, public MemoryDumpProvider {
 public:
  // Registers with the calling thread's loop, which must exist.
  explicit ThreadLocalEventBuffer(TraceLog* trace_log);
  ThreadLocalEventBuffer(const ThreadLocalEventBuffer&) = delete;
  ThreadLocalEventBuffer& operator=(const ThreadLocalEventBuffer&) = delete;
  ~ThreadLocalEventBuffer() override;

  // The calling thread's buffer, or null.
  static ThreadLocalEventBuffer* GetForCurrentThread();

  // A slot for a new event (null when the trace buffer gives no chunk).
  TraceEvent* AddTraceEvent(TraceEventHandle* handle);
  // The event of |handle| when it is in this buffer's current chunk.
  TraceEvent* GetEventByHandle(TraceEventHandle handle);

  uint32_t generation() const { return generation_; }

  void WillDestroyCurrentMessageLoop() override;
  bool WriteDump(const MemoryDumpArgs& args, ProcessMemoryDump* process_memory_dump) override;

 private:
  TraceLog* trace_log_;
  MessageLoop* message_loop_;
  std::unique_ptr<TraceBufferChunk> chunk_;
  size_t chunk_index_ = 0;
  uint32_t generation_;
};

}  // namespace base::trace_event

#endif  // BASE_TRACE_EVENT_THREAD_LOCAL_EVENT_BUFFER_H_
