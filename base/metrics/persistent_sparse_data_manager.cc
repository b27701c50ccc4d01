#include "base/metrics/persistent_sparse_data_manager.h"

namespace base {

namespace {

// Once a map has a record, stop after this many, so that a lookup near the
// start of a long queue does not read all of it.
constexpr int kMinRecordsPerLoad = 10;

}  // namespace

PersistentSparseDataManager::PersistentSparseDataManager(PersistentMemoryAllocator* allocator)
    : allocator_(allocator), iterator_(allocator) {}

PersistentSparseDataManager::~PersistentSparseDataManager() = default;

PersistentSampleMapRecords* PersistentSparseDataManager::GetRecordsLocked(uint64_t id) {
  std::unique_ptr<PersistentSampleMapRecords>& records = records_[id];
  if (!records)
    records = std::make_unique<PersistentSampleMapRecords>(this, id);
  return records.get();
}

PersistentSampleMapRecords* PersistentSparseDataManager::UseRecords(uint64_t id) {
  AutoLock lock(lock_);
  return GetRecordsLocked(id);
}

bool PersistentSparseDataManager::NextRecord(PersistentSampleMapRecords* records, size_t* position,
                                             PersistentMemoryAllocator::Reference* ref) {
  AutoLock lock(lock_);
  if (*position >= records->records.size() && !LoadRecordsLocked(records))
    return false;
  if (*position >= records->records.size())
    return false;
  *ref = records->records[(*position)++];
  return true;
}

bool PersistentSparseDataManager::LoadRecordsLocked(PersistentSampleMapRecords* records) {
  bool found = false;
  if (!records->found.empty()) {
    records->records.insert(records->records.end(), records->found.begin(), records->found.end());
    records->found.clear();
    found = true;
  }
  int read = 0;
  while (PersistentMemoryAllocator::Reference ref = iterator_.GetNextOfType(kTypeIdSampleRecord)) {
    ++read;
    const SampleRecord* record = GetRecord(ref);
    if (!record)
      continue;
    if (record->id == records->sample_map_id) {
      records->records.push_back(ref);
      found = true;
    } else {
      GetRecordsLocked(record->id)->found.push_back(ref);
    }
    if (found && read >= kMinRecordsPerLoad)
      break;
  }
  return found;
}

PersistentMemoryAllocator::Reference PersistentSparseDataManager::CreateRecord(uint64_t id,
                                                                               int32_t value) {
  if (allocator_->IsReadOnly())
    return PersistentMemoryAllocator::kReferenceNull;
  const PersistentMemoryAllocator::Reference ref =
      allocator_->Allocate(sizeof(SampleRecord), kTypeIdSampleRecord);
  SampleRecord* record = GetRecord(ref);
  if (!record)
    return PersistentMemoryAllocator::kReferenceNull;
  record->id = id;
  record->value = value;
  record->count = 0;
  allocator_->MakeIterable(ref);
  return ref;
}

PersistentSparseDataManager::SampleRecord* PersistentSparseDataManager::GetRecord(
    PersistentMemoryAllocator::Reference ref) const {
  return allocator_->GetAsObject<SampleRecord>(ref, kTypeIdSampleRecord);
}

}  // namespace base
