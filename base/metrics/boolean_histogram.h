// A linear histogram of the two values 0 and 1 (buckets [0, 1), [1, 2) and
// the overflow bucket), built only over persistent memory.
#ifndef BASE_METRICS_BOOLEAN_HISTOGRAM_H_
#define BASE_METRICS_BOOLEAN_HISTOGRAM_H_

#include <atomic>
#include <memory>
#include <string>
#include <string_view>

#include "base/metrics/linear_histogram.h"

namespace base {

class BooleanHistogram : public LinearHistogram {
 public:
  // See Histogram::PersistentCreate; the declared range is 1 to 2.
  static std::unique_ptr<HistogramBase> PersistentCreate(std::string_view name,
                                                         const BucketBoundaries* boundaries,
                                                         std::atomic<HistogramCount>* counts,
                                                         std::atomic<HistogramCount>* logged_counts,
                                                         SampleMetadata* meta,
                                                         SampleMetadata* logged_meta);

  ~BooleanHistogram() override;

  HistogramType GetHistogramType() const override;

 private:
  BooleanHistogram(std::string name, const BucketBoundaries* boundaries);
  BooleanHistogram(std::string name, const BucketBoundaries* boundaries,
                   std::atomic<HistogramCount>* counts, std::atomic<HistogramCount>* logged_counts,
                   SampleMetadata* meta, SampleMetadata* logged_meta);
};

}  // namespace base

#endif  // BASE_METRICS_BOOLEAN_HISTOGRAM_H_
