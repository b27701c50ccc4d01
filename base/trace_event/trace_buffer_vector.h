// A trace buffer that grows up to a maximum number of chunks and then
// reports full, which stops recording.
#ifndef BASE_TRACE_EVENT_TRACE_BUFFER_VECTOR_H_
#define BASE_TRACE_EVENT_TRACE_BUFFER_VECTOR_H_

#include <vector>

#include "base/trace_event/trace_buffer.h"

namespace base::trace_event {

class TraceBufferVector : public TraceBuffer {
 public:
  explicit TraceBufferVector(size_t max_chunks);

  std::unique_ptr<TraceBufferChunk> GetChunk(size_t* index) override;
  void ReturnChunk(size_t index, std::unique_ptr<TraceBufferChunk> chunk) override;
  bool IsFull() const override { return chunks_.size() >= max_chunks_; }
  size_t Size() const override { return chunks_.size() * TraceBufferChunk::kTraceBufferChunkSize; }
  size_t Capacity() const override { return max_chunks_ * TraceBufferChunk::kTraceBufferChunkSize; }
  TraceEvent* GetEventByHandle(TraceEventHandle handle) override;
  const TraceBufferChunk* NextChunk() override;
  void EstimateTraceMemoryOverhead(TraceEventMemoryOverhead* overhead) override;

 private:
  size_t in_flight_chunk_count_ = 0;
  size_t current_iteration_index_ = 0;
  size_t max_chunks_;
  std::vector<std::unique_ptr<TraceBufferChunk>> chunks_;
};

}  // namespace base::trace_event

#endif  // BASE_TRACE_EVENT_TRACE_BUFFER_VECTOR_H_
