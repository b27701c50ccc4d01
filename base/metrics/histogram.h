// The histogram over exponentially growing buckets, and the base of the
// linear and custom kinds: fixed boundaries and one lock-free count per
// bucket.
#ifndef BASE_METRICS_HISTOGRAM_H_
#define BASE_METRICS_HISTOGRAM_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "base/metrics/histogram_base.h"
#include "base/time.h"

namespace base {

class BucketBoundaries;
class BucketCountVector;
struct SampleMetadata;

class Histogram : public HistogramBase {
 public:
  // Bucket counts from this on are cut to one less.
  static constexpr uint32_t kBucketCountMax = 16384;

  // Get-or-create. There is no histogram registry, so every call builds a
  // new histogram that the caller keeps (call sites keep it in a static
  // pointer). Null, with the cause logged, when the arguments cannot make a
  // histogram (fewer than 3 buckets, or a minimum not below the maximum
  // after the clamps).
  //
  // |minimum| below 1 becomes 1, a |maximum| of INT32_MAX becomes
  // INT32_MAX - 1, |bucket_count| of kBucketCountMax or more becomes
  // kBucketCountMax - 1.
  static HistogramBase* GetOrCreate(std::string_view name, HistogramSample minimum,
                                    HistogramSample maximum, uint32_t bucket_count, int32_t flags);
  // 1 to |maximum| over 50 buckets, flag 1.
  static HistogramBase* GetOrCreateCounts(std::string_view name, HistogramSample maximum);
  // Milliseconds from |minimum| (truncated, at least 1) to |maximum| over 50
  // buckets, flag 1.
  static HistogramBase* GetOrCreateTimes(std::string_view name, TimeSpan minimum, TimeSpan maximum);

  // A histogram over counts that live elsewhere (a persistent segment):
  // |counts| and |logged_counts| hold one count per bucket of |boundaries|,
  // |meta| and |logged_meta| their counters. With null |counts| the
  // histogram keeps its counts on the heap, as one built by the factory.
  static std::unique_ptr<HistogramBase> PersistentCreate(
      std::string_view name, HistogramSample minimum, HistogramSample maximum,
      const BucketBoundaries* boundaries, std::atomic<HistogramCount>* counts,
      std::atomic<HistogramCount>* logged_counts, SampleMetadata* meta,
      SampleMetadata* logged_meta);

  // Boundary 1 = |minimum|, then exponential steps towards |maximum|, the
  // last boundary INT32_MAX; stores the checksum.
  static void FillExponentialRanges(HistogramSample minimum, HistogramSample maximum,
                                    BucketBoundaries* boundaries);
  // Boundary 1 = |minimum| ... boundary n - 1 = |maximum| evenly spaced, the
  // last boundary INT32_MAX; stores the checksum. |minimum| must be below
  // |maximum| and there must be at least 3 buckets.
  static void FillLinearRanges(HistogramSample minimum, HistogramSample maximum,
                               BucketBoundaries* boundaries);

  ~Histogram() override;

  // HistogramBase:
  uint64_t GetSamplesId() const override;
  HistogramType GetHistogramType() const override;
  bool MatchesArguments(HistogramSample minimum, HistogramSample maximum,
                        uint32_t bucket_count) const override;
  void Add(HistogramSample value) override;
  void AddCount(HistogramSample value, int count) override;
  void AddSampleSet(const HistogramSampleSet& samples) override;
  bool AddSerializedSamples(BinaryMessageReader* reader) override;
  uint32_t FindCorruption(const HistogramSampleSet& samples) const override;
  std::unique_ptr<HistogramSampleSet> TakeSnapshot() const override;
  std::unique_ptr<HistogramSampleSet> TakeDeltaSnapshot() override;
  std::unique_ptr<HistogramSampleSet> TakeFinalDeltaSnapshot() override;
  void WriteHtml(std::string* output) const override;
  void WriteAscii(std::string* output) const override;
  bool SerializeInfo(BinaryMessage* message) const override;
  void DescribeParameters(DictValue* params) const override;
  void DescribeBuckets(int* count, int64_t* sum, ListValue* buckets) const override;

  virtual HistogramSample GetBoundary(size_t index) const;
  virtual size_t GetBucketCount() const;
  // Whether an empty bucket gets a line of its own in the text form.
  virtual bool ShouldPrintEmptyBucket(size_t index) const;
  // The bar length measure of the text form.
  virtual double GetBucketDensity(HistogramCount count, size_t index) const;
  virtual std::string GetBucketLabel(size_t index) const;

  HistogramSample declared_min() const { return declared_min_; }
  HistogramSample declared_max() const { return declared_max_; }
  const BucketBoundaries* bucket_boundaries() const { return boundaries_; }

 protected:
  // |boundaries| is shared and never freed.
  Histogram(std::string name, HistogramSample minimum, HistogramSample maximum,
            const BucketBoundaries* boundaries);
  // Over persistent counts (see PersistentCreate); the logged samples exist
  // from the start.
  Histogram(std::string name, HistogramSample minimum, HistogramSample maximum,
            const BucketBoundaries* boundaries, std::atomic<HistogramCount>* counts,
            std::atomic<HistogramCount>* logged_counts, SampleMetadata* meta,
            SampleMetadata* logged_meta);

  // The clamps of the get-or-create table; false (logged) when no histogram
  // can be made of the result.
  static bool InspectConstructionArguments(std::string_view name, HistogramSample* minimum,
                                           HistogramSample* maximum, uint32_t* bucket_count);

 private:
  friend class ExponentialHistogramFactory;

  std::unique_ptr<BucketCountVector> SnapshotAllSamples() const;
  void WriteAsciiImpl(bool graph_it, const char* newline, std::string* output) const;

  const BucketBoundaries* const boundaries_;
  const HistogramSample declared_min_;
  const HistogramSample declared_max_;
  std::unique_ptr<BucketCountVector> samples_;
  std::unique_ptr<BucketCountVector> logged_samples_;
  bool final_delta_created_ = false;
};

}  // namespace base

#endif  // BASE_METRICS_HISTOGRAM_H_
