#include "base/metrics/histogram_factory.h"

#include "base/logging.h"
#include "base/metrics/bucket_boundaries.h"
#include "base/metrics/histogram_registry.h"
#include "base/metrics/persistent_histogram_allocator.h"

namespace base {

void ReportHistogramActivity(const HistogramBase& /*histogram*/, HistogramActivity /*activity*/) {
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
  HistogramBase* histogram = histogram_factory_internal::FindRegistered(name_);
  if (!histogram) {
    // Boundaries are shared by every histogram of the same ones and never
    // freed.
    std::unique_ptr<BucketBoundaries> owned_boundaries = CreateBoundaries();
    if (!owned_boundaries)
      return nullptr;
    const BucketBoundaries* boundaries =
        HistogramRegistry::RegisterOrDeleteDuplicateRanges(owned_boundaries.release());

    if (bucket_count_ == 0) {
      // Custom boundaries: the arguments follow from them.
      bucket_count_ = static_cast<uint32_t>(boundaries->bucket_count());
      minimum_ = boundaries->range(1);
      maximum_ = boundaries->range(boundaries->bucket_count() - 1);
    }

    PersistentHistogramAllocator* allocator = PersistentHistogramAllocator::GetGlobal();
    PersistentMemoryAllocator::Reference ref = 0;
    std::unique_ptr<HistogramBase> created;
    if (allocator) {
      created = allocator->AllocateHistogram(histogram_type_, name_, minimum_, maximum_, boundaries,
                                             flags_, &ref);
    }
    if (!created) {
      created = CreateHistogram(boundaries);
      created->ClearFlags(HistogramBase::kIsPersistent);
      created->SetFlags(flags_);
    }
    FinishHistogram(created.get());
    histogram = histogram_factory_internal::RegisterCreated(created.release(), allocator, ref);
  }

  histogram = histogram_factory_internal::CheckType(histogram, histogram_type_, name_);
  if (histogram && bucket_count_ != 0 &&
      !histogram->MatchesArguments(minimum_, maximum_, bucket_count_)) {
    LOG(ERROR) << "histogram " << name_ << " exists with other arguments";
    return nullptr;
  }
  return histogram;
}

namespace histogram_factory_internal {

HistogramBase* FindRegistered(std::string_view name) {
  if (!HistogramRegistry::IsActive())
    return nullptr;
  // Histograms that other processes (or an earlier run) put in the global
  // segment are found by name too.
  if (PersistentHistogramAllocator* allocator = PersistentHistogramAllocator::GetGlobal())
    allocator->ImportHistogramsToRegistry();
  return HistogramRegistry::FindHistogram(name);
}

HistogramBase* RegisterCreated(HistogramBase* created, PersistentHistogramAllocator* allocator,
                               uint32_t ref) {
  HistogramBase* histogram = HistogramRegistry::RegisterOrDeleteDuplicate(created);
  if (ref)
    allocator->FinalizeHistogram(ref, histogram == created);
  ReportHistogramActivity(*histogram, HistogramActivity::kCreated);
  return histogram;
}

HistogramBase* CheckType(HistogramBase* histogram, HistogramType type, std::string_view name) {
  if (histogram->GetHistogramType() == type)
    return histogram;
  if (histogram->flags() & HistogramBase::kIsPersistent) {
    LOG(ERROR) << "histogram " << name << " exists as "
               << HistogramTypeToString(histogram->GetHistogramType()) << ", not as "
               << HistogramTypeToString(type);
    return nullptr;
  }
  CHECK_EQ(type, histogram->GetHistogramType());
  return histogram;
}

}  // namespace histogram_factory_internal

}  // namespace base
