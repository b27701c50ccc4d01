#include "base/metrics/boolean_histogram.h"

#include <utility>

namespace base {

BooleanHistogram::BooleanHistogram(std::string name, const BucketBoundaries* boundaries)
    : LinearHistogram(std::move(name), 1, 2, boundaries) {}

BooleanHistogram::BooleanHistogram(std::string name, const BucketBoundaries* boundaries,
                                   std::atomic<HistogramCount>* counts,
                                   std::atomic<HistogramCount>* logged_counts, SampleMetadata* meta,
                                   SampleMetadata* logged_meta)
    : LinearHistogram(std::move(name), 1, 2, boundaries, counts, logged_counts, meta, logged_meta) {
}

BooleanHistogram::~BooleanHistogram() = default;

// static
std::unique_ptr<HistogramBase> BooleanHistogram::PersistentCreate(
    std::string_view name, const BucketBoundaries* boundaries, std::atomic<HistogramCount>* counts,
    std::atomic<HistogramCount>* logged_counts, SampleMetadata* meta, SampleMetadata* logged_meta) {
  if (!counts)
    return std::unique_ptr<HistogramBase>(new BooleanHistogram(std::string(name), boundaries));
  return std::unique_ptr<HistogramBase>(new BooleanHistogram(std::string(name), boundaries, counts,
                                                             logged_counts, meta, logged_meta));
}

HistogramType BooleanHistogram::GetHistogramType() const { return BOOLEAN_HISTOGRAM; }

}  // namespace base
