#include "base/metrics/bucket_count_vector.h"

#include "base/logging.h"
#include "base/metrics/bucket_boundaries.h"
#include "base/metrics/sample_iterator.h"

namespace base {

BucketCountVector::BucketCountVector(uint64_t id, const BucketBoundaries* boundaries)
    : HistogramSampleSet(&own_meta_),
      own_counts_(new std::atomic<HistogramCount>[boundaries->bucket_count()]),
      counts_(own_counts_.get()),
      counts_size_(boundaries->bucket_count()),
      boundaries_(boundaries) {
  own_meta_.id = id;
  for (size_t i = 0; i < counts_size_; ++i)
    counts_[i].store(0, std::memory_order_relaxed);
}

BucketCountVector::BucketCountVector(std::atomic<HistogramCount>* counts, SampleMetadata* meta,
                                     const BucketBoundaries* boundaries)
    : HistogramSampleSet(meta),
      counts_(counts),
      counts_size_(boundaries->bucket_count()),
      boundaries_(boundaries) {}

BucketCountVector::~BucketCountVector() = default;

void BucketCountVector::Accumulate(HistogramSample value, HistogramCount count) {
  const size_t index = GetBucketIndex(value);
  counts_[index].fetch_add(count, std::memory_order_relaxed);
  IncreaseSumAndCount(static_cast<int64_t>(value) * count, count);
}

HistogramCount BucketCountVector::GetCount(HistogramSample value) const {
  return counts_[GetBucketIndex(value)].load(std::memory_order_relaxed);
}

HistogramCount BucketCountVector::TotalCount() const {
  // Summed modulo 2^32 like the atomic counters themselves.
  uint32_t total = 0;
  for (size_t i = 0; i < counts_size_; ++i)
    total += static_cast<uint32_t>(counts_[i].load(std::memory_order_relaxed));
  return static_cast<HistogramCount>(total);
}

HistogramCount BucketCountVector::GetCountAtIndex(size_t bucket_index) const {
  CHECK_LT(bucket_index, counts_size_);
  return counts_[bucket_index].load(std::memory_order_relaxed);
}

std::unique_ptr<SampleIterator> BucketCountVector::CreateIterator() const {
  return std::make_unique<BucketCountVectorIterator>(counts_, counts_size_, boundaries_);
}

size_t BucketCountVector::GetBucketIndex(HistogramSample value) const {
  // Callers clamp their values, so one outside the boundaries is a
  // programming error.
  CHECK_GT(counts_size_, 0u);
  CHECK_GE(value, boundaries_->range(0));
  CHECK_LT(value, boundaries_->range(counts_size_));

  size_t under = 0;
  size_t over = counts_size_;
  size_t mid;
  do {
    mid = under + (over - under) / 2;
    if (mid == under)
      break;
    if (boundaries_->range(mid) <= value)
      under = mid;
    else
      over = mid;
  } while (true);

  CHECK_GT(boundaries_->range(mid + 1), value);
  return mid;
}

bool BucketCountVector::AddSubtract(SampleIterator* iter, Operation op) {
  HistogramSample minimum;
  int64_t maximum;
  HistogramCount count;
  size_t index = 0;
  for (; !iter->Done(); iter->Next()) {
    iter->Get(&minimum, &maximum, &count);
    while (index < counts_size_ && minimum > boundaries_->range(index))
      ++index;
    if (index >= counts_size_ || minimum != boundaries_->range(index) ||
        maximum != boundaries_->range(index + 1)) {
      LOG(ERROR) << "sample entry [" << minimum << ", " << maximum
                 << ") matches no bucket of these boundaries";
      return false;
    }
    if (op == ADD)
      counts_[index].fetch_add(count, std::memory_order_relaxed);
    else
      counts_[index].fetch_sub(count, std::memory_order_relaxed);
  }
  return true;
}

BucketCountVectorIterator::BucketCountVectorIterator(const std::atomic<HistogramCount>* counts,
                                                     size_t counts_size,
                                                     const BucketBoundaries* boundaries)
    : counts_(counts), counts_size_(counts_size), boundaries_(boundaries) {
  SkipEmptyBuckets();
}

bool BucketCountVectorIterator::Done() const { return index_ >= counts_size_; }

void BucketCountVectorIterator::Next() {
  if (Done())
    return;
  ++index_;
  SkipEmptyBuckets();
}

void BucketCountVectorIterator::Get(HistogramSample* minimum, int64_t* maximum,
                                    HistogramCount* count) const {
  CHECK(!Done());
  if (minimum)
    *minimum = boundaries_->range(index_);
  if (maximum)
    *maximum = boundaries_->range(index_ + 1);
  if (count)
    *count = counts_[index_].load(std::memory_order_relaxed);
}

bool BucketCountVectorIterator::GetBucketIndex(size_t* index) const {
  CHECK(!Done());
  if (index)
    *index = index_;
  return true;
}

void BucketCountVectorIterator::SkipEmptyBuckets() {
  while (index_ < counts_size_ && counts_[index_].load(std::memory_order_relaxed) == 0)
    ++index_;
}

}  // namespace base
