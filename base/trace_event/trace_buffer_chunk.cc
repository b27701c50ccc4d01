#include "base/trace_event/trace_buffer_chunk.h"

namespace base::trace_event {

void TraceBufferChunk::Reset(uint32_t new_seq) {
  for (size_t i = 0; i < next_free_; ++i)
    chunk_[i].Reset();
  next_free_ = 0;
  seq_ = new_seq;
  cached_overhead_estimate_.reset();
}

TraceEvent* TraceBufferChunk::AddTraceEvent(size_t* event_index) {
  if (IsFull())
    return nullptr;
  *event_index = next_free_++;
  return &chunk_[*event_index];
}

TraceEvent* TraceBufferChunk::AddTraceEvent(size_t chunk_index, TraceEventHandle* handle) {
  size_t event_index = 0;
  TraceEvent* event = AddTraceEvent(&event_index);
  if (event && handle) {
    handle->chunk_seq = seq_;
    handle->chunk_index = static_cast<uint32_t>(chunk_index);
    handle->event_index = static_cast<uint32_t>(event_index);
  }
  return event;
}

void TraceBufferChunk::EstimateTraceMemoryOverhead(TraceEventMemoryOverhead* overhead) {
  if (!cached_overhead_estimate_) {
    cached_overhead_estimate_ = std::make_unique<TraceEventMemoryOverhead>();
    cached_overhead_estimate_->Add("TraceBufferChunk", 24);
  }
  const size_t estimated = cached_overhead_estimate_->GetCount(kOverheadTraceEvent);
  // A full chunk never changes again: its estimate is complete.
  if (IsFull() && estimated == kTraceBufferChunkSize) {
    overhead->Update(*cached_overhead_estimate_);
    return;
  }
  for (size_t i = estimated; i < next_free_; ++i)
    chunk_[i].EstimateTraceMemoryOverhead(cached_overhead_estimate_.get());
  if (IsFull()) {
    cached_overhead_estimate_->Add(kOverheadSelf, sizeof(TraceEventMemoryOverhead));
  } else {
    overhead->Add("TraceEvent (unused)", 1,
                  (kTraceBufferChunkSize - next_free_) * sizeof(TraceEvent),
                  (kTraceBufferChunkSize - next_free_) * sizeof(TraceEvent));
  }
  overhead->Update(*cached_overhead_estimate_);
}

}  // namespace base::trace_event
