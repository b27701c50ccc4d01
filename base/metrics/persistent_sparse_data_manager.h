// Hands the sample records of a segment to the persistent sample maps that
// own them. Records of every map lie mixed in the segment's one iterable
// queue; the manager walks it once, in order, and sorts what it reads by
// sample-map id, so that no map reads the queue from the start again.
#ifndef BASE_METRICS_PERSISTENT_SPARSE_DATA_MANAGER_H_
#define BASE_METRICS_PERSISTENT_SPARSE_DATA_MANAGER_H_

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "base/metrics/persistent_memory_allocator.h"
#include "base/threading/lock.h"

namespace base {

class PersistentSparseDataManager;

// The records of one sample-map id found so far, in segment order. Each map
// keeps its own position in them: two maps of one id (a histogram read twice)
// must both see every record.
struct PersistentSampleMapRecords {
  PersistentSampleMapRecords(PersistentSparseDataManager* manager, uint64_t id)
      : manager(manager), sample_map_id(id) {}

  PersistentSparseDataManager* const manager;
  const uint64_t sample_map_id;
  std::vector<PersistentMemoryAllocator::Reference> records;
  // Found for this id while another map was loading; moved into |records|
  // on this map's next load.
  std::vector<PersistentMemoryAllocator::Reference> found;
};

class PersistentSparseDataManager {
 public:
  static constexpr uint32_t kTypeIdSampleRecord = 0x8FE6A6A0;

  // The data of one sample record.
  struct SampleRecord {
    uint64_t id;
    int32_t value;
    int32_t count;
  };

  explicit PersistentSparseDataManager(PersistentMemoryAllocator* allocator);
  PersistentSparseDataManager(const PersistentSparseDataManager&) = delete;
  PersistentSparseDataManager& operator=(const PersistentSparseDataManager&) = delete;
  ~PersistentSparseDataManager();

  PersistentMemoryAllocator* allocator() const { return allocator_; }

  // The record list of |id| (made on first use; it lives as long as the
  // manager).
  PersistentSampleMapRecords* UseRecords(uint64_t id);
  // The record at |*position| of |records|, loading more when every known
  // one was used; |*position| moves on. False when none is left.
  bool NextRecord(PersistentSampleMapRecords* records, size_t* position,
                  PersistentMemoryAllocator::Reference* ref);
  // A new, iterable record of |id| and |value| with count 0; 0 when the
  // segment has no room (or is read-only).
  PersistentMemoryAllocator::Reference CreateRecord(uint64_t id, int32_t value);
  // The record's data when |ref| is a valid sample record.
  SampleRecord* GetRecord(PersistentMemoryAllocator::Reference ref) const;

 private:
  PersistentSampleMapRecords* GetRecordsLocked(uint64_t id);
  // Moves records found for |records| by other maps into its list, then reads
  // on in the queue. True when |records| got any.
  bool LoadRecordsLocked(PersistentSampleMapRecords* records);

  PersistentMemoryAllocator* const allocator_;
  Lock lock_;
  std::map<uint64_t, std::unique_ptr<PersistentSampleMapRecords>> records_;
  PersistentMemoryAllocator::Iterator iterator_;
};

}  // namespace base

#endif  // BASE_METRICS_PERSISTENT_SPARSE_DATA_MANAGER_H_
