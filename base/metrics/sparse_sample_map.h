// One count per distinct value. Not thread-safe: its owner serialises every
// change and copy.
#ifndef BASE_METRICS_SPARSE_SAMPLE_MAP_H_
#define BASE_METRICS_SPARSE_SAMPLE_MAP_H_

#include <cstdint>
#include <map>
#include <memory>

#include "base/metrics/histogram_sample_set.h"
#include "base/metrics/sample_iterator.h"

namespace base {

class SparseSampleMap : public HistogramSampleSet {
 public:
  explicit SparseSampleMap(uint64_t id);
  ~SparseSampleMap() override;

  void Accumulate(HistogramSample value, HistogramCount count) override;
  HistogramCount GetCount(HistogramSample value) const override;
  HistogramCount TotalCount() const override;
  std::unique_ptr<SampleIterator> CreateIterator() const override;

 protected:
  // Every entry must cover exactly one value.
  bool AddSubtract(SampleIterator* iter, Operation op) override;

 private:
  SampleMetadata own_meta_;
  std::map<HistogramSample, HistogramCount> counts_;
};

// The non-empty values in ascending order: (value, value + 1, count).
class SparseSampleMapIterator : public SampleIterator {
 public:
  explicit SparseSampleMapIterator(const std::map<HistogramSample, HistogramCount>* counts);

  bool Done() const override;
  void Next() override;
  void Get(HistogramSample* minimum, int64_t* maximum, HistogramCount* count) const override;

 private:
  void SkipEmptyEntries();

  const std::map<HistogramSample, HistogramCount>* const counts_;
  std::map<HistogramSample, HistogramCount>::const_iterator it_;
};

}  // namespace base

#endif  // BASE_METRICS_SPARSE_SAMPLE_MAP_H_
