// One count per distinct value. Not thread-safe: its owner serialises every
// change and copy.
#ifndef BASE_METRICS_SPARSE_SAMPLE_MAP_H_
#define BASE_METRICS_SPARSE_SAMPLE_MAP_H_

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>

#include "base/logging.h"
#include "base/metrics/histogram_sample_set.h"
#include "base/metrics/sample_iterator.h"

namespace base {

// Calls |apply|(value, count) for each entry of |iter|, which must cover one
// value each (the maximum is compared modulo 2^32: the serialized maximum of
// INT32_MAX wraps). False, logged, at the first wider entry; the entries
// before it stay applied.
template <typename Apply>
bool ForEachSingleValueEntry(SampleIterator* iter, Apply apply) {
  HistogramSample minimum;
  int64_t maximum;
  HistogramCount count;
  for (; !iter->Done(); iter->Next()) {
    iter->Get(&minimum, &maximum, &count);
    if (static_cast<uint32_t>(maximum) != static_cast<uint32_t>(minimum) + 1u) {
      LOG(ERROR) << "sample entry [" << minimum << ", " << maximum
                 << ") covers more than one value";
      return false;
    }
    apply(minimum, count);
  }
  return true;
}

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

// The non-empty values of an ordered map in ascending order: (value,
// value + 1, count). The map holds the counts, or pointers to counts that
// live elsewhere.
template <typename CountHolder>
class MapSampleIterator : public SampleIterator {
 public:
  using Map = std::map<HistogramSample, CountHolder>;

  explicit MapSampleIterator(const Map* counts) : counts_(counts), it_(counts->begin()) {
    SkipEmptyEntries();
  }

  bool Done() const override { return it_ == counts_->end(); }
  void Next() override {
    if (Done())
      return;
    ++it_;
    SkipEmptyEntries();
  }
  void Get(HistogramSample* minimum, int64_t* maximum, HistogramCount* count) const override {
    CHECK(!Done());
    if (minimum)
      *minimum = it_->first;
    if (maximum)
      *maximum = static_cast<int64_t>(it_->first) + 1;
    if (count)
      *count = Load(it_->second);
  }

 private:
  static HistogramCount Load(HistogramCount count) { return count; }
  static HistogramCount Load(const std::atomic<HistogramCount>* count) {
    return count->load(std::memory_order_relaxed);
  }
  void SkipEmptyEntries() {
    while (it_ != counts_->end() && Load(it_->second) == 0)
      ++it_;
  }

  const Map* const counts_;
  typename Map::const_iterator it_;
};

using SparseSampleMapIterator = MapSampleIterator<HistogramCount>;

}  // namespace base

#endif  // BASE_METRICS_SPARSE_SAMPLE_MAP_H_
