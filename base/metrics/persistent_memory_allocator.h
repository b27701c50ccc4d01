// A lock-free block allocator over one memory segment that several processes
// may share: a small header, then blocks that are handed out in order and
// never freed. Blocks can be linked into one iterable queue so that a reader
// (another process, or this one after a restart) finds them. Every field that
// can change is changed by compare-and-swap, so writers in different
// processes need no lock, and every reference read from the segment is
// checked before use: the segment is input.
//
// Segment layout (little-endian, references are byte offsets, 0 = none):
//   0   creator data: segment cookie, version, size, page size, id
//   28  flags (bit 0 corrupt, bit 1 full)
//   32  free pointer
//   36  tail pointer of the iterable queue
//   40  queue head (a block header)
//   56  first block
// Block header: size (header included), cookie, type id, next in the queue.
#ifndef BASE_METRICS_PERSISTENT_MEMORY_ALLOCATOR_H_
#define BASE_METRICS_PERSISTENT_MEMORY_ALLOCATOR_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "base/files/file_path.h"
#include "base/files/memory_mapped_file.h"
#include "base/scoped_generic.h"
#include "base/win/scoped_handle.h"

namespace base {

class HistogramBase;

class PersistentMemoryAllocator {
 public:
  using Reference = uint32_t;

  static constexpr Reference kReferenceNull = 0;
  // The queue head; it ends the queue too.
  static constexpr Reference kReferenceQueue = 40;
  static constexpr uint32_t kSegmentHeaderSize = 56;
  static constexpr uint32_t kBlockHeaderSize = 16;
  static constexpr uint32_t kBlockCookie = 0xC8799269;
  static constexpr uint32_t kFillerCookie = 0xFFFFFFFF;
  // The creator's data: written once, checked by every opener.
  static constexpr uint32_t kSegmentCookie = 0x564C4D53;
  static constexpr uint32_t kSegmentVersion = 1;
  static constexpr uint32_t kFlagCorrupt = 1;
  static constexpr uint32_t kFlagFull = 2;
  static constexpr size_t kDefaultPageSize = 4096;
  // Requests of this size or more are refused.
  static constexpr uint64_t kMaxAllocationSize = 0x3FFFFFF1;

  // Walks the iterable queue. Several threads may share one iterator; each
  // record is returned once.
  class Iterator {
   public:
    explicit Iterator(const PersistentMemoryAllocator* allocator);
    Iterator(const Iterator&) = delete;
    Iterator& operator=(const Iterator&) = delete;

    // The next record and its type; 0 at the end (and on corruption, which
    // marks the segment corrupt).
    Reference GetNext(uint32_t* type_id);
    Reference GetNextOfType(uint32_t type_id);

   private:
    const PersistentMemoryAllocator* const allocator_;
    std::atomic<Reference> last_record_{kReferenceQueue};
    std::atomic<uint32_t> record_count_{0};
  };

  // Over |size| bytes at |base| that the caller keeps alive. All-zero memory
  // (a new segment) is formatted unless |read_only|; otherwise the creator's
  // data must carry the segment cookie and version, |size| and |page_size|,
  // and |id| when |id| is not 0. Check IsValid() afterwards: a refused
  // segment is never read or written.
  PersistentMemoryAllocator(void* base, size_t size, size_t page_size, uint64_t id, bool read_only);
  PersistentMemoryAllocator(const PersistentMemoryAllocator&) = delete;
  PersistentMemoryAllocator& operator=(const PersistentMemoryAllocator&) = delete;
  virtual ~PersistentMemoryAllocator();

  bool IsValid() const { return base_ != nullptr; }
  bool IsReadOnly() const { return read_only_; }
  // The allocator's own flag or the segment's corrupt bit.
  bool IsCorrupt() const;
  bool IsFull() const;
  size_t size() const { return mem_size_; }
  size_t page_size() const { return page_size_; }
  uint64_t Id() const;
  // Bytes handed out so far (header included), at most size().
  size_t used() const;
  const void* data() const { return base_; }

  // A new block of |size| data bytes and |type_id|; 0 when it cannot be had
  // (the segment is full, read-only or corrupt, or the request too large).
  Reference Allocate(uint64_t size, uint32_t type_id);
  // The block's data when |ref| is a valid block of |type_id| (0: any) with at
  // least |size| data bytes; null otherwise.
  void* GetBlockData(Reference ref, uint32_t type_id, uint32_t size) const;
  template <typename T>
  T* GetAsObject(Reference ref, uint32_t type_id) const {
    return static_cast<T*>(GetBlockData(ref, type_id, sizeof(T)));
  }
  // The data size of a valid block (its size minus the header); 0 otherwise
  // (which marks the segment corrupt).
  uint32_t GetAllocSize(Reference ref) const;
  uint32_t GetType(Reference ref) const;
  // Changes the block's type from |expected_type| to |to_type|; false when
  // the block is invalid or had another type.
  bool ChangeType(Reference ref, uint32_t to_type, uint32_t expected_type);
  // Appends the block to the iterable queue (once; later calls do nothing).
  void MakeIterable(Reference ref);
  // Logs the corruption and marks it: always in this allocator, and in the
  // segment unless it is read-only.
  void SetCorrupt() const;

