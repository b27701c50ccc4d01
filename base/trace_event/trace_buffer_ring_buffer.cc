#include "base/trace_event/trace_buffer_ring_buffer.h"

namespace base::trace_event {

TraceBufferRingBuffer::TraceBufferRingBuffer(size_t max_chunks)
    : max_chunks_(max_chunks), queue_(max_chunks + 1), queue_tail_(max_chunks) {
  chunks_.reserve(max_chunks_);
  for (size_t i = 0; i < max_chunks_; ++i)
    queue_[i] = i;
}

std::unique_ptr<TraceBufferChunk> TraceBufferRingBuffer::GetChunk(size_t* index) {
  // With the queue empty every chunk is out with a writer; handing out the
  // head anyway would give one chunk two owners.
  if (queue_head_ == queue_tail_)
    return nullptr;
  *index = queue_[queue_head_];
  queue_head_ = NextQueueIndex(queue_head_);
  current_iteration_index_ = queue_head_;
  if (*index >= chunks_.size())
    chunks_.resize(*index + 1);
  std::unique_ptr<TraceBufferChunk> chunk = std::move(chunks_[*index]);
  if (chunk)
    chunk->Reset(current_chunk_seq_++);
  else
    chunk = std::make_unique<TraceBufferChunk>(current_chunk_seq_++);
  return chunk;
}

void TraceBufferRingBuffer::ReturnChunk(size_t index, std::unique_ptr<TraceBufferChunk> chunk) {
  if (index >= chunks_.size())
    return;
  chunks_[index] = std::move(chunk);
  queue_[queue_tail_] = index;
  queue_tail_ = NextQueueIndex(queue_tail_);
}

TraceEvent* TraceBufferRingBuffer::GetEventByHandle(TraceEventHandle handle) {
  return FindEventByHandle(chunks_, handle);
}

const TraceBufferChunk* TraceBufferRingBuffer::NextChunk() {
  while (current_iteration_index_ != queue_tail_) {
    const size_t chunk_index = queue_[current_iteration_index_];
    current_iteration_index_ = NextQueueIndex(current_iteration_index_);
    if (chunk_index < chunks_.size() && chunks_[chunk_index])
      return chunks_[chunk_index].get();
  }
  return nullptr;
}

void TraceBufferRingBuffer::EstimateTraceMemoryOverhead(TraceEventMemoryOverhead* overhead) {
  overhead->Add("TraceBufferRingBuffer", sizeof(*this));
  for (size_t i = queue_head_; i != queue_tail_; i = NextQueueIndex(i)) {
    const size_t chunk_index = queue_[i];
    if (chunk_index < chunks_.size() && chunks_[chunk_index])
      chunks_[chunk_index]->EstimateTraceMemoryOverhead(overhead);
  }
}

}  // namespace base::trace_event
