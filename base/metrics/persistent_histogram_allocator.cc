#include "base/metrics/persistent_histogram_allocator.h"

#include <cstddef>
#include <cstring>
#include <utility>

#include "base/logging.h"
#include "base/metrics/boolean_histogram.h"
#include "base/metrics/bucket_boundaries.h"
#include "base/metrics/custom_histogram.h"
#include "base/metrics/histogram.h"
#include "base/metrics/histogram_registry.h"
#include "base/metrics/linear_histogram.h"
#include "base/metrics/sparse_histogram.h"

namespace base {

namespace {

std::atomic<PersistentHistogramAllocator*> g_global_allocator{nullptr};

// The result histogram is made on first use, once. Making it goes through
// the factories, which may come back here (a persistent allocation, an
// import): results seen meanwhile are dropped.
enum ResultHistogramState { kNotMade, kMaking, kMade };
std::atomic<int> g_result_histogram_state{kNotMade};
std::atomic<HistogramBase*> g_result_histogram{nullptr};

static_assert(sizeof(SampleMetadata) == 24);

}  // namespace

PersistentHistogramAllocator::PersistentHistogramAllocator(
    std::unique_ptr<PersistentMemoryAllocator> memory)
    : memory_allocator_(std::move(memory)),
      sparse_data_manager_(memory_allocator_.get()),
      import_iterator_(memory_allocator_.get()) {
  static_assert(offsetof(HistogramData, samples_metadata) == 32);
  static_assert(offsetof(HistogramData, logged_metadata) == 56);
  static_assert(offsetof(HistogramData, name) == kNameOffset);
  static_assert(sizeof(HistogramData) == 88);
}

PersistentHistogramAllocator::~PersistentHistogramAllocator() = default;

// static
void PersistentHistogramAllocator::RecordCreateHistogramResult(CreateHistogramResult result) {
  int state = g_result_histogram_state.load(std::memory_order_acquire);
  if (state == kNotMade &&
      g_result_histogram_state.compare_exchange_strong(state, kMaking, std::memory_order_acq_rel)) {
    g_result_histogram.store(
        LinearHistogram::GetOrCreate("Metrics.CreatePersistentHistogram.Result",
                                     kCreateHistogramMax, kCreateHistogramMax + 1),
        std::memory_order_release);
    g_result_histogram_state.store(kMade, std::memory_order_release);
  }
  if (g_result_histogram_state.load(std::memory_order_acquire) != kMade)
    return;
  if (HistogramBase* histogram = g_result_histogram.load(std::memory_order_acquire))
    histogram->Add(result);
}

std::unique_ptr<HistogramBase> PersistentHistogramAllocator::AllocateHistogram(
    HistogramType type, std::string_view name, HistogramSample minimum, HistogramSample maximum,
    const BucketBoundaries* boundaries, int32_t flags, Reference* ref_out) {
  PersistentMemoryAllocator* memory = memory_allocator_.get();
  if (memory->IsCorrupt()) {
    memory->SetCorrupt();
    RecordCreateHistogramResult(kCreateHistogramAllocatorCorrupt);
    return nullptr;
  }

  const Reference histogram_ref =
      memory->Allocate(name.size() + kNameOffset + 1, kTypeIdHistogramUnderConstruction);
  auto* data = memory->GetAsObject<HistogramData>(histogram_ref, kTypeIdHistogramUnderConstruction);
  if (data) {
    std::memcpy(data->name, name.data(), name.size());
    data->name[name.size()] = '\0';
    data->histogram_type = type;
    data->flags = flags | HistogramBase::kIsPersistent;
  }

  if (type != SPARSE_HISTOGRAM) {
    const size_t bucket_count = boundaries->bucket_count();
    if (bucket_count == 0) {
      LOG(ERROR) << "persistent histogram " << name << " has no buckets";
      return nullptr;
    }
    const uint64_t counts_bytes = uint64_t{bucket_count} * 2 * sizeof(HistogramCount);
    const Reference counts_ref = memory->Allocate(counts_bytes, kTypeIdCountsArray);
    const uint64_t ranges_bytes = (uint64_t{bucket_count} + 1) * sizeof(HistogramSample);
    const Reference ranges_ref = memory->Allocate(ranges_bytes, kTypeIdRangesArray);
    auto* ranges = static_cast<HistogramSample*>(
        memory->GetBlockData(ranges_ref, kTypeIdRangesArray, static_cast<uint32_t>(ranges_bytes)));
    if (counts_ref && ranges && data) {
      for (size_t i = 0; i <= bucket_count; ++i)
        ranges[i] = boundaries->range(i);
      data->minimum = minimum;
      data->maximum = maximum;
      data->bucket_count = static_cast<uint32_t>(bucket_count);
      data->ranges_ref = ranges_ref;
      data->ranges_checksum = boundaries->checksum();
      data->counts_ref = counts_ref;
      data->samples_metadata.id = HashHistogramName(name);
      data->logged_metadata.id = data->samples_metadata.id;
    } else {
      data = nullptr;
    }
  }

  if (data) {
    std::unique_ptr<HistogramBase> histogram = CreateHistogram(data, name.size() + 1);
    if (histogram) {
      memory->ChangeType(histogram_ref, kTypeIdHistogram, kTypeIdHistogramUnderConstruction);
      if (ref_out)
        *ref_out = histogram_ref;
      last_created_.store(histogram_ref, std::memory_order_relaxed);
    }
    return histogram;
  }

  LOG(ERROR) << "no room for persistent histogram " << name << " in its segment"
             << (memory->IsFull() ? " (full)" : "") << (memory->IsCorrupt() ? " (corrupt)" : "");
  if (!memory->IsCorrupt()) {
    RecordCreateHistogramResult(memory->IsFull() ? kCreateHistogramAllocatorFull
                                                 : kCreateHistogramAllocatorError);
  } else {
    memory->SetCorrupt();
    RecordCreateHistogramResult(kCreateHistogramAllocatorNewlyCorrupt);
    RecordCreateHistogramResult(kCreateHistogramAllocatorCorrupt);
  }
  return nullptr;
}

void PersistentHistogramAllocator::FinalizeHistogram(Reference ref, bool registered) {
  if (registered)
    memory_allocator_->MakeIterable(ref);
}

std::unique_ptr<HistogramBase> PersistentHistogramAllocator::GetHistogram(Reference ref) {
  PersistentMemoryAllocator* memory = memory_allocator_.get();
  auto* data = memory->GetAsObject<HistogramData>(ref, kTypeIdHistogram);
  const uint32_t size = memory->GetAllocSize(ref);
  // The name must end inside the block and not be empty; a sample set
  // without an id could not be told from another.
  if (!data || size < sizeof(HistogramData) ||
      reinterpret_cast<const char*>(data)[size - 1] != '\0' || data->name[0] == '\0' ||
      data->samples_metadata.id == 0 || data->logged_metadata.id == 0) {
    LOG(ERROR) << "persistent histogram record " << ref << " is damaged";
    RecordCreateHistogramResult(kCreateHistogramInvalidMetadata);
    return nullptr;
  }
  return CreateHistogram(data, size - kNameOffset);
}

std::unique_ptr<HistogramBase> PersistentHistogramAllocator::CreateHistogram(HistogramData* data,
                                                                             size_t name_capacity) {
  if (!data) {
    RecordCreateHistogramResult(kCreateHistogramInvalidMetadataPointer);
    return nullptr;
  }
  PersistentMemoryAllocator* memory = memory_allocator_.get();
  // Another process may change the record at any time: every field is read
  // once, and only the copy is checked and used.
  const uint32_t type = data->histogram_type;
  const int32_t stored_flags = data->flags;
  const HistogramSample minimum = data->minimum;
  const HistogramSample maximum = data->maximum;
  const uint64_t bucket_count = data->bucket_count;
  const Reference ranges_ref = data->ranges_ref;
  const uint32_t ranges_checksum = data->ranges_checksum;
  const Reference counts_ref = data->counts_ref;
  const std::string name(data->name, strnlen(data->name, name_capacity));

  std::unique_ptr<HistogramBase> histogram;
  if (type == SPARSE_HISTOGRAM) {
    histogram = SparseHistogram::PersistentCreate(this, name, &data->samples_metadata,
                                                  &data->logged_metadata);
  } else {
    const HistogramSample* ranges = static_cast<const HistogramSample*>(
        memory->GetBlockData(ranges_ref, kTypeIdRangesArray, 0));
    // Sizes are computed in 64 bits: a bucket count from the segment may
    // be anything, and its products must not wrap into a small size.
    if (!ranges || bucket_count < 2 || bucket_count > 0x3FFFFFFE ||
        memory->GetAllocSize(ranges_ref) < (bucket_count + 1) * sizeof(HistogramSample)) {
      LOG(ERROR) << "persistent histogram " << name << " has no valid boundaries for "
                 << bucket_count << " buckets";
      RecordCreateHistogramResult(kCreateHistogramInvalidRangesArray);
      return nullptr;
    }
    auto boundaries = std::make_unique<BucketBoundaries>(static_cast<size_t>(bucket_count));
    for (size_t i = 0; i <= bucket_count; ++i)
      boundaries->set_range(i, ranges[i]);
    boundaries->set_checksum(ranges_checksum);
    bool ordered = true;
    for (size_t i = 1; i <= bucket_count; ++i)
      ordered = ordered && boundaries->range(i) > boundaries->range(i - 1);
    // Recording clamps values to [0, INT32_MAX - 1] and looks them up between
    // the first and the last boundary: any other ends would stop the process
    // at the first sample.
    if (!ordered || boundaries->range(0) != 0 ||
        boundaries->range(bucket_count) != HistogramBase::kSampleTypeMax ||
        !boundaries->HasValidChecksum()) {
      LOG(ERROR) << "persistent histogram " << name
                 << " has boundaries out of order, not from 0 to " << HistogramBase::kSampleTypeMax
                 << ", or with a wrong checksum";
      RecordCreateHistogramResult(kCreateHistogramInvalidRangesArray);
      return nullptr;
    }
    auto* counts = static_cast<std::atomic<HistogramCount>*>(
        memory->GetBlockData(counts_ref, kTypeIdCountsArray, 0));
    if (!counts || memory->GetAllocSize(counts_ref) < bucket_count * 2 * sizeof(HistogramCount)) {
      LOG(ERROR) << "persistent histogram " << name << " has no valid counts";
      RecordCreateHistogramResult(kCreateHistogramInvalidCountsArray);
      return nullptr;
    }
    std::atomic<HistogramCount>* logged_counts = counts + bucket_count;
    if (type != HISTOGRAM && type != LINEAR_HISTOGRAM && type != BOOLEAN_HISTOGRAM &&
        type != CUSTOM_HISTOGRAM) {
      LOG(ERROR) << "persistent histogram " << name << " has the unknown kind " << type;
      RecordCreateHistogramResult(kCreateHistogramUnknownType);
      return nullptr;
    }
    // Handed over only once a histogram will hold them: without a registry
    // nothing else would ever free them.
    const BucketBoundaries* registered =
        HistogramRegistry::RegisterOrDeleteDuplicateRanges(boundaries.release());

    // Over a read-only segment the histogram is built on the heap and gets a
    // copy of the counts below.
    const bool copy = memory->IsReadOnly();
    std::atomic<HistogramCount>* own_counts = copy ? nullptr : counts;
    switch (type) {
      case HISTOGRAM:
        histogram = Histogram::PersistentCreate(name, minimum, maximum, registered, own_counts,
                                                logged_counts, &data->samples_metadata,
                                                &data->logged_metadata);
        break;
      case LINEAR_HISTOGRAM:
        histogram = LinearHistogram::PersistentCreate(
            name, minimum, maximum, registered, own_counts, logged_counts, &data->samples_metadata,
            &data->logged_metadata);
        break;
      case BOOLEAN_HISTOGRAM:
        histogram =
            BooleanHistogram::PersistentCreate(name, registered, own_counts, logged_counts,
                                               &data->samples_metadata, &data->logged_metadata);
        break;
      case CUSTOM_HISTOGRAM:
        histogram =
            CustomHistogram::PersistentCreate(name, registered, own_counts, logged_counts,
                                              &data->samples_metadata, &data->logged_metadata);
        break;
      default: return nullptr;  // refused above
    }
    if (copy) {
      std::unique_ptr<HistogramBase> view =
          Histogram::PersistentCreate(name, minimum, maximum, registered, counts, logged_counts,
                                      &data->samples_metadata, &data->logged_metadata);
      histogram->AddSampleSet(*view->TakeSnapshot());
    }
  }
  if (type == SPARSE_HISTOGRAM && memory->IsReadOnly()) {
    std::unique_ptr<HistogramBase> view = std::move(histogram);
    histogram = SparseHistogram::PersistentCreate(nullptr, name, nullptr, nullptr);
    histogram->AddSampleSet(*view->TakeSnapshot());
  }

  histogram->SetFlags(stored_flags);
  RecordCreateHistogramResult(kCreateHistogramSuccess);
  return histogram;
}

void PersistentHistogramAllocator::ImportHistogramsToRegistry() {
  const Reference last_created = last_created_.load(std::memory_order_relaxed);
  while (Reference ref = import_iterator_.GetNextOfType(kTypeIdHistogram)) {
    if (ref == last_created)
      continue;
    std::unique_ptr<HistogramBase> histogram = GetHistogram(ref);
    if (!histogram)
      break;
    HistogramRegistry::RegisterOrDeleteDuplicate(histogram.release());
  }
}

// static
bool PersistentHistogramAllocator::SetGlobal(
    std::unique_ptr<PersistentHistogramAllocator> allocator) {
  PersistentHistogramAllocator* expected = nullptr;
  if (!g_global_allocator.compare_exchange_strong(expected, allocator.get(),
                                                  std::memory_order_acq_rel)) {
    LOG(ERROR) << "a global persistent histogram allocator exists already";
    return false;
  }
  // Published for the rest of the process (or until a test takes it back).
  (void)allocator.release();
  return true;
}

// static
PersistentHistogramAllocator* PersistentHistogramAllocator::GetGlobal() {
  return g_global_allocator.load(std::memory_order_acquire);
}

// static
bool PersistentHistogramAllocator::CreateGlobalWithLocalMemory(size_t size, uint64_t id) {
  auto memory = std::make_unique<LocalPersistentMemoryAllocator>(size, id);
  if (!memory->IsValid())
    return false;
  return SetGlobal(std::make_unique<PersistentHistogramAllocator>(std::move(memory)));
}

// static
bool PersistentHistogramAllocator::CreateGlobalWithSharedMemory(const FilePath& path,
                                                                const std::wstring& mapping_name,
                                                                size_t size, uint64_t id) {
  std::unique_ptr<SharedPersistentMemoryAllocator> memory =
      SharedPersistentMemoryAllocator::Create(path, mapping_name, size, id);
  if (!memory)
    return false;
  return SetGlobal(std::make_unique<PersistentHistogramAllocator>(std::move(memory)));
}

// static
std::unique_ptr<PersistentHistogramAllocator>
PersistentHistogramAllocator::ReleaseGlobalForTesting() {
  return std::unique_ptr<PersistentHistogramAllocator>(
      g_global_allocator.exchange(nullptr, std::memory_order_acq_rel));
}

}  // namespace base
