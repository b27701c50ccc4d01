#include "base/metrics/sparse_histogram.h"

#include <algorithm>
#include <utility>

#include "base/binary_message.h"
#include "base/logging.h"
#include "base/metrics/histogram_factory.h"
#include "base/metrics/persistent_histogram_allocator.h"
#include "base/metrics/persistent_sample_map.h"
#include "base/metrics/sample_iterator.h"
#include "base/metrics/sparse_sample_map.h"
#include "base/string_printf.h"
#include "base/values.h"

namespace base {

// static
HistogramBase* SparseHistogram::GetOrCreate(std::string_view name) {
  HistogramBase* histogram = histogram_factory_internal::FindRegistered(name);
  if (!histogram) {
    PersistentHistogramAllocator* allocator = PersistentHistogramAllocator::GetGlobal();
    PersistentMemoryAllocator::Reference ref = 0;
    std::unique_ptr<HistogramBase> created;
    if (allocator) {
      created = allocator->AllocateHistogram(SPARSE_HISTOGRAM, name, 0, 0, nullptr,
                                             kUmaTargetedHistogramFlag, &ref);
    }
    if (!created) {
      created.reset(new SparseHistogram(std::string(name)));
      created->SetFlags(kUmaTargetedHistogramFlag);
    }
    histogram = histogram_factory_internal::RegisterCreated(created.release(), allocator, ref);
  }
  return histogram_factory_internal::CheckType(histogram, SPARSE_HISTOGRAM, name);
}

// static
std::unique_ptr<HistogramBase> SparseHistogram::PersistentCreate(
    PersistentHistogramAllocator* allocator, std::string_view name, SampleMetadata* meta,
    SampleMetadata* logged_meta) {
  if (!allocator)
    return std::unique_ptr<HistogramBase>(new SparseHistogram(std::string(name)));
  return std::unique_ptr<HistogramBase>(
      new SparseHistogram(allocator, std::string(name), meta, logged_meta));
}

SparseHistogram::SparseHistogram(std::string name)
    : HistogramBase(std::move(name)),
      unlogged_samples_(std::make_unique<SparseSampleMap>(HashHistogramName(histogram_name()))),
      logged_samples_(std::make_unique<SparseSampleMap>(unlogged_samples_->id())) {}

SparseHistogram::SparseHistogram(PersistentHistogramAllocator* allocator, std::string name,
                                 SampleMetadata* meta, SampleMetadata* logged_meta)
    : HistogramBase(std::move(name)),
      unlogged_samples_(std::make_unique<PersistentSampleMap>(
          HashHistogramName(histogram_name()), allocator->sparse_data_manager(), meta)),
      logged_samples_(std::make_unique<PersistentSampleMap>(
          HashHistogramName(histogram_name()) + 1, allocator->sparse_data_manager(), logged_meta)) {
}

SparseHistogram::~SparseHistogram() = default;

uint64_t SparseHistogram::GetSamplesId() const { return unlogged_samples_->id(); }

HistogramType SparseHistogram::GetHistogramType() const { return SPARSE_HISTOGRAM; }

bool SparseHistogram::MatchesArguments(HistogramSample /*minimum*/, HistogramSample /*maximum*/,
                                       uint32_t /*bucket_count*/) const {
  return false;
}

void SparseHistogram::Add(HistogramSample value) { AddCount(value, 1); }

void SparseHistogram::AddCount(HistogramSample value, int count) {
  if (count < 1)
    return;
  {
    AutoLock lock(lock_);
    unlogged_samples_->Accumulate(value, count);
  }
  if (flags() & kCallbackExists)
    FindAndRunCallback(value);
}

void SparseHistogram::AddSampleSet(const HistogramSampleSet& samples) {
  AutoLock lock(lock_);
  unlogged_samples_->Add(samples);
}

bool SparseHistogram::AddSerializedSamples(BinaryMessageReader* reader) {
  AutoLock lock(lock_);
  return unlogged_samples_->AddSerialized(reader);
}

std::unique_ptr<HistogramSampleSet> SparseHistogram::TakeSnapshot() const {
  auto snapshot = std::make_unique<SparseSampleMap>(GetSamplesId());
  AutoLock lock(lock_);
  snapshot->Add(*unlogged_samples_);
  return snapshot;
}

std::unique_ptr<HistogramSampleSet> SparseHistogram::TakeDeltaSnapshot() {
  auto snapshot = std::make_unique<SparseSampleMap>(GetSamplesId());
  AutoLock lock(lock_);
  snapshot->Add(*unlogged_samples_);
  snapshot->Subtract(*logged_samples_);
  logged_samples_->Add(*snapshot);
  return snapshot;
}

std::unique_ptr<HistogramSampleSet> SparseHistogram::TakeFinalDeltaSnapshot() {
  auto snapshot = std::make_unique<SparseSampleMap>(GetSamplesId());
  AutoLock lock(lock_);
  final_delta_created_ = true;
  snapshot->Add(*unlogged_samples_);
  snapshot->Subtract(*logged_samples_);
  return snapshot;
}

void SparseHistogram::WriteHtml(std::string* output) const {
  output->append("<PRE>");
  WriteAsciiImpl(true, "<br>", output);
  output->append("</PRE>");
}

void SparseHistogram::WriteAscii(std::string* output) const { WriteAsciiImpl(true, "\n", output); }

void SparseHistogram::WriteAsciiImpl(bool graph_it, const char* newline,
                                     std::string* output) const {
  std::unique_ptr<HistogramSampleSet> snapshot = TakeSnapshot();
  const HistogramCount total = snapshot->TotalCount();

  AppendFormat(output, "Histogram: %s recorded %d samples", histogram_name().c_str(), total);
  if (flags() != 0)
    AppendFormat(output, " (flags = 0x%x)", static_cast<unsigned>(flags()));
  output->append(newline);
  if (!graph_it)
    return;

  HistogramSample largest_value = 0;
  HistogramCount largest_count = 0;
  HistogramSample value;
  HistogramCount count;
  for (auto it = snapshot->CreateIterator(); !it->Done(); it->Next()) {
    it->Get(&value, nullptr, &count);
    largest_value = std::max(largest_value, value);
    largest_count = std::max(largest_count, count);
  }
  const size_t width = FormatString("%d", largest_value).size();

  const double percent_scale = total != 0 ? 100.0 / total : 0.0;
  for (auto it = snapshot->CreateIterator(); !it->Done(); it->Next()) {
    it->Get(&value, nullptr, &count);
    const std::string label = FormatString("%d", value);
    output->append(label);
    if (label.size() < width + 2)
      output->append(width + 2 - label.size(), ' ');
    WriteAsciiBucketGraph(count, largest_count, output);
    AppendFormat(output, " (%d = %3.1f%%)", count, count * percent_scale);
    output->append(newline);
  }
}

bool SparseHistogram::SerializeInfo(BinaryMessage* message) const {
  if (!message->WriteString(histogram_name()) || !message->WriteInt(flags())) {
    LOG(ERROR) << "cannot serialize histogram " << histogram_name();
    return false;
  }
  return true;
}

void SparseHistogram::DescribeParameters(DictValue* params) const {
  params->SetStringWithoutPathExpansion("type", HistogramTypeToString(SPARSE_HISTOGRAM));
}

void SparseHistogram::DescribeBuckets(int* /*count*/, int64_t* /*sum*/,
                                      ListValue* /*buckets*/) const {
  // A sparse histogram has no fixed buckets to describe.
}

}  // namespace base
