// A sparse sample set whose counts live in sample records of a persistent
// segment, so that another process sees them. Each value gets one record the
// first time it is counted; records made by an earlier user of the segment
// are imported as they are needed. Like the heap map it is not thread-safe:
// its owner serialises every change and copy.
#ifndef BASE_METRICS_PERSISTENT_SAMPLE_MAP_H_
#define BASE_METRICS_PERSISTENT_SAMPLE_MAP_H_

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>

#include "base/metrics/histogram_sample_set.h"
#include "base/metrics/sample_iterator.h"
#include "base/metrics/sparse_sample_map.h"

namespace base {

class PersistentSparseDataManager;
struct PersistentSampleMapRecords;

class PersistentSampleMap : public HistogramSampleSet {
 public:
  // |meta| lives in the segment; its id is set to |id| when it is 0.
  PersistentSampleMap(uint64_t id, PersistentSparseDataManager* manager, SampleMetadata* meta);
  ~PersistentSampleMap() override;

  void Accumulate(HistogramSample value, HistogramCount count) override;
  HistogramCount GetCount(HistogramSample value) const override;
  HistogramCount TotalCount() const override;
  std::unique_ptr<SampleIterator> CreateIterator() const override;

 protected:
  // Every entry must cover exactly one value.
  bool AddSubtract(SampleIterator* iter, Operation op) override;

 private:
  using CountMap = std::map<HistogramSample, std::atomic<HistogramCount>*>;

  // The count storage of |value|, made when missing: a new record, or a
  // count in process memory once the segment has no room.
  std::atomic<HistogramCount>* GetOrCreateSampleCountStorage(HistogramSample value);
  // Maps the values of records not read yet. Stops at the first record of
  // |until| unless |import_everything|, and returns that record's count.
  std::atomic<HistogramCount>* ImportSamples(std::optional<HistogramSample> until,
                                             bool import_everything) const;

  PersistentSparseDataManager* const manager_;
  mutable PersistentSampleMapRecords* records_ = nullptr;
  // How many of the id's records this map has read.
  mutable size_t records_seen_ = 0;
  mutable CountMap sample_counts_;
  // Counts for values that got no record; never freed before the map.
  std::map<HistogramSample, std::unique_ptr<std::atomic<HistogramCount>>> local_counts_;
};

}  // namespace base

#endif  // BASE_METRICS_PERSISTENT_SAMPLE_MAP_H_
