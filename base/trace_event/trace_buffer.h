// The store of trace-buffer chunks: writers take a chunk, fill it and give it
// back; the reader walks the chunks in order when the trace is flushed.
#ifndef BASE_TRACE_EVENT_TRACE_BUFFER_H_
#define BASE_TRACE_EVENT_TRACE_BUFFER_H_

#include <cstddef>
#include <memory>
#include <vector>

#include "base/trace_event/trace_buffer_chunk.h"
#include "base/trace_event/trace_event_handle.h"

namespace base::trace_event {

class TraceBuffer {
 public:
  virtual ~TraceBuffer() = default;
  // A chunk for a writer, or null when none can be handed out.
  virtual std::unique_ptr<TraceBufferChunk> GetChunk(size_t* index) = 0;
  virtual void ReturnChunk(size_t index, std::unique_ptr<TraceBufferChunk> chunk) = 0;
  virtual bool IsFull() const = 0;
  virtual size_t Size() const = 0;
  virtual size_t Capacity() const = 0;
  virtual TraceEvent* GetEventByHandle(TraceEventHandle handle) = 0;
  // The chunks in reading order; null after the last.
  virtual const TraceBufferChunk* NextChunk() = 0;
  virtual void EstimateTraceMemoryOverhead(TraceEventMemoryOverhead* overhead) = 0;

 protected:
  // The event |handle| names in |chunks|: its chunk must be present (not out
  // with a writer) and still carry the handle's sequence number.
  static TraceEvent* FindEventByHandle(std::vector<std::unique_ptr<TraceBufferChunk>>& chunks,
                                       TraceEventHandle handle) {
    if (handle.chunk_index >= chunks.size())
      return nullptr;
    TraceBufferChunk* chunk = chunks[handle.chunk_index].get();
    if (!chunk || chunk->seq() != handle.chunk_seq || handle.event_index >= chunk->size())
      return nullptr;
    return chunk->GetEventAt(handle.event_index);
  }
};

}  // namespace base::trace_event

#endif  // BASE_TRACE_EVENT_TRACE_BUFFER_H_
