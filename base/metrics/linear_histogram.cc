#include "base/metrics/linear_histogram.h"

#include <utility>

#include "base/logging.h"
#include "base/metrics/bucket_boundaries.h"
#include "base/metrics/histogram_factory.h"
#include "base/string_printf.h"

namespace base {

class LinearHistogramFactory : public HistogramFactory {
 public:
  LinearHistogramFactory(std::string_view name, HistogramSample minimum, HistogramSample maximum,
                         uint32_t bucket_count, int32_t flags,
                         const LinearHistogram::DescriptionPair* descriptions)
      : HistogramFactory(name, LINEAR_HISTOGRAM, minimum, maximum, bucket_count, flags),
        descriptions_(descriptions) {}

 protected:
  std::unique_ptr<BucketBoundaries> CreateBoundaries() override {
    auto boundaries = std::make_unique<BucketBoundaries>(bucket_count_);
    Histogram::FillLinearRanges(minimum_, maximum_, boundaries.get());
    return boundaries;
  }
  std::unique_ptr<HistogramBase> CreateHistogram(const BucketBoundaries* boundaries) override {
    return std::unique_ptr<HistogramBase>(
        new LinearHistogram(name_, minimum_, maximum_, boundaries));
  }
  void FinishHistogram(HistogramBase* histogram) override {
    if (!descriptions_)
      return;
    auto* linear = static_cast<LinearHistogram*>(histogram);
    for (size_t i = 0; descriptions_[i].description; ++i)
      linear->bucket_description_[descriptions_[i].sample] = descriptions_[i].description;
  }

 private:
  const LinearHistogram::DescriptionPair* const descriptions_;
};

LinearHistogram::LinearHistogram(std::string name, HistogramSample minimum, HistogramSample maximum,
                                 const BucketBoundaries* boundaries)
    : Histogram(std::move(name), minimum, maximum, boundaries) {}

LinearHistogram::LinearHistogram(std::string name, HistogramSample minimum, HistogramSample maximum,
                                 const BucketBoundaries* boundaries,
                                 std::atomic<HistogramCount>* counts,
                                 std::atomic<HistogramCount>* logged_counts, SampleMetadata* meta,
                                 SampleMetadata* logged_meta)
    : Histogram(std::move(name), minimum, maximum, boundaries, counts, logged_counts, meta,
                logged_meta) {}

LinearHistogram::~LinearHistogram() = default;

// static
std::unique_ptr<HistogramBase> LinearHistogram::PersistentCreate(
    std::string_view name, HistogramSample minimum, HistogramSample maximum,
    const BucketBoundaries* boundaries, std::atomic<HistogramCount>* counts,
    std::atomic<HistogramCount>* logged_counts, SampleMetadata* meta, SampleMetadata* logged_meta) {
  if (!counts) {
    return std::unique_ptr<HistogramBase>(
        new LinearHistogram(std::string(name), minimum, maximum, boundaries));
  }
  return std::unique_ptr<HistogramBase>(new LinearHistogram(
      std::string(name), minimum, maximum, boundaries, counts, logged_counts, meta, logged_meta));
}

// static
HistogramBase* LinearHistogram::GetOrCreate(std::string_view name, HistogramSample maximum,
                                            uint32_t bucket_count) {
  return GetOrCreateWithDescriptions(name, 1, maximum, bucket_count, kUmaTargetedHistogramFlag,
                                     nullptr);
}

// static
HistogramBase* LinearHistogram::GetOrCreateWithDescriptions(std::string_view name,
                                                            HistogramSample minimum,
                                                            HistogramSample maximum,
                                                            uint32_t bucket_count, int32_t flags,
                                                            const DescriptionPair* descriptions) {
  if (!InspectConstructionArguments(name, &minimum, &maximum, &bucket_count))
    return nullptr;
  // More buckets than values would give empty, zero-width buckets that no
  // value can reach.
  const int64_t useful_buckets = static_cast<int64_t>(maximum) - minimum + 2;
  if (bucket_count > useful_buckets) {
    LOG(ERROR) << "linear histogram " << name << " asks for " << bucket_count << " buckets; "
               << useful_buckets << " are used";
    bucket_count = static_cast<uint32_t>(useful_buckets);
  }
  return LinearHistogramFactory(name, minimum, maximum, bucket_count, flags, descriptions).Build();
}

HistogramType LinearHistogram::GetHistogramType() const { return LINEAR_HISTOGRAM; }

bool LinearHistogram::ShouldPrintEmptyBucket(size_t index) const {
  return bucket_description_.find(GetBoundary(index)) == bucket_description_.end();
}

double LinearHistogram::GetBucketDensity(HistogramCount count, size_t index) const {
  const double width = static_cast<double>(GetBoundary(index + 1)) - GetBoundary(index);
  return count / width;
}

std::string LinearHistogram::GetBucketLabel(size_t index) const {
  auto it = bucket_description_.find(GetBoundary(index));
  if (it != bucket_description_.end())
    return it->second;
  return FormatString("%d", GetBoundary(index));
}

}  // namespace base
