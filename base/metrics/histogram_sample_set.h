// The counts of a histogram, apart from the histogram object, so that a
// snapshot, a delta or a serialized copy is just another set that can be
// added or subtracted.
#ifndef BASE_METRICS_HISTOGRAM_SAMPLE_SET_H_
#define BASE_METRICS_HISTOGRAM_SAMPLE_SET_H_

#include <atomic>
#include <cstdint>
#include <memory>

#include "base/metrics/histogram_base.h"

namespace base {

class BinaryMessage;
class BinaryMessageReader;
class SampleIterator;

// The counters one sample set shares with whoever looks at it. A set owns one
// or points at one in persistent memory.
struct SampleMetadata {
  uint64_t id = 0;
  std::atomic<int64_t> sum{0};
  // Number of samples, kept beside the bucket counts as a cross-check.
  std::atomic<int32_t> redundant_count{0};
};

class HistogramSampleSet {
 public:
  enum Operation { ADD, SUBTRACT };

  HistogramSampleSet(const HistogramSampleSet&) = delete;
  HistogramSampleSet& operator=(const HistogramSampleSet&) = delete;
  virtual ~HistogramSampleSet();

  virtual void Accumulate(HistogramSample value, HistogramCount count) = 0;
  virtual HistogramCount GetCount(HistogramSample value) const = 0;
  virtual HistogramCount TotalCount() const = 0;

  // Adds |other|'s counters, then its entries; false when an entry did not
  // fit (earlier entries stay applied).
  bool Add(const HistogramSampleSet& other);
  // Reads a serialized set: the sum, the redundant count, then (minimum,
  // maximum, count) triples until a read fails. False when the counters
  // cannot be read (nothing changes) or an entry does not fit.
  bool AddSerialized(BinaryMessageReader* reader);
  bool Subtract(const HistogramSampleSet& other);

  virtual std::unique_ptr<SampleIterator> CreateIterator() const = 0;
  // Appends the sum, the redundant count and one triple per entry.
  bool Serialize(BinaryMessage* message) const;

  uint64_t id() const { return meta_->id; }
  int64_t sum() const { return meta_->sum.load(std::memory_order_relaxed); }
  HistogramCount redundant_count() const {
    return meta_->redundant_count.load(std::memory_order_relaxed);
  }

 protected:
  explicit HistogramSampleSet(SampleMetadata* meta) : meta_(meta) {}

  virtual bool AddSubtract(SampleIterator* iter, Operation op) = 0;

  void IncreaseSumAndCount(int64_t sum, HistogramCount count);

 private:
  SampleMetadata* const meta_;
};

}  // namespace base

#endif  // BASE_METRICS_HISTOGRAM_SAMPLE_SET_H_
