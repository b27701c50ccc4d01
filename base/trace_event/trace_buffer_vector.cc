#include "base/trace_event/trace_buffer_vector.h"

namespace base::trace_event {

TraceBufferVector::TraceBufferVector(size_t max_chunks) : max_chunks_(max_chunks) {
  // The largest buffer reserves its list as it grows, not all at once.
  chunks_.reserve(max_chunks_ < 4096 ? max_chunks_ : 4096);
}

std::unique_ptr<TraceBufferChunk> TraceBufferVector::GetChunk(size_t* index) {
  // Fullness is the writer's test: the metadata written when recording stops
  // still gets chunks past the maximum.
  if (chunks_.size() > TraceEventHandle::kMaxChunkIndex)
    return nullptr;
  *index = chunks_.size();
  chunks_.push_back(nullptr);
  ++in_flight_chunk_count_;
  return std::make_unique<TraceBufferChunk>(static_cast<uint32_t>(*index) + 1);
}

void TraceBufferVector::ReturnChunk(size_t index, std::unique_ptr<TraceBufferChunk> chunk) {
  if (index >= chunks_.size() || chunks_[index])
    return;
  --in_flight_chunk_count_;
  chunks_[index] = std::move(chunk);
}

TraceEvent* TraceBufferVector::GetEventByHandle(TraceEventHandle handle) {
  return FindEventByHandle(chunks_, handle);
}

const TraceBufferChunk* TraceBufferVector::NextChunk() {
  while (current_iteration_index_ < chunks_.size()) {
    const TraceBufferChunk* chunk = chunks_[current_iteration_index_++].get();
    if (chunk)
      return chunk;
  }
  return nullptr;
}

void TraceBufferVector::EstimateTraceMemoryOverhead(TraceEventMemoryOverhead* overhead) {
  overhead->Add("TraceBufferVector", 1, max_chunks_ * sizeof(void*) + sizeof(*this),
                chunks_.size() * sizeof(void*) + sizeof(*this));
  for (auto& chunk : chunks_) {
    if (chunk)
      chunk->EstimateTraceMemoryOverhead(overhead);
  }
}

}  // namespace base::trace_event
