// A histogram where every 32-bit value is its own bucket. The counts live in
// sample maps under a lock.
#ifndef BASE_METRICS_SPARSE_HISTOGRAM_H_
#define BASE_METRICS_SPARSE_HISTOGRAM_H_

#include <memory>
#include <string>
#include <string_view>

#include "base/metrics/histogram_base.h"
#include "base/threading/lock.h"

namespace base {

class HistogramSampleSet;
class PersistentHistogramAllocator;
struct SampleMetadata;

class SparseHistogram : public HistogramBase {
 public:
  // The registered histogram of |name|, else a new one with flag 1: in the
  // global persistent histogram allocator's segment when there is one, else
  // on the heap. The caller keeps it.
  static HistogramBase* GetOrCreate(std::string_view name);
  // A histogram whose sample maps keep their counts in |allocator|'s segment
  // (ids: the name's and one more), with their counters in |meta| and
  // |logged_meta|. A null |allocator| gives heap maps.
  static std::unique_ptr<HistogramBase> PersistentCreate(PersistentHistogramAllocator* allocator,
                                                         std::string_view name,
                                                         SampleMetadata* meta,
                                                         SampleMetadata* logged_meta);

  ~SparseHistogram() override;

  uint64_t GetSamplesId() const override;
  HistogramType GetHistogramType() const override;
  bool MatchesArguments(HistogramSample minimum, HistogramSample maximum,
                        uint32_t bucket_count) const override;
  void Add(HistogramSample value) override;
  void AddCount(HistogramSample value, int count) override;
  void AddSampleSet(const HistogramSampleSet& samples) override;
  bool AddSerializedSamples(BinaryMessageReader* reader) override;
  std::unique_ptr<HistogramSampleSet> TakeSnapshot() const override;
  std::unique_ptr<HistogramSampleSet> TakeDeltaSnapshot() override;
  std::unique_ptr<HistogramSampleSet> TakeFinalDeltaSnapshot() override;
  void WriteHtml(std::string* output) const override;
  void WriteAscii(std::string* output) const override;
  bool SerializeInfo(BinaryMessage* message) const override;
  void DescribeParameters(DictValue* params) const override;
  void DescribeBuckets(int* count, int64_t* sum, ListValue* buckets) const override;

 private:
  explicit SparseHistogram(std::string name);
  SparseHistogram(PersistentHistogramAllocator* allocator, std::string name, SampleMetadata* meta,
                  SampleMetadata* logged_meta);

  void WriteAsciiImpl(bool graph_it, const char* newline, std::string* output) const;

  // Guards both sample maps and the final-delta flag.
  mutable Lock lock_;
  std::unique_ptr<HistogramSampleSet> unlogged_samples_;
  std::unique_ptr<HistogramSampleSet> logged_samples_;
  bool final_delta_created_ = false;
};

}  // namespace base

#endif  // BASE_METRICS_SPARSE_HISTOGRAM_H_
