#include "base/metrics/sample_iterator.h"

#include "base/binary_message.h"

namespace base {

SampleIterator::~SampleIterator() = default;

bool SampleIterator::GetBucketIndex(size_t* /*index*/) const { return false; }

SerializedSampleIterator::SerializedSampleIterator(BinaryMessageReader* reader) : reader_(reader) {
  Next();
}

bool SerializedSampleIterator::Done() const { return done_; }

void SerializedSampleIterator::Next() {
  if (done_)
    return;
  // A message cut inside a triple ends the walk; the triples before it stand.
  if (!reader_->ReadInt(&minimum_) || !reader_->ReadInt(&maximum_) || !reader_->ReadInt(&count_)) {
    done_ = true;
  }
}

void SerializedSampleIterator::Get(HistogramSample* minimum, int64_t* maximum,
                                   HistogramCount* count) const {
  if (minimum)
    *minimum = minimum_;
  if (maximum)
    *maximum = maximum_;
  if (count)
    *count = count_;
}

}  // namespace base
