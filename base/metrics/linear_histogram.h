// A histogram over evenly spaced buckets, optionally with a description text
// for some sample values (used as their labels in the text form).
#ifndef BASE_METRICS_LINEAR_HISTOGRAM_H_
#define BASE_METRICS_LINEAR_HISTOGRAM_H_

#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "base/metrics/histogram.h"

namespace base {

class LinearHistogram : public Histogram {
 public:
  // One {sample value, description} pair; a table of them ends with a null
  // description.
  struct DescriptionPair {
    HistogramSample sample;
    const char* description;
  };

  // Minimum 1, flag 1; |maximum| and |bucket_count| clamped as for
  // Histogram::GetOrCreate. Null (logged) when the arguments cannot make a
  // histogram.
  static HistogramBase* GetOrCreate(std::string_view name, HistogramSample maximum,
                                    uint32_t bucket_count);
  // The general form; |descriptions| may be null.
  static HistogramBase* GetOrCreateWithDescriptions(std::string_view name, HistogramSample minimum,
                                                    HistogramSample maximum, uint32_t bucket_count,
                                                    int32_t flags,
                                                    const DescriptionPair* descriptions);

  // Over persistent counts; see Histogram::PersistentCreate.
  static std::unique_ptr<HistogramBase> PersistentCreate(
      std::string_view name, HistogramSample minimum, HistogramSample maximum,
      const BucketBoundaries* boundaries, std::atomic<HistogramCount>* counts,
      std::atomic<HistogramCount>* logged_counts, SampleMetadata* meta,
      SampleMetadata* logged_meta);

  ~LinearHistogram() override;

  HistogramType GetHistogramType() const override;
  bool ShouldPrintEmptyBucket(size_t index) const override;
  double GetBucketDensity(HistogramCount count, size_t index) const override;
  std::string GetBucketLabel(size_t index) const override;

 protected:
  LinearHistogram(std::string name, HistogramSample minimum, HistogramSample maximum,
                  const BucketBoundaries* boundaries);
  LinearHistogram(std::string name, HistogramSample minimum, HistogramSample maximum,
                  const BucketBoundaries* boundaries, std::atomic<HistogramCount>* counts,
                  std::atomic<HistogramCount>* logged_counts, SampleMetadata* meta,
                  SampleMetadata* logged_meta);

 private:
  friend class LinearHistogramFactory;

  std::map<HistogramSample, std::string> bucket_description_;
};

}  // namespace base

#endif  // BASE_METRICS_LINEAR_HISTOGRAM_H_
