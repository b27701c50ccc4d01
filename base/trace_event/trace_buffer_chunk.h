// 64 event slots that one writer fills in order, numbered by a sequence
// number so that handles to events of a recycled chunk stop matching.
#ifndef BASE_TRACE_EVENT_TRACE_BUFFER_CHUNK_H_
#define BASE_TRACE_EVENT_TRACE_BUFFER_CHUNK_H_

#include <cstddef>
#include <cstdint>
#include <memory>

#include "base/trace_event/trace_event.h"
#include "base/trace_event/trace_event_handle.h"
#include "base/trace_event/trace_event_memory_overhead.h"

namespace base::trace_event {

class TraceBufferChunk {
 public:
  static constexpr size_t kTraceBufferChunkSize = 64;

  explicit TraceBufferChunk(uint32_t seq) : seq_(seq) {}
  TraceBufferChunk(const TraceBufferChunk&) = delete;
  TraceBufferChunk& operator=(const TraceBufferChunk&) = delete;

  void Reset(uint32_t new_seq);
  // The next free slot (its index in |*event_index|), or null when full.
  TraceEvent* AddTraceEvent(size_t* event_index);
  // The same, with |handle| (when given) naming the slot; |chunk_index| is
  // this chunk's place in the trace buffer.
  TraceEvent* AddTraceEvent(size_t chunk_index, TraceEventHandle* handle);
  bool IsFull() const { return next_free_ == kTraceBufferChunkSize; }

  uint32_t seq() const { return seq_; }
  size_t size() const { return next_free_; }
  TraceEvent* GetEventAt(size_t index) { return &chunk_[index]; }
  const TraceEvent* GetEventAt(size_t index) const { return &chunk_[index]; }

  void EstimateTraceMemoryOverhead(TraceEventMemoryOverhead* overhead);

 private:
  size_t next_free_ = 0;
  std::unique_ptr<TraceEventMemoryOverhead> cached_overhead_estimate_;
  TraceEvent chunk_[kTraceBufferChunkSize];
  uint32_t seq_;
};

}  // namespace base::trace_event

#endif  // BASE_TRACE_EVENT_TRACE_BUFFER_CHUNK_H_
