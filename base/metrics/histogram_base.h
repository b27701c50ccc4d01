// The interface of every histogram kind: record samples, take snapshots of
// them, write them as text, HTML or a value tree, and serialize the
// construction data.
#ifndef BASE_METRICS_HISTOGRAM_BASE_H_
#define BASE_METRICS_HISTOGRAM_BASE_H_

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace base {

class BinaryMessage;
class BinaryMessageReader;
class DictValue;
class HistogramSampleSet;
class ListValue;

// A recorded value and a number of samples.
using HistogramSample = int32_t;
using HistogramCount = int32_t;

enum HistogramType : int {
  HISTOGRAM = 0,
  LINEAR_HISTOGRAM = 1,
  BOOLEAN_HISTOGRAM = 2,
  CUSTOM_HISTOGRAM = 3,
  SPARSE_HISTOGRAM = 4,
};

// "HISTOGRAM", "LINEAR_HISTOGRAM", ..., "UNKNOWN" for any other number.
std::string HistogramTypeToString(HistogramType type);

// The 64-bit id of a histogram's samples: the first 8 bytes of the MD5 digest
// of |name| read as a big-endian number.
uint64_t HashHistogramName(std::string_view name);

class HistogramBase {
 public:
  // Values are clamped below this (its largest recordable value is one less).
  static constexpr HistogramSample kSampleTypeMax = INT32_MAX;

  // Flag bits.
  enum Flags : int32_t {
    kNoFlags = 0,
    kUmaTargetedHistogramFlag = 1,
    kUmaStabilityHistogramFlag = kUmaTargetedHistogramFlag | 2,
    kCallbackExists = 32,
    kIsPersistent = 64,
  };

  // Bits of FindCorruption.
  enum Inconsistency : uint32_t {
    NO_INCONSISTENCIES = 0,
    RANGE_CHECKSUM_ERROR = 1,
    BUCKET_ORDER_ERROR = 2,
    COUNT_HIGH_ERROR = 4,
    COUNT_LOW_ERROR = 8,
  };

  explicit HistogramBase(std::string name);
  HistogramBase(const HistogramBase&) = delete;
  HistogramBase& operator=(const HistogramBase&) = delete;
  virtual ~HistogramBase();

  const std::string& histogram_name() const { return histogram_name_; }
  int32_t flags() const { return flags_.load(std::memory_order_relaxed); }
  void SetFlags(int32_t flags) { flags_.fetch_or(flags, std::memory_order_relaxed); }
  void ClearFlags(int32_t flags) { flags_.fetch_and(~flags, std::memory_order_relaxed); }

  virtual uint64_t GetSamplesId() const = 0;
  virtual HistogramType GetHistogramType() const = 0;
  // True when the histogram was built with these arguments.
  virtual bool MatchesArguments(HistogramSample minimum, HistogramSample maximum,
                                uint32_t bucket_count) const = 0;
  virtual void Add(HistogramSample value) = 0;
  // A |count| below 1 does nothing.
  virtual void AddCount(HistogramSample value, int count) = 0;
  virtual void AddSampleSet(const HistogramSampleSet& samples) = 0;
  virtual bool AddSerializedSamples(BinaryMessageReader* reader) = 0;
  // Bits of Inconsistency; 0 unless a kind checks something.
  virtual uint32_t FindCorruption(const HistogramSampleSet& samples) const;
  // Everything recorded so far.
  virtual std::unique_ptr<HistogramSampleSet> TakeSnapshot() const = 0;
  // What was recorded since the previous delta (everything, the first time).
  virtual std::unique_ptr<HistogramSampleSet> TakeDeltaSnapshot() = 0;
  // Like TakeDeltaSnapshot without remembering it; the last one taken.
  virtual std::unique_ptr<HistogramSampleSet> TakeFinalDeltaSnapshot() = 0;
  virtual void WriteHtml(std::string* output) const = 0;
  virtual void WriteAscii(std::string* output) const = 0;
  // Appends the construction data; false when the message refused a field.
  virtual bool SerializeInfo(BinaryMessage* message) const = 0;
  virtual void DescribeParameters(DictValue* params) const = 0;
  // The snapshot's total count and sum, and one dictionary per non-empty
  // bucket.
  virtual void DescribeBuckets(int* count, int64_t* sum, ListValue* buckets) const = 0;

 protected:
  // |current| / |max| * 72 dashes (rounded), an "O", spaces up to 72 columns.
  static void WriteAsciiBucketGraph(double current, double max, std::string* output);
  // Runs the per-name sample callback of the histogram registry, if any.
  void FindAndRunCallback(HistogramSample sample) const;

 private:
  const std::string histogram_name_;
  std::atomic<int32_t> flags_{0};
};

}  // namespace base

#endif  // BASE_METRICS_HISTOGRAM_BASE_H_
