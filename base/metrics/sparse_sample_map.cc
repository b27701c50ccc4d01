#include "base/metrics/sparse_sample_map.h"

#include "base/logging.h"

namespace base {

SparseSampleMap::SparseSampleMap(uint64_t id) : HistogramSampleSet(&own_meta_) {
  own_meta_.id = id;
}

SparseSampleMap::~SparseSampleMap() = default;

void SparseSampleMap::Accumulate(HistogramSample value, HistogramCount count) {
  counts_[value] += count;
  IncreaseSumAndCount(static_cast<int64_t>(value) * count, count);
}

HistogramCount SparseSampleMap::GetCount(HistogramSample value) const {
  auto it = counts_.find(value);
  return it == counts_.end() ? 0 : it->second;
}

HistogramCount SparseSampleMap::TotalCount() const {
  uint32_t total = 0;
  for (const auto& [value, count] : counts_)
    total += static_cast<uint32_t>(count);
  return static_cast<HistogramCount>(total);
}

std::unique_ptr<SampleIterator> SparseSampleMap::CreateIterator() const {
  return std::make_unique<SparseSampleMapIterator>(&counts_);
}

bool SparseSampleMap::AddSubtract(SampleIterator* iter, Operation op) {
  return ForEachSingleValueEntry(iter, [this, op](HistogramSample value, HistogramCount count) {
    if (op == ADD)
      counts_[value] += count;
    else
      counts_[value] -= count;
  });
}

}  // namespace base
