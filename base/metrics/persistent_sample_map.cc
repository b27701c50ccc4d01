#include "base/metrics/persistent_sample_map.h"

#include "base/logging.h"
#include "base/metrics/persistent_sparse_data_manager.h"

namespace base {

namespace {

std::atomic<HistogramCount>* CountOf(PersistentSparseDataManager::SampleRecord* record) {
  return reinterpret_cast<std::atomic<HistogramCount>*>(&record->count);
}

}  // namespace

PersistentSampleMap::PersistentSampleMap(uint64_t id, PersistentSparseDataManager* manager,
                                         SampleMetadata* meta)
    : HistogramSampleSet(meta), manager_(manager) {
  if (meta->id == 0 && !manager->allocator()->IsReadOnly())
    meta->id = id;
}

PersistentSampleMap::~PersistentSampleMap() = default;

void PersistentSampleMap::Accumulate(HistogramSample value, HistogramCount count) {
  GetOrCreateSampleCountStorage(value)->fetch_add(count, std::memory_order_relaxed);
  IncreaseSumAndCount(static_cast<int64_t>(value) * count, count);
}

HistogramCount PersistentSampleMap::GetCount(HistogramSample value) const {
  auto it = sample_counts_.find(value);
  std::atomic<HistogramCount>* count =
      it != sample_counts_.end() ? it->second : ImportSamples(value, false);
  return count ? count->load(std::memory_order_relaxed) : 0;
}

HistogramCount PersistentSampleMap::TotalCount() const {
  ImportSamples(std::nullopt, true);
  // Summed modulo 2^32 like the counters themselves.
  uint32_t total = 0;
  for (const auto& entry : sample_counts_)
    total += static_cast<uint32_t>(entry.second->load(std::memory_order_relaxed));
  return static_cast<HistogramCount>(total);
}

std::unique_ptr<SampleIterator> PersistentSampleMap::CreateIterator() const {
  ImportSamples(std::nullopt, true);
  return std::make_unique<MapSampleIterator<std::atomic<HistogramCount>*>>(&sample_counts_);
}

bool PersistentSampleMap::AddSubtract(SampleIterator* iter, Operation op) {
  return ForEachSingleValueEntry(iter, [this, op](HistogramSample value, HistogramCount count) {
    std::atomic<HistogramCount>* storage = GetOrCreateSampleCountStorage(value);
    if (op == ADD)
      storage->fetch_add(count, std::memory_order_relaxed);
    else
      storage->fetch_sub(count, std::memory_order_relaxed);
  });
}

std::atomic<HistogramCount>* PersistentSampleMap::GetOrCreateSampleCountStorage(
    HistogramSample value) {
  auto it = sample_counts_.find(value);
  if (it != sample_counts_.end())
    return it->second;
  if (std::atomic<HistogramCount>* count = ImportSamples(value, false))
    return count;

  const PersistentMemoryAllocator::Reference ref = manager_->CreateRecord(id(), value);
  if (ref) {
    // The new record sits at the end of the queue: importing up to it maps
    // it (and whatever other processes appended before it).
    if (std::atomic<HistogramCount>* count = ImportSamples(value, false))
      return count;
  }
  auto& local = local_counts_[value];
  if (!local)
    local = std::make_unique<std::atomic<HistogramCount>>(0);
  sample_counts_[value] = local.get();
  return local.get();
}

std::atomic<HistogramCount>* PersistentSampleMap::ImportSamples(
    std::optional<HistogramSample> until, bool import_everything) const {
  if (!records_)
    records_ = manager_->UseRecords(id());
  std::atomic<HistogramCount>* found = nullptr;
  PersistentMemoryAllocator::Reference ref;
  while (manager_->NextRecord(records_, &records_seen_, &ref)) {
    PersistentSparseDataManager::SampleRecord* record = manager_->GetRecord(ref);
    if (!record || record->id != id())
      continue;
    const HistogramSample value = record->value;
    auto inserted = sample_counts_.emplace(value, CountOf(record));
    if (until && value == *until && !found) {
      found = inserted.first->second;
      if (!import_everything)
        return found;
    }
  }
  return found;
}

}  // namespace base
