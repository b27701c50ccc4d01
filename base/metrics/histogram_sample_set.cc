#include "base/metrics/histogram_sample_set.h"

#include "base/binary_message.h"
#include "base/logging.h"
#include "base/metrics/sample_iterator.h"

namespace base {

HistogramSampleSet::~HistogramSampleSet() = default;

void HistogramSampleSet::IncreaseSumAndCount(int64_t sum, HistogramCount count) {
  meta_->sum.fetch_add(sum, std::memory_order_relaxed);
  meta_->redundant_count.fetch_add(count, std::memory_order_relaxed);
}

bool HistogramSampleSet::Add(const HistogramSampleSet& other) {
  IncreaseSumAndCount(other.sum(), other.redundant_count());
  std::unique_ptr<SampleIterator> iter = other.CreateIterator();
  return AddSubtract(iter.get(), ADD);
}

bool HistogramSampleSet::AddSerialized(BinaryMessageReader* reader) {
  int64_t sum = 0;
  HistogramCount redundant_count = 0;
  if (!reader->ReadInt64(&sum) || !reader->ReadInt(&redundant_count)) {
    LOG(ERROR) << "serialized samples lack their sum or count";
    return false;
  }
  IncreaseSumAndCount(sum, redundant_count);
  SerializedSampleIterator iter(reader);
  return AddSubtract(&iter, ADD);
}

bool HistogramSampleSet::Subtract(const HistogramSampleSet& other) {
  // Negation in unsigned arithmetic: the counters wrap like the originals.
  IncreaseSumAndCount(
      static_cast<int64_t>(0ull - static_cast<uint64_t>(other.sum())),
      static_cast<HistogramCount>(0u - static_cast<uint32_t>(other.redundant_count())));
  std::unique_ptr<SampleIterator> iter = other.CreateIterator();
  return AddSubtract(iter.get(), SUBTRACT);
}

bool HistogramSampleSet::Serialize(BinaryMessage* message) const {
  if (!message->WriteInt64(sum()) || !message->WriteInt(redundant_count())) {
    LOG(ERROR) << "cannot write the sample counters";
    return false;
  }
  HistogramSample minimum;
  int64_t maximum;
  HistogramCount count;
  for (std::unique_ptr<SampleIterator> it = CreateIterator(); !it->Done(); it->Next()) {
    it->Get(&minimum, &maximum, &count);
    // The maximum travels as 32 bits; for the value INT32_MAX of a sparse
    // set it wraps, and readers compare it modulo 2^32.
    if (!message->WriteInt(minimum) ||
        !message->WriteInt(static_cast<int32_t>(static_cast<uint32_t>(maximum))) ||
        !message->WriteInt(count)) {
      LOG(ERROR) << "cannot write a sample entry";
      return false;
    }
  }
  return true;
}

}  // namespace base