  // Each allocation records its requested size there (a failure records 0).
  // Null stops the recording; the histogram is not owned.
  void SetAllocationSizeHistogram(HistogramBase* histogram) { allocs_histogram_ = histogram; }

 private:
  struct BlockHeader;
  struct SharedMetadata;

  const SharedMetadata* shared_meta() const;
  SharedMetadata* shared_meta();
  // The header at |ref| when it passes every check (see the .cc file).
  const BlockHeader* GetBlock(Reference ref, uint32_t type_id, uint32_t size, bool queue_ok,
                              bool free_ok) const;
  BlockHeader* GetBlock(Reference ref, uint32_t type_id, uint32_t size, bool queue_ok,
                        bool free_ok);
  Reference AllocateImpl(uint64_t size, uint32_t type_id);
  // The smaller of the segment size and the free pointer: what blocks may use.
  uint32_t UsedLimit() const;
  // The most records a segment of this use could hold: bounds every walk of
  // the queue, whose links come from the segment.
  uint32_t MaxRecords() const;

  char* base_ = nullptr;
  uint32_t mem_size_ = 0;
  uint32_t page_size_ = 0;
  const bool read_only_;
  mutable std::atomic<bool> corrupt_{false};
  HistogramBase* allocs_histogram_ = nullptr;
};

// The memory of a local segment, owned apart from the allocator over it:
// it is freed also when the allocator refuses it (and so holds no base).
class LocalSegmentMemory {
 public:
  explicit LocalSegmentMemory(size_t size);
  LocalSegmentMemory(const LocalSegmentMemory&) = delete;
  LocalSegmentMemory& operator=(const LocalSegmentMemory&) = delete;
  ~LocalSegmentMemory();

  void* memory() const { return memory_; }

 private:
  void* memory_ = nullptr;
};

// A segment in this process's memory (zeroed, owned). The memory is a base
// of its own, built before the allocator and freed after it.
class LocalPersistentMemoryAllocator : private LocalSegmentMemory,
                                       public PersistentMemoryAllocator {
 public:
  LocalPersistentMemoryAllocator(size_t size, uint64_t id);
  ~LocalPersistentMemoryAllocator() override;
};

// A segment in a named file mapping that other processes open by its name,
// backed by a file (which outlives the processes) or by the paging file.
class SharedPersistentMemoryAllocator : public PersistentMemoryAllocator {
 public:
  // Creates |path| (empty: the paging file) of |size| bytes, maps it under
  // |mapping_name| (may be empty) and formats the segment. Null when a step
  // fails (logged).
  static std::unique_ptr<SharedPersistentMemoryAllocator> Create(const FilePath& path,
                                                                 const std::wstring& mapping_name,
                                                                 size_t size, uint64_t id);
  // Opens the mapping a creator published; its size is that of the mapping,
  // never a value read from the segment. Null when it cannot be opened or
  // the creator's data do not match.
  static std::unique_ptr<SharedPersistentMemoryAllocator> Open(const std::wstring& mapping_name,
                                                               uint64_t id, bool read_only);
  ~SharedPersistentMemoryAllocator() override;

 private:
  struct ViewTraits {
    static void* InvalidValue() { return nullptr; }
    static void Free(void*& view) { ::UnmapViewOfFile(view); }
  };
  using ScopedView = ScopedGeneric<void*, ViewTraits>;

  SharedPersistentMemoryAllocator(win::ScopedHandle file, win::ScopedHandle mapping,
                                  ScopedView view, size_t size, uint64_t id, bool read_only);

  // Release order: the view goes before the mapping and the file.
  win::ScopedHandle file_;
  win::ScopedHandle mapping_;
  ScopedView view_;
};

// A segment file mapped read-only (for instance one a process left behind).
// Nothing is ever written to it.
class FilePersistentMemoryAllocator : public PersistentMemoryAllocator {
 public:
  // Null when the file cannot be mapped or is not a whole, matching segment
  // (a truncated file is refused).
  static std::unique_ptr<FilePersistentMemoryAllocator> OpenReadOnly(const FilePath& path,
                                                                     uint64_t id);
  ~FilePersistentMemoryAllocator() override;

 private:
  FilePersistentMemoryAllocator(std::unique_ptr<MemoryMappedFile> file, uint64_t id);

  std::unique_ptr<MemoryMappedFile> file_;
};

}  // namespace base

#endif  // BASE_METRICS_PERSISTENT_MEMORY_ALLOCATOR_H_
