// A trace buffer of a fixed number of chunks that recycles the oldest chunk
// when a writer needs a new one; it never reports full.
#ifndef BASE_TRACE_EVENT_TRACE_BUFFER_RING_BUFFER_H_
#define BASE_TRACE_EVENT_TRACE_BUFFER_RING_BUFFER_H_

#include <vector>

#include "base/trace_event/trace_buffer.h"

namespace base::trace_event {

class TraceBufferRingBuffer : public TraceBuffer {
 public:
  explicit TraceBufferRingBuffer(size_t max_chunks);

  // Null when every chunk is out with a writer.
  std::unique_ptr<TraceBufferChunk> GetChunk(size_t* index) override;
  void ReturnChunk(size_t index, std::unique_ptr<TraceBufferChunk> chunk) override;
  bool IsFull() const override { return false; }
  size_t Size() const override { return chunks_.size() * TraceBufferChunk::kTraceBufferChunkSize; }
  size_t Capacity() const override { return max_chunks_ * TraceBufferChunk::kTraceBufferChunkSize; }
  TraceEvent* GetEventByHandle(TraceEventHandle handle) override;
  const TraceBufferChunk* NextChunk() override;
  void EstimateTraceMemoryOverhead(TraceEventMemoryOverhead* overhead) override;

 private:
  size_t NextQueueIndex(size_t index) const { return index + 1 == queue_.size() ? 0 : index + 1; }

  size_t max_chunks_;
  std::vector<std::unique_ptr<TraceBufferChunk>> chunks_;
  // Indexes of the chunks that can be recycled, oldest at the head.
  std::vector<size_t> queue_;
  size_t queue_head_ = 0;
  size_t queue_tail_;
  size_t current_iteration_index_ = 0;
  uint32_t current_chunk_seq_ = 1;
};

}  // namespace base::trace_event

#endif  // BASE_TRACE_EVENT_TRACE_BUFFER_RING_BUFFER_H_
