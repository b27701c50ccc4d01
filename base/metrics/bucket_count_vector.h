// One 32-bit count per bucket of fixed boundaries. Recording takes no lock:
// counts, sum and redundant count change by atomic additions.
#ifndef BASE_METRICS_BUCKET_COUNT_VECTOR_H_
#define BASE_METRICS_BUCKET_COUNT_VECTOR_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "base/metrics/histogram_sample_set.h"
#include "base/metrics/sample_iterator.h"

namespace base {

class BucketBoundaries;

class BucketCountVector : public HistogramSampleSet {
 public:
  // Heap counts, all 0. |boundaries| is not owned and must outlive the set.
  BucketCountVector(uint64_t id, const BucketBoundaries* boundaries);
  // Counts and counters in storage that someone else owns (persistent
  // memory): |counts| holds one count per bucket.
  BucketCountVector(std::atomic<HistogramCount>* counts, SampleMetadata* meta,
                    const BucketBoundaries* boundaries);
  ~BucketCountVector() override;

  void Accumulate(HistogramSample value, HistogramCount count) override;
  HistogramCount GetCount(HistogramSample value) const override;
  HistogramCount TotalCount() const override;
  std::unique_ptr<SampleIterator> CreateIterator() const override;

  // The bucket of |value|; |value| must lie in [boundary 0, last boundary).
  virtual size_t GetBucketIndex(HistogramSample value) const;

  HistogramCount GetCountAtIndex(size_t bucket_index) const;
  size_t bucket_count() const { return counts_size_; }
  const BucketBoundaries* bucket_boundaries() const { return boundaries_; }

 protected:
  bool AddSubtract(SampleIterator* iter, Operation op) override;

 private:
  SampleMetadata own_meta_;
  std::unique_ptr<std::atomic<HistogramCount>[]> own_counts_;
  std::atomic<HistogramCount>* counts_;
  const size_t counts_size_;
  const BucketBoundaries* const boundaries_;
};

// The non-empty buckets in order: (boundary i, boundary i + 1, count i).
class BucketCountVectorIterator : public SampleIterator {
 public:
  BucketCountVectorIterator(const std::atomic<HistogramCount>* counts, size_t counts_size,
                            const BucketBoundaries* boundaries);

  bool Done() const override;
  void Next() override;
  void Get(HistogramSample* minimum, int64_t* maximum, HistogramCount* count) const override;
  bool GetBucketIndex(size_t* index) const override;

 private:
  void SkipEmptyBuckets();

  const std::atomic<HistogramCount>* const counts_;
  const size_t counts_size_;
  const BucketBoundaries* const boundaries_;
  size_t index_ = 0;
};

}  // namespace base

#endif  // BASE_METRICS_BUCKET_COUNT_VECTOR_H_
