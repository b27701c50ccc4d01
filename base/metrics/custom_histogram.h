// A histogram whose bucket boundaries come from the caller.
#ifndef BASE_METRICS_CUSTOM_HISTOGRAM_H_
#define BASE_METRICS_CUSTOM_HISTOGRAM_H_

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/metrics/histogram.h"

namespace base {

class CustomHistogram : public Histogram {
 public:
  // |custom_ranges|: the lower boundaries of the buckets, each in
  // [1, INT32_MAX - 1], in any order; duplicates are dropped, 0 and INT32_MAX
  // are added. Null (logged) when a value is out of range or none is given.
  static HistogramBase* GetOrCreate(std::string_view name,
                                    const std::vector<HistogramSample>& custom_ranges,
                                    int32_t flags);

  // Over persistent counts; the declared minimum and maximum are boundaries
  // 1 and n - 1. See Histogram::PersistentCreate.
  static std::unique_ptr<HistogramBase> PersistentCreate(std::string_view name,
                                                         const BucketBoundaries* boundaries,
                                                         std::atomic<HistogramCount>* counts,
                                                         std::atomic<HistogramCount>* logged_counts,
                                                         SampleMetadata* meta,
                                                         SampleMetadata* logged_meta);

  ~CustomHistogram() override;

  HistogramType GetHistogramType() const override;
  // Adds boundaries 1 to n - 1 after the common fields.
  bool SerializeInfo(BinaryMessage* message) const override;
  double GetBucketDensity(HistogramCount count, size_t index) const override;

 protected:
  CustomHistogram(std::string name, const BucketBoundaries* boundaries);
  CustomHistogram(std::string name, const BucketBoundaries* boundaries,
                  std::atomic<HistogramCount>* counts, std::atomic<HistogramCount>* logged_counts,
                  SampleMetadata* meta, SampleMetadata* logged_meta);

 private:
  friend class CustomHistogramFactory;
};

}  // namespace base

#endif  // BASE_METRICS_CUSTOM_HISTOGRAM_H_
