#include "base/metrics/histogram.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "base/binary_message.h"
#include "base/logging.h"
#include "base/metrics/bucket_boundaries.h"
#include "base/metrics/bucket_count_vector.h"
#include "base/metrics/histogram_factory.h"
#include "base/metrics/histogram_macros.h"
#include "base/string_printf.h"
#include "base/values.h"

namespace base {

// Differences between the redundant count and the bucket total up to this
// come from samples being recorded while a snapshot is copied.
constexpr int kCommonRaceBasedCountMismatch = 5;

class ExponentialHistogramFactory : public HistogramFactory {
 public:
  ExponentialHistogramFactory(std::string_view name, HistogramSample minimum,
                              HistogramSample maximum, uint32_t bucket_count, int32_t flags)
      : HistogramFactory(name, HISTOGRAM, minimum, maximum, bucket_count, flags) {}

 protected:
  std::unique_ptr<BucketBoundaries> CreateBoundaries() override {
    auto boundaries = std::make_unique<BucketBoundaries>(bucket_count_);
    Histogram::FillExponentialRanges(minimum_, maximum_, boundaries.get());
    return boundaries;
  }
  std::unique_ptr<HistogramBase> CreateHistogram(const BucketBoundaries* boundaries) override {
    return std::unique_ptr<HistogramBase>(new Histogram(name_, minimum_, maximum_, boundaries));
  }
};

Histogram::Histogram(std::string name, HistogramSample minimum, HistogramSample maximum,
                     const BucketBoundaries* boundaries)
    : HistogramBase(std::move(name)),
      boundaries_(boundaries),
      declared_min_(minimum),
      declared_max_(maximum) {
  if (boundaries_)
    samples_ =
        std::make_unique<BucketCountVector>(HashHistogramName(histogram_name()), boundaries_);
}

Histogram::Histogram(std::string name, HistogramSample minimum, HistogramSample maximum,
                     const BucketBoundaries* boundaries, std::atomic<HistogramCount>* counts,
                     std::atomic<HistogramCount>* logged_counts, SampleMetadata* meta,
                     SampleMetadata* logged_meta)
    : HistogramBase(std::move(name)),
      boundaries_(boundaries),
      declared_min_(minimum),
      declared_max_(maximum),
      samples_(std::make_unique<BucketCountVector>(counts, meta, boundaries)),
      logged_samples_(std::make_unique<BucketCountVector>(logged_counts, logged_meta, boundaries)) {
}

Histogram::~Histogram() = default;

// static
std::unique_ptr<HistogramBase> Histogram::PersistentCreate(
    std::string_view name, HistogramSample minimum, HistogramSample maximum,
    const BucketBoundaries* boundaries, std::atomic<HistogramCount>* counts,
    std::atomic<HistogramCount>* logged_counts, SampleMetadata* meta, SampleMetadata* logged_meta) {
  if (!counts)
    return std::unique_ptr<HistogramBase>(
        new Histogram(std::string(name), minimum, maximum, boundaries));
  return std::unique_ptr<HistogramBase>(new Histogram(
      std::string(name), minimum, maximum, boundaries, counts, logged_counts, meta, logged_meta));
}

// static
bool Histogram::InspectConstructionArguments(std::string_view name, HistogramSample* minimum,
                                             HistogramSample* maximum, uint32_t* bucket_count) {
  if (*minimum < 1)
    *minimum = 1;
  if (*maximum >= kSampleTypeMax)
    *maximum = kSampleTypeMax - 1;
  if (*bucket_count >= kBucketCountMax)
    *bucket_count = kBucketCountMax - 1;
  if (*bucket_count < 3) {
    LOG(ERROR) << "histogram " << name << " needs at least 3 buckets, not " << *bucket_count;
    return false;
  }
  if (*minimum >= *maximum) {
    LOG(ERROR) << "histogram " << name << " has minimum " << *minimum << " not below its maximum "
               << *maximum;
    return false;
  }
  return true;
}

// static
HistogramBase* Histogram::GetOrCreate(std::string_view name, HistogramSample minimum,
                                      HistogramSample maximum, uint32_t bucket_count,
                                      int32_t flags) {
  if (!InspectConstructionArguments(name, &minimum, &maximum, &bucket_count))
    return nullptr;
  return ExponentialHistogramFactory(name, minimum, maximum, bucket_count, flags).Build();
}

// static
HistogramBase* Histogram::GetOrCreateCounts(std::string_view name, HistogramSample maximum) {
  return GetOrCreate(name, 1, maximum, 50, kUmaTargetedHistogramFlag);
}

// static
HistogramBase* Histogram::GetOrCreateTimes(std::string_view name, TimeSpan minimum,
                                           TimeSpan maximum) {
  return GetOrCreate(name, internal::TimeSpanToHistogramSample(minimum),
                     internal::TimeSpanToHistogramSample(maximum), 50, kUmaTargetedHistogramFlag);
}

// static
void Histogram::FillExponentialRanges(HistogramSample minimum, HistogramSample maximum,
                                      BucketBoundaries* boundaries) {
  CHECK_GE(minimum, 0);
  const size_t bucket_count = boundaries->bucket_count();
  HistogramSample current = minimum;
  boundaries->set_range(1, current);
  const double log_max = std::log(static_cast<double>(maximum));
  for (size_t index = 2; index < bucket_count; ++index) {
    const double log_current = std::log(static_cast<double>(current));
    const double log_ratio = (log_max - log_current) / static_cast<double>(bucket_count - index);
    const double log_next = log_current + log_ratio;
    const HistogramSample next = static_cast<HistogramSample>(std::floor(std::exp(log_next) + 0.5));
    // Always grow by at least one, so that small buckets are never empty.
    current = next > current ? next : current + 1;
    boundaries->set_range(index, current);
  }
  boundaries->set_range(bucket_count, kSampleTypeMax);
  boundaries->ResetChecksum();
}

// static
void Histogram::FillLinearRanges(HistogramSample minimum, HistogramSample maximum,
                                 BucketBoundaries* boundaries) {
  const size_t bucket_count = boundaries->bucket_count();
  // The spacing divides by n - 2, and boundary 1 must stay below boundary
  // n - 1: anything less is a caller's mistake, not a histogram.
  CHECK_GE(bucket_count, 3u);
  CHECK_LT(minimum, maximum);
  const double min = minimum;
  const double max = maximum;
  for (size_t index = 1; index < bucket_count; ++index) {
    const double linear_range = (static_cast<double>(bucket_count - index - 1) * min +
                                 static_cast<double>(index - 1) * max) /
                                static_cast<double>(bucket_count - 2);
    boundaries->set_range(index, static_cast<HistogramSample>(linear_range + 0.5));
  }
  boundaries->set_range(bucket_count, kSampleTypeMax);
  boundaries->ResetChecksum();
}

uint64_t Histogram::GetSamplesId() const { return samples_->id(); }

HistogramType Histogram::GetHistogramType() const { return HISTOGRAM; }

bool Histogram::MatchesArguments(HistogramSample minimum, HistogramSample maximum,
                                 uint32_t bucket_count) const {
  return minimum == declared_min_ && maximum == declared_max_ && bucket_count == GetBucketCount();
}

void Histogram::Add(HistogramSample value) { AddCount(value, 1); }

void Histogram::AddCount(HistogramSample value, int count) {
  if (count < 1)
    return;
  if (value > kSampleTypeMax - 1)
    value = kSampleTypeMax - 1;
  if (value < 0)
    value = 0;
  samples_->Accumulate(value, count);
  if (flags() & kCallbackExists)
    FindAndRunCallback(value);
}

void Histogram::AddSampleSet(const HistogramSampleSet& samples) { samples_->Add(samples); }

bool Histogram::AddSerializedSamples(BinaryMessageReader* reader) {
  return samples_->AddSerialized(reader);
}

uint32_t Histogram::FindCorruption(const HistogramSampleSet& samples) const {
  uint32_t inconsistencies = NO_INCONSISTENCIES;
  // Boundary 0 is always 0, so -1 is below everything.
  int64_t previous = -1;
  for (size_t index = 0; index < GetBucketCount(); ++index) {
    const int64_t boundary = boundaries_->range(index);
    if (previous >= boundary)
      inconsistencies |= BUCKET_ORDER_ERROR;
    previous = boundary;
  }
  if (!boundaries_->HasValidChecksum())
    inconsistencies |= RANGE_CHECKSUM_ERROR;

  const int64_t delta = static_cast<int64_t>(samples.redundant_count()) - samples.TotalCount();
  if (delta > 0) {
    HISTOGRAM_COUNTS("Histogram.InconsistentCountHigh",
                     static_cast<HistogramSample>(std::min<int64_t>(delta, INT32_MAX)), 1000000);
    if (delta > kCommonRaceBasedCountMismatch)
      inconsistencies |= COUNT_HIGH_ERROR;
  } else if (delta < 0) {
    HISTOGRAM_COUNTS("Histogram.InconsistentCountLow",
                     static_cast<HistogramSample>(std::min<int64_t>(-delta, INT32_MAX)), 1000000);
    if (-delta > kCommonRaceBasedCountMismatch)
      inconsistencies |= COUNT_LOW_ERROR;
  }
  return inconsistencies;
}

std::unique_ptr<BucketCountVector> Histogram::SnapshotAllSamples() const {
  auto snapshot = std::make_unique<BucketCountVector>(samples_->id(), boundaries_);
  snapshot->Add(*samples_);
  return snapshot;
}

std::unique_ptr<HistogramSampleSet> Histogram::TakeSnapshot() const { return SnapshotAllSamples(); }

std::unique_ptr<HistogramSampleSet> Histogram::TakeDeltaSnapshot() {
  if (!logged_samples_) {
    // The first delta is everything: it becomes the logged samples and the
    // caller gets a copy of exactly that.
    logged_samples_ = SnapshotAllSamples();
    auto delta = std::make_unique<BucketCountVector>(samples_->id(), boundaries_);
    delta->Add(*logged_samples_);
    return delta;
  }
  std::unique_ptr<BucketCountVector> snapshot = SnapshotAllSamples();
  snapshot->Subtract(*logged_samples_);
  logged_samples_->Add(*snapshot);
  return snapshot;
}

std::unique_ptr<HistogramSampleSet> Histogram::TakeFinalDeltaSnapshot() {
  final_delta_created_ = true;
  std::unique_ptr<BucketCountVector> snapshot = SnapshotAllSamples();
  if (logged_samples_)
    snapshot->Subtract(*logged_samples_);
  return snapshot;
}

HistogramSample Histogram::GetBoundary(size_t index) const { return boundaries_->range(index); }

size_t Histogram::GetBucketCount() const { return boundaries_->bucket_count(); }

bool Histogram::ShouldPrintEmptyBucket(size_t /*index*/) const { return true; }

double Histogram::GetBucketDensity(HistogramCount count, size_t index) const {
  // Wide buckets are drawn as if they were at most this wide, so that the
  // large exponential buckets do not all look empty.
  constexpr double kTransitionWidth = 5;
  double width = static_cast<double>(GetBoundary(index + 1)) - GetBoundary(index);
  if (width > kTransitionWidth)
    width = kTransitionWidth;
  return count / width;
}

std::string Histogram::GetBucketLabel(size_t index) const {
  return FormatString("%d", GetBoundary(index));
}

void Histogram::WriteHtml(std::string* output) const {
  output->append("<PRE>");
  WriteAsciiImpl(true, "<br>", output);
  output->append("</PRE>");
}

void Histogram::WriteAscii(std::string* output) const { WriteAsciiImpl(true, "\n", output); }

void Histogram::WriteAsciiImpl(bool graph_it, const char* newline, std::string* output) const {
  std::unique_ptr<BucketCountVector> snapshot = SnapshotAllSamples();
  const HistogramCount total = snapshot->TotalCount();

  AppendFormat(output, "Histogram: %s recorded %d samples", histogram_name().c_str(), total);
  if (total != 0) {
    const float mean = static_cast<float>(snapshot->sum()) / static_cast<float>(total);
    AppendFormat(output, ", mean = %.1f", static_cast<double>(mean));
  }
  if (flags() != 0)
    AppendFormat(output, " (flags = 0x%x)", static_cast<unsigned>(flags()));
  output->append(newline);
  if (!graph_it)
    return;

  const size_t bucket_count = GetBucketCount();
  double peak = 0;
  size_t label_width = 0;
  for (size_t i = 0; i < bucket_count; ++i) {
    const HistogramCount count = snapshot->GetCountAtIndex(i);
    peak = std::max(peak, GetBucketDensity(count, i));
    if (count != 0)
      label_width = std::max(label_width, GetBucketLabel(i).size());
  }
  label_width += 1;

  const double percent_scale = total != 0 ? 100.0 / total : 0.0;
  int64_t past = 0;
  for (size_t i = 0; i < bucket_count; ++i) {
    const HistogramCount count = snapshot->GetCountAtIndex(i);
    if (count == 0 && !ShouldPrintEmptyBucket(i))
      continue;
    const std::string label = GetBucketLabel(i);
    output->append(label);
    if (label.size() < label_width + 1)
      output->append(label_width + 1 - label.size(), ' ');
    if (count == 0 && i + 1 < bucket_count && snapshot->GetCountAtIndex(i + 1) == 0) {
      while (i + 1 < bucket_count && snapshot->GetCountAtIndex(i + 1) == 0)
        ++i;
      output->append("... ");
      output->append(newline);
      continue;
    }
    WriteAsciiBucketGraph(GetBucketDensity(count, i), peak, output);
    AppendFormat(output, " (%d = %3.1f%%)", count, count * percent_scale);
    if (i > 0)
      AppendFormat(output, " {%3.1f%%}", static_cast<double>(past) * percent_scale);
    output->append(newline);
    past += count;
  }
}

bool Histogram::SerializeInfo(BinaryMessage* message) const {
  if (!message->WriteString(histogram_name()) || !message->WriteInt(flags()) ||
      !message->WriteInt(declared_min_) || !message->WriteInt(declared_max_) ||
      !message->WriteUInt32(static_cast<uint32_t>(GetBucketCount())) ||
      !message->WriteUInt32(boundaries_->checksum())) {
    LOG(ERROR) << "cannot serialize histogram " << histogram_name();
    return false;
  }
  return true;
}

void Histogram::DescribeParameters(DictValue* params) const {
  params->SetStringWithoutPathExpansion("type", HistogramTypeToString(GetHistogramType()));
  params->SetIntegerWithoutPathExpansion("min", declared_min_);
  params->SetIntegerWithoutPathExpansion("max", declared_max_);
  params->SetIntegerWithoutPathExpansion("bucket_count", static_cast<int>(GetBucketCount()));
}

void Histogram::DescribeBuckets(int* count, int64_t* sum, ListValue* buckets) const {
  std::unique_ptr<BucketCountVector> snapshot = SnapshotAllSamples();
  *count = snapshot->TotalCount();
  *sum = snapshot->sum();
  const size_t bucket_count = GetBucketCount();
  for (size_t i = 0; i < bucket_count; ++i) {
    const HistogramCount bucket = snapshot->GetCountAtIndex(i);
    if (bucket == 0)
      continue;
    auto entry = std::make_unique<DictValue>();
    entry->SetIntegerWithoutPathExpansion("low", GetBoundary(i));
    if (i != bucket_count - 1)
      entry->SetIntegerWithoutPathExpansion("high", GetBoundary(i + 1));
    entry->SetIntegerWithoutPathExpansion("count", bucket);
    buckets->Append(std::move(entry));
  }
}

}  // namespace base
