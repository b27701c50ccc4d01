#include "base/metrics/custom_histogram.h"

#include <algorithm>
#include <utility>

#include "base/binary_message.h"
#include "base/logging.h"
#include "base/metrics/bucket_boundaries.h"
#include "base/metrics/histogram_factory.h"

namespace base {

class CustomHistogramFactory : public HistogramFactory {
 public:
  CustomHistogramFactory(std::string_view name, std::vector<HistogramSample> ranges, int32_t flags)
      : HistogramFactory(name, CUSTOM_HISTOGRAM, 0, 0, 0, flags), ranges_(std::move(ranges)) {}

 protected:
  std::unique_ptr<BucketBoundaries> CreateBoundaries() override {
    auto boundaries = std::make_unique<BucketBoundaries>(ranges_.size() - 1);
    for (size_t i = 0; i < ranges_.size(); ++i)
      boundaries->set_range(i, ranges_[i]);
    boundaries->ResetChecksum();
    return boundaries;
  }
  std::unique_ptr<HistogramBase> CreateHistogram(const BucketBoundaries* boundaries) override {
    return std::unique_ptr<HistogramBase>(new CustomHistogram(name_, boundaries));
  }

 private:
  // Sorted, unique, from 0 to INT32_MAX.
  const std::vector<HistogramSample> ranges_;
};

CustomHistogram::CustomHistogram(std::string name, const BucketBoundaries* boundaries)
    : Histogram(std::move(name), boundaries->range(1),
                boundaries->range(boundaries->bucket_count() - 1), boundaries) {}

CustomHistogram::CustomHistogram(std::string name, const BucketBoundaries* boundaries,
                                 std::atomic<HistogramCount>* counts,
                                 std::atomic<HistogramCount>* logged_counts, SampleMetadata* meta,
                                 SampleMetadata* logged_meta)
    : Histogram(std::move(name), boundaries->range(1),
                boundaries->range(boundaries->bucket_count() - 1), boundaries, counts,
                logged_counts, meta, logged_meta) {}

CustomHistogram::~CustomHistogram() = default;

// static
std::unique_ptr<HistogramBase> CustomHistogram::PersistentCreate(
    std::string_view name, const BucketBoundaries* boundaries, std::atomic<HistogramCount>* counts,
    std::atomic<HistogramCount>* logged_counts, SampleMetadata* meta, SampleMetadata* logged_meta) {
  if (!counts)
    return std::unique_ptr<HistogramBase>(new CustomHistogram(std::string(name), boundaries));
  return std::unique_ptr<HistogramBase>(
      new CustomHistogram(std::string(name), boundaries, counts, logged_counts, meta, logged_meta));
}

// static
HistogramBase* CustomHistogram::GetOrCreate(std::string_view name,
                                            const std::vector<HistogramSample>& custom_ranges,
                                            int32_t flags) {
  if (custom_ranges.empty()) {
    LOG(ERROR) << "custom histogram " << name << " has no boundaries";
    return nullptr;
  }
  std::vector<HistogramSample> ranges;
  ranges.reserve(custom_ranges.size() + 2);
  ranges.push_back(0);
  for (HistogramSample value : custom_ranges) {
    if (value < 1 || value >= kSampleTypeMax) {
      LOG(ERROR) << "custom histogram " << name << " has the boundary " << value << " outside [1, "
                 << kSampleTypeMax - 1 << "]";
      return nullptr;
    }
    ranges.push_back(value);
  }
  ranges.push_back(kSampleTypeMax);
  std::sort(ranges.begin(), ranges.end());
  ranges.erase(std::unique(ranges.begin(), ranges.end()), ranges.end());
  return CustomHistogramFactory(name, std::move(ranges), flags).Build();
}

HistogramType CustomHistogram::GetHistogramType() const { return CUSTOM_HISTOGRAM; }

bool CustomHistogram::SerializeInfo(BinaryMessage* message) const {
  if (!Histogram::SerializeInfo(message))
    return false;
  for (size_t i = 1; i < GetBucketCount(); ++i) {
    if (!message->WriteInt(GetBoundary(i))) {
      LOG(ERROR) << "cannot serialize the boundaries of " << histogram_name();
      return false;
    }
  }
  return true;
}

double CustomHistogram::GetBucketDensity(HistogramCount count, size_t /*index*/) const {
  return count;
}

}  // namespace base
