#include "base/metrics/histogram_factory.h"

#include "base/logging.h"
#include "base/metrics/bucket_boundaries.h"

namespace base {

void ReportHistogramActivity(const HistogramBase& /*histogram*/,
                             HistogramActivity /*activity*/) {
  // The activity histogram is never created here, so there is nothing to
  // count into.
}

HistogramFactory::HistogramFactory(std::string_view name, HistogramType type,
                                   HistogramSample minimum, HistogramSample maximum,
                                   uint32_t bucket_count, int32_t flags)
    : name_(name),
      histogram_type_(type),
      minimum_(minimum),
      maximum_(maximum),
      bucket_count_(bucket_count),
      flags_(flags) {}

HistogramFactory::~HistogramFactory() = default;

void HistogramFactory::FinishHistogram(HistogramBase* /*histogram*/) {}

HistogramBase* HistogramFactory::Build() {
  // No registry exists: nothing to look up, and the boundaries stay as built
  // (they are shared with the histogram and live as long as it, forever).
  std::unique_ptr<BucketBoundaries> owned_boundaries = CreateBoundaries();
  if (!owned_boundaries)
    return nullptr;
  const BucketBoundaries* boundaries = owned_boundaries.release();

  if (bucket_count_ == 0) {
    // Custom boundaries: the arguments follow from them.
    bucket_count_ = static_cast<uint32_t>(boundaries->bucket_count());
    minimum_ = boundaries->range(1);
    maximum_ = boundaries->range(boundaries->bucket_count() - 1);
  }

  // No persistent allocator exists either: the histogram lives on the heap.
  std::unique_ptr<HistogramBase> created = CreateHistogram(boundaries);
  created->ClearFlags(HistogramBase::kIsPersistent);
  created->SetFlags(flags_);
  HistogramBase* histogram = created.release();
  FinishHistogram(histogram);
  ReportHistogramActivity(*histogram, HistogramActivity::kCreated);

  CHECK_EQ(histogram_type_, histogram->GetHistogramType());
  if (bucket_count_ != 0 && !histogram->MatchesArguments(minimum_, maximum_, bucket_count_)) {
    LOG(ERROR) << "histogram " << name_ << " exists with other arguments";
    return nullptr;
  }
  return histogram;
}

}  // namespace base
