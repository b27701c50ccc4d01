// Walks the non-empty entries of a sample set, or of its serialized form.
#ifndef BASE_METRICS_SAMPLE_ITERATOR_H_
#define BASE_METRICS_SAMPLE_ITERATOR_H_

#include <cstddef>
#include <cstdint>

#include "base/metrics/histogram_base.h"

namespace base {

class BinaryMessageReader;

class SampleIterator {
 public:
  virtual ~SampleIterator();

  virtual bool Done() const = 0;
  virtual void Next() = 0;
  // The entry holds |count| samples of values in [minimum, maximum). Every
  // output may be null.
  virtual void Get(HistogramSample* minimum, int64_t* maximum, HistogramCount* count) const = 0;
  // The bucket index, for iterators over buckets; false otherwise.
  virtual bool GetBucketIndex(size_t* index) const;
};

// Triples (minimum, maximum, count) read from a message until a read fails.
class SerializedSampleIterator : public SampleIterator {
 public:
  explicit SerializedSampleIterator(BinaryMessageReader* reader);

  bool Done() const override;
  void Next() override;
  void Get(HistogramSample* minimum, int64_t* maximum, HistogramCount* count) const override;

 private:
  BinaryMessageReader* const reader_;
  HistogramSample minimum_ = 0;
  HistogramSample maximum_ = 0;
  HistogramCount count_ = 0;
  bool done_ = false;
};

}  // namespace base

#endif  // BASE_METRICS_SAMPLE_ITERATOR_H_
