// Histograms whose counts live in a persistent memory segment. Each one is a
// metadata record (kind, flags, range, references of its boundaries and
// counts blocks, both sample counters and the name) from which any process
// that maps the segment rebuilds the histogram. Everything read back is
// checked: a damaged record gives no histogram and a result code.
//
// One allocator may be published for the process: the histogram factories
// then build their histograms in its segment.
#ifndef BASE_METRICS_PERSISTENT_HISTOGRAM_ALLOCATOR_H_
#define BASE_METRICS_PERSISTENT_HISTOGRAM_ALLOCATOR_H_

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "base/metrics/histogram_base.h"
#include "base/metrics/histogram_sample_set.h"
#include "base/metrics/persistent_memory_allocator.h"
#include "base/metrics/persistent_sparse_data_manager.h"

namespace base {

class BucketBoundaries;

class PersistentHistogramAllocator {
 public:
  using Reference = PersistentMemoryAllocator::Reference;

  // Block types.
  static constexpr uint32_t kTypeIdHistogramUnderConstruction = 0x0E9BA6ED;
  static constexpr uint32_t kTypeIdHistogram = 0xF1645912;
  static constexpr uint32_t kTypeIdRangesArray = 0xBCEA225B;
  static constexpr uint32_t kTypeIdCountsArray = 0x53215531;

  // Codes of "Metrics.CreatePersistentHistogram.Result".
  enum CreateHistogramResult {
    kCreateHistogramSuccess = 0,
    kCreateHistogramInvalidMetadataPointer = 1,
    kCreateHistogramInvalidMetadata = 2,
    kCreateHistogramInvalidRangesArray = 3,
    kCreateHistogramInvalidCountsArray = 4,
    kCreateHistogramAllocatorCorrupt = 5,
    kCreateHistogramAllocatorFull = 6,
    kCreateHistogramAllocatorError = 7,
    kCreateHistogramUnknownType = 8,
    kCreateHistogramAllocatorNewlyCorrupt = 9,
    kCreateHistogramMax = 10,
  };

  // The metadata record; the name runs from offset 80 to the block's end.
  struct HistogramData {
    uint32_t histogram_type;
    int32_t flags;
    int32_t minimum;
    int32_t maximum;
    uint32_t bucket_count;
    Reference ranges_ref;
    uint32_t ranges_checksum;
    Reference counts_ref;
    SampleMetadata samples_metadata;
    SampleMetadata logged_metadata;
    char name[8];
  };
  static constexpr uint32_t kNameOffset = 80;

  explicit PersistentHistogramAllocator(std::unique_ptr<PersistentMemoryAllocator> memory);
  PersistentHistogramAllocator(const PersistentHistogramAllocator&) = delete;
  PersistentHistogramAllocator& operator=(const PersistentHistogramAllocator&) = delete;
  virtual ~PersistentHistogramAllocator();

  PersistentMemoryAllocator* memory_allocator() { return memory_allocator_.get(); }
  PersistentSparseDataManager* sparse_data_manager() { return &sparse_data_manager_; }

  // A new histogram of |type| in the segment (boundaries copied from
  // |boundaries|; none for the sparse kind). Its reference goes to
  // |ref_out|; it becomes visible to readers by FinalizeHistogram. Null when
  // the segment has no room or is corrupt (the result code is recorded).
  std::unique_ptr<HistogramBase> AllocateHistogram(HistogramType type, std::string_view name,
                                                   HistogramSample minimum, HistogramSample maximum,
                                                   const BucketBoundaries* boundaries,
                                                   int32_t flags, Reference* ref_out);
  // Makes the histogram at |ref| iterable when it was |registered|; a
  // duplicate the registry deleted stays where no reader finds it.
  void FinalizeHistogram(Reference ref, bool registered);
  // The histogram of the metadata record at |ref|; null (with its result
  // code) when the record or a block it names is damaged. Over a read-only
  // segment the histogram gets its own copy of the counts, so that
  // recording into it never writes to the segment.
  std::unique_ptr<HistogramBase> GetHistogram(Reference ref);
  // Every complete histogram record not imported yet goes to the registry
  // (stopping at the first damaged one). This allocator's last own histogram
  // is skipped: its creator registers it.
  void ImportHistogramsToRegistry();

  // The process-wide allocator of the factories. Publishing fails (false,
  // nothing changes) when one exists already.
  static bool SetGlobal(std::unique_ptr<PersistentHistogramAllocator> allocator);
  static PersistentHistogramAllocator* GetGlobal();
  // Publishes an allocator over |size| bytes of this process's memory.
  static bool CreateGlobalWithLocalMemory(size_t size, uint64_t id);
  // Publishes an allocator over a new named mapping backed by |path|.
  static bool CreateGlobalWithSharedMemory(const FilePath& path, const std::wstring& mapping_name,
                                           size_t size, uint64_t id);
  // Unpublishes the allocator. Histograms built in its segment keep pointing
  // into it: the caller keeps it alive as long as they are used.
  static std::unique_ptr<PersistentHistogramAllocator> ReleaseGlobalForTesting();

  // Records |result| in "Metrics.CreatePersistentHistogram.Result".
  static void RecordCreateHistogramResult(CreateHistogramResult result);

 private:
  // |name_capacity|: the bytes of the block from the name on.
  std::unique_ptr<HistogramBase> CreateHistogram(HistogramData* data, size_t name_capacity);

  std::unique_ptr<PersistentMemoryAllocator> memory_allocator_;
  PersistentSparseDataManager sparse_data_manager_;
  PersistentMemoryAllocator::Iterator import_iterator_;
  std::atomic<Reference> last_created_{0};
};

}  // namespace base

#endif  // BASE_METRICS_PERSISTENT_HISTOGRAM_ALLOCATOR_H_
