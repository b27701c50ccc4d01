#include "base/metrics/persistent_memory_allocator.h"

#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <utility>

#include "base/logging.h"
#include "base/metrics/histogram_base.h"

namespace base {

// Every field another process may change is atomic; the layout is the
// segment's, so nothing here may grow.
struct PersistentMemoryAllocator::BlockHeader {
  std::atomic<uint32_t> size;
  std::atomic<uint32_t> cookie;
  std::atomic<uint32_t> type_id;
  std::atomic<uint32_t> next;
};

struct PersistentMemoryAllocator::SharedMetadata {
  // The creator's data. The cookie is written last, so an opener that sees
  // it sees the rest.
  std::atomic<uint32_t> segment_cookie;
  uint32_t version;
  uint32_t size;
  uint32_t page_size;
  uint64_t id;
  uint32_t reserved;

  std::atomic<uint32_t> flags;
  std::atomic<uint32_t> freeptr;
  std::atomic<uint32_t> tailptr;
  BlockHeader queue;
};

namespace {

// The smallest block: a header and the least data rounded up to 8 bytes.
constexpr uint32_t kMinBlockSize = 24;
constexpr uint32_t kAllocAlignment = 8;

bool IsAllZero(const char* bytes, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    if (bytes[i] != 0)
      return false;
  }
  return true;
}

}  // namespace

PersistentMemoryAllocator::PersistentMemoryAllocator(void* base, size_t size, size_t page_size,
                                                     uint64_t id, bool read_only)
    : read_only_(read_only) {
  static_assert(sizeof(BlockHeader) == kBlockHeaderSize);
  static_assert(offsetof(SharedMetadata, flags) == 28);
  static_assert(offsetof(SharedMetadata, queue) == kReferenceQueue);
  static_assert(sizeof(SharedMetadata) == kSegmentHeaderSize);
  if (!base) {
    LOG(ERROR) << "persistent memory segment without memory";
    return;
  }
  if (size < kSegmentHeaderSize + kBlockHeaderSize || size > 0xFFFFFFF8u ||
      size % kAllocAlignment != 0 || page_size == 0 || page_size > size ||
      page_size % kAllocAlignment != 0 || reinterpret_cast<uintptr_t>(base) % 8 != 0) {
    LOG(ERROR) << "persistent memory segment of " << size << " bytes with pages of " << page_size
               << " bytes cannot be used";
    return;
  }
  auto* meta = static_cast<SharedMetadata*>(base);
  if (IsAllZero(static_cast<const char*>(base), kSegmentHeaderSize)) {
    if (read_only) {
      LOG(ERROR) << "persistent memory segment is empty";
      return;
    }
    meta->version = kSegmentVersion;
    meta->size = static_cast<uint32_t>(size);
    meta->page_size = static_cast<uint32_t>(page_size);
    meta->id = id;
    meta->flags.store(0, std::memory_order_relaxed);
    meta->freeptr.store(kSegmentHeaderSize, std::memory_order_relaxed);
    meta->tailptr.store(kReferenceQueue, std::memory_order_relaxed);
    meta->queue.next.store(kReferenceQueue, std::memory_order_relaxed);
    meta->segment_cookie.store(kSegmentCookie, std::memory_order_release);
  } else if (meta->segment_cookie.load(std::memory_order_acquire) != kSegmentCookie ||
             meta->version != kSegmentVersion || meta->size != size ||
             meta->page_size != page_size || (id != 0 && meta->id != id)) {
    LOG(ERROR) << "persistent memory segment does not match: cookie "
               << meta->segment_cookie.load(std::memory_order_relaxed) << ", version "
               << meta->version << ", size " << meta->size << " (mapped " << size << "), page size "
               << meta->page_size << " (expected " << page_size << ")";
    return;
  }
  base_ = static_cast<char*>(base);
  mem_size_ = static_cast<uint32_t>(size);
  page_size_ = static_cast<uint32_t>(page_size);
}

PersistentMemoryAllocator::~PersistentMemoryAllocator() = default;

const PersistentMemoryAllocator::SharedMetadata* PersistentMemoryAllocator::shared_meta() const {
  return reinterpret_cast<const SharedMetadata*>(base_);
}

PersistentMemoryAllocator::SharedMetadata* PersistentMemoryAllocator::shared_meta() {
  return reinterpret_cast<SharedMetadata*>(base_);
}

bool PersistentMemoryAllocator::IsCorrupt() const {
  if (corrupt_.load(std::memory_order_relaxed))
    return true;
  return IsValid() && (shared_meta()->flags.load(std::memory_order_relaxed) & kFlagCorrupt);
}

bool PersistentMemoryAllocator::IsFull() const {
  return IsValid() && (shared_meta()->flags.load(std::memory_order_relaxed) & kFlagFull);
}

uint64_t PersistentMemoryAllocator::Id() const { return IsValid() ? shared_meta()->id : 0; }

uint32_t PersistentMemoryAllocator::UsedLimit() const {
  return std::min(mem_size_, shared_meta()->freeptr.load(std::memory_order_acquire));
}

size_t PersistentMemoryAllocator::used() const { return IsValid() ? UsedLimit() : 0; }

uint32_t PersistentMemoryAllocator::MaxRecords() const { return UsedLimit() / kMinBlockSize; }

void PersistentMemoryAllocator::SetCorrupt() const {
  LOG(ERROR) << "Corruption detected in shared-memory segment.";
  corrupt_.store(true, std::memory_order_relaxed);
  if (read_only_ || !IsValid())
    return;
  // The flags are the one field a const allocator may change: the mark must
  // reach every process that shares the segment.
  auto& flags = const_cast<SharedMetadata*>(shared_meta())->flags;
  uint32_t old = flags.load(std::memory_order_relaxed);
  while (!flags.compare_exchange_weak(old, old | kFlagCorrupt, std::memory_order_relaxed)) {
  }
}

// A block passes when its reference is 8-aligned and at least the first
// block's (the queue head where |queue_ok|), when its header and |size| data
// bytes lie below the used limit, its size field covers them and its end
// stays below the limit, its cookie is a block's (a filler's where
// |free_ok|) and its type matches a non-zero |type_id|.
const PersistentMemoryAllocator::BlockHeader* PersistentMemoryAllocator::GetBlock(
    Reference ref, uint32_t type_id, uint32_t size, bool queue_ok, bool free_ok) const {
  if (!IsValid() || ref % kAllocAlignment != 0)
    return nullptr;
  if (ref == kReferenceQueue && queue_ok)
    return &shared_meta()->queue;
  if (ref < kSegmentHeaderSize)
    return nullptr;
  const uint64_t limit = UsedLimit();
  if (static_cast<uint64_t>(ref) + kBlockHeaderSize + size > limit)
    return nullptr;
  const auto* block = reinterpret_cast<const BlockHeader*>(base_ + ref);
  const uint32_t block_size = block->size.load(std::memory_order_relaxed);
  if (block_size < static_cast<uint64_t>(kBlockHeaderSize) + size ||
      static_cast<uint64_t>(ref) + block_size > limit) {
    return nullptr;
  }
  const uint32_t cookie = block->cookie.load(std::memory_order_relaxed);
  if (cookie != kBlockCookie && !(free_ok && cookie == kFillerCookie))
    return nullptr;
  if (type_id != 0 && block->type_id.load(std::memory_order_relaxed) != type_id)
    return nullptr;
  return block;
}

PersistentMemoryAllocator::BlockHeader* PersistentMemoryAllocator::GetBlock(
    Reference ref, uint32_t type_id, uint32_t size, bool queue_ok, bool free_ok) {
  return const_cast<BlockHeader*>(static_cast<const PersistentMemoryAllocator*>(this)->GetBlock(
      ref, type_id, size, queue_ok, free_ok));
}

void* PersistentMemoryAllocator::GetBlockData(Reference ref, uint32_t type_id,
                                              uint32_t size) const {
  const BlockHeader* block = GetBlock(ref, type_id, size, false, false);
  if (!block)
    return nullptr;
  return const_cast<char*>(reinterpret_cast<const char*>(block) + kBlockHeaderSize);
}

uint32_t PersistentMemoryAllocator::GetAllocSize(Reference ref) const {
  const BlockHeader* block = GetBlock(ref, 0, 0, false, false);
  if (!block)
    return 0;
  const uint32_t size = block->size.load(std::memory_order_relaxed);
  if (size <= kBlockHeaderSize || static_cast<uint64_t>(ref) + size > mem_size_) {
    SetCorrupt();
    return 0;
  }
  return size - kBlockHeaderSize;
}

uint32_t PersistentMemoryAllocator::GetType(Reference ref) const {
  const BlockHeader* block = GetBlock(ref, 0, 0, false, false);
  return block ? block->type_id.load(std::memory_order_relaxed) : 0;
}

bool PersistentMemoryAllocator::ChangeType(Reference ref, uint32_t to_type,
                                           uint32_t expected_type) {
  if (read_only_) {
    LOG(ERROR) << "cannot change a block of a read-only segment";
    return false;
  }
  BlockHeader* block = GetBlock(ref, 0, 0, false, false);
  if (!block)
    return false;
  return block->type_id.compare_exchange_strong(expected_type, to_type, std::memory_order_acq_rel);
}

PersistentMemoryAllocator::Reference PersistentMemoryAllocator::Allocate(uint64_t size,
                                                                         uint32_t type_id) {
  const Reference ref = AllocateImpl(size, type_id);
  if (allocs_histogram_)
    allocs_histogram_->Add(ref ? static_cast<HistogramSample>(size) : 0);
  return ref;
}

PersistentMemoryAllocator::Reference PersistentMemoryAllocator::AllocateImpl(uint64_t size,
                                                                             uint32_t type_id) {
  if (!IsValid())
    return kReferenceNull;
  if (read_only_) {
    LOG(ERROR) << "cannot allocate in a read-only segment";
    return kReferenceNull;
  }
  if (size >= kMaxAllocationSize) {
    LOG(ERROR) << "allocation of " << size << " bytes refused: too large";
    return kReferenceNull;
  }
  uint32_t needed =
      static_cast<uint32_t>((size + kBlockHeaderSize + kAllocAlignment - 1) & ~uint64_t{7});
  if (needed > page_size_) {
    LOG(ERROR) << "allocation of " << size << " bytes refused: larger than a page";
    return kReferenceNull;
  }

  SharedMetadata* meta = shared_meta();
  uint32_t freeptr = meta->freeptr.load(std::memory_order_acquire);
  while (!corrupt_.load(std::memory_order_relaxed) &&
         !(meta->flags.load(std::memory_order_relaxed) & kFlagCorrupt)) {
    if (static_cast<uint64_t>(freeptr) + needed > mem_size_) {
      uint32_t flags = meta->flags.load(std::memory_order_relaxed);
      while (
          !meta->flags.compare_exchange_weak(flags, flags | kFlagFull, std::memory_order_relaxed)) {
      }
      return kReferenceNull;
    }
    if (freeptr % kAllocAlignment != 0 || freeptr < kSegmentHeaderSize ||
        freeptr > mem_size_ - kBlockHeaderSize) {
      break;
    }

    const uint32_t page_free = page_size_ - freeptr % page_size_;
    if (needed > page_free) {
      // The rest of this page cannot hold the block: fill it and start the
      // next page, so that no block crosses a page boundary.
      if (page_free <= kBlockHeaderSize)
        break;
      const uint32_t new_freeptr = freeptr + page_free;
      if (meta->freeptr.compare_exchange_strong(freeptr, new_freeptr, std::memory_order_acq_rel)) {
        auto* filler = reinterpret_cast<BlockHeader*>(base_ + freeptr);
        filler->size.store(page_free, std::memory_order_relaxed);
        filler->cookie.store(kFillerCookie, std::memory_order_release);
      }
      freeptr = meta->freeptr.load(std::memory_order_acquire);
      continue;
    }

    // A tail too small for any later block joins this one.
    uint32_t size_to_take = needed;
    if (page_free - needed < kMinBlockSize)
      size_to_take = page_free;
    const uint32_t new_freeptr = freeptr + size_to_take;
    if (new_freeptr > mem_size_)
      break;
    if (!meta->freeptr.compare_exchange_strong(freeptr, new_freeptr, std::memory_order_acq_rel)) {
      continue;  // |freeptr| now holds what another allocator left.
    }

    auto* block = reinterpret_cast<BlockHeader*>(base_ + freeptr);
    if (block->size.load(std::memory_order_relaxed) != 0 ||
        block->cookie.load(std::memory_order_relaxed) != 0 ||
        block->type_id.load(std::memory_order_relaxed) != 0 ||
        block->next.load(std::memory_order_relaxed) != 0) {
      break;  // Space past the free pointer was written: not ours to trust.
    }
    block->size.store(size_to_take, std::memory_order_relaxed);
    block->type_id.store(type_id, std::memory_order_relaxed);
    block->cookie.store(kBlockCookie, std::memory_order_release);
    return freeptr;
  }
  SetCorrupt();
  return kReferenceNull;
}

void PersistentMemoryAllocator::MakeIterable(Reference ref) {
  if (read_only_) {
    LOG(ERROR) << "cannot link a block of a read-only segment";
    return;
  }
  if (IsCorrupt()) {
    SetCorrupt();
    return;
  }
  BlockHeader* block = GetBlock(ref, 0, 0, false, false);
  if (!block)
    return;
  uint32_t expected_next = 0;
  if (!block->next.compare_exchange_strong(expected_next, kReferenceQueue,
                                           std::memory_order_acq_rel)) {
    return;  // Already in the queue.
  }

  SharedMetadata* meta = shared_meta();
  // Each failed link moves the tail one record on; more steps than the
  // segment can hold records means the links loop.
  const uint32_t max_steps = MaxRecords() + 1;
  uint32_t tail = meta->tailptr.load(std::memory_order_acquire);
  for (uint32_t step = 0; step <= max_steps; ++step) {
    BlockHeader* tail_block = GetBlock(tail, 0, 0, true, false);
    if (!tail_block)
      break;
    uint32_t expected = kReferenceQueue;
    if (tail_block->next.compare_exchange_strong(expected, ref, std::memory_order_acq_rel)) {
      meta->tailptr.compare_exchange_strong(tail, ref, std::memory_order_acq_rel);
      return;
    }
    // Another writer linked a block after the tail: move the tail on to it
    // and try again from wherever the tail is now.
    meta->tailptr.compare_exchange_strong(tail, expected, std::memory_order_acq_rel);
    tail = meta->tailptr.load(std::memory_order_acquire);
  }
  SetCorrupt();
}

PersistentMemoryAllocator::Iterator::Iterator(const PersistentMemoryAllocator* allocator)
    : allocator_(allocator) {}

PersistentMemoryAllocator::Reference PersistentMemoryAllocator::Iterator::GetNext(
    uint32_t* type_id) {
  *type_id = 0;
  if (!allocator_->IsValid())
    return kReferenceNull;
  const uint32_t count = record_count_.load(std::memory_order_relaxed);
  Reference last = last_record_.load(std::memory_order_acquire);
  while (true) {
    const BlockHeader* block = allocator_->GetBlock(last, 0, 0, true, false);
    if (!block)
      return kReferenceNull;
    const Reference next = block->next.load(std::memory_order_acquire);
    if (next == kReferenceQueue)
      return kReferenceNull;
    const BlockHeader* next_block = allocator_->GetBlock(next, 0, 0, false, false);
    if (!next_block) {
      allocator_->SetCorrupt();
      return kReferenceNull;
    }
    if (!last_record_.compare_exchange_strong(last, next, std::memory_order_acq_rel))
      continue;  // Another thread moved on; |last| holds where it is.
    *type_id = next_block->type_id.load(std::memory_order_relaxed);
    if (count > allocator_->MaxRecords()) {
      allocator_->SetCorrupt();
      return kReferenceNull;
    }
    record_count_.fetch_add(1, std::memory_order_relaxed);
    return next;
  }
}

PersistentMemoryAllocator::Reference PersistentMemoryAllocator::Iterator::GetNextOfType(
    uint32_t type_id) {
  uint32_t found_type;
  while (Reference ref = GetNext(&found_type)) {
    if (found_type == type_id)
      return ref;
  }
  return kReferenceNull;
}

LocalSegmentMemory::LocalSegmentMemory(size_t size) {
  // Fresh pages are zero, which is what a new segment must be.
  memory_ = ::VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
  if (!memory_)
    PLOG(ERROR) << "cannot reserve " << size << " bytes for a persistent memory segment";
}

LocalSegmentMemory::~LocalSegmentMemory() {
  if (memory_)
    ::VirtualFree(memory_, 0, MEM_RELEASE);
}

LocalPersistentMemoryAllocator::LocalPersistentMemoryAllocator(size_t size, uint64_t id)
    : LocalSegmentMemory(size),
      PersistentMemoryAllocator(memory(), size, kDefaultPageSize, id, false) {}

LocalPersistentMemoryAllocator::~LocalPersistentMemoryAllocator() = default;

SharedPersistentMemoryAllocator::SharedPersistentMemoryAllocator(win::ScopedHandle file,
                                                                 win::ScopedHandle mapping,
                                                                 ScopedView view, size_t size,
                                                                 uint64_t id, bool read_only)
    : PersistentMemoryAllocator(view.Get(), size, kDefaultPageSize, id, read_only),
      file_(std::move(file)),
      mapping_(std::move(mapping)),
      view_(std::move(view)) {}

SharedPersistentMemoryAllocator::~SharedPersistentMemoryAllocator() = default;

// static
std::unique_ptr<SharedPersistentMemoryAllocator> SharedPersistentMemoryAllocator::Create(
    const FilePath& path, const std::wstring& mapping_name, size_t size, uint64_t id) {
  if (size == 0 || size > 0xFFFFFFF8u || size % kDefaultPageSize != 0) {
    LOG(ERROR) << "a shared persistent memory segment of " << size << " bytes cannot be made";
    return nullptr;
  }
  win::ScopedHandle file;
  if (!path.empty()) {
    file.Reset(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsValid()) {
      PLOG(ERROR) << "cannot create the segment file " << path;
      return nullptr;
    }
  }
  HANDLE mapping_handle = ::CreateFileMappingW(
      file.IsValid() ? file.Get() : INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
      static_cast<DWORD>(size), mapping_name.empty() ? nullptr : mapping_name.c_str());
  const DWORD error = ::GetLastError();
  win::ScopedHandle mapping(mapping_handle);
  if (!mapping.IsValid()) {
    ELOG(ERROR, error) << "cannot create the segment mapping";
    return nullptr;
  }
  if (error == ERROR_ALREADY_EXISTS) {
    LOG(ERROR) << "a segment mapping of this name exists already";
    return nullptr;
  }
  ScopedView view(::MapViewOfFile(mapping.Get(), FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, size));
  if (!view.IsValid()) {
    PLOG(ERROR) << "cannot map the segment";
    return nullptr;
  }
  std::unique_ptr<SharedPersistentMemoryAllocator> allocator(new SharedPersistentMemoryAllocator(
      std::move(file), std::move(mapping), std::move(view), size, id, false));
  if (!allocator->IsValid())
    return nullptr;
  return allocator;
}

// static
std::unique_ptr<SharedPersistentMemoryAllocator> SharedPersistentMemoryAllocator::Open(
    const std::wstring& mapping_name, uint64_t id, bool read_only) {
  const DWORD access = read_only ? FILE_MAP_READ : FILE_MAP_READ | FILE_MAP_WRITE;
  win::ScopedHandle mapping(::OpenFileMappingW(access, FALSE, mapping_name.c_str()));
  if (!mapping.IsValid()) {
    PLOG(ERROR) << "cannot open the segment mapping";
    return nullptr;
  }
  ScopedView view(::MapViewOfFile(mapping.Get(), access, 0, 0, 0));
  if (!view.IsValid()) {
    PLOG(ERROR) << "cannot map the segment";
    return nullptr;
  }
  MEMORY_BASIC_INFORMATION info = {};
  if (::VirtualQuery(view.Get(), &info, sizeof(info)) != sizeof(info)) {
    PLOG(ERROR) << "cannot read the size of the segment mapping";
    return nullptr;
  }
  // The mapping's own size, never one read from the segment.
  const size_t size = std::min<size_t>(info.RegionSize, 0xFFFFF000u);
  // Only the creator formats: an opener that found a blank segment would
  // race with it.
  if (size < kSegmentHeaderSize ||
      static_cast<const std::atomic<uint32_t>*>(view.Get())->load(std::memory_order_acquire) !=
          kSegmentCookie) {
    LOG(ERROR) << "the segment mapping holds no segment (yet)";
    return nullptr;
  }
  std::unique_ptr<SharedPersistentMemoryAllocator> allocator(new SharedPersistentMemoryAllocator(
      win::ScopedHandle(), std::move(mapping), std::move(view), size, id, read_only));
  if (!allocator->IsValid())
    return nullptr;
  return allocator;
}

FilePersistentMemoryAllocator::FilePersistentMemoryAllocator(std::unique_ptr<MemoryMappedFile> file,
                                                             uint64_t id)
    : PersistentMemoryAllocator(const_cast<uint8_t*>(file->data()), file->length(),
                                kDefaultPageSize, id, true),
      file_(std::move(file)) {}

FilePersistentMemoryAllocator::~FilePersistentMemoryAllocator() = default;

// static
std::unique_ptr<FilePersistentMemoryAllocator> FilePersistentMemoryAllocator::OpenReadOnly(
    const FilePath& path, uint64_t id) {
  auto file = std::make_unique<MemoryMappedFile>();
  if (!file->Initialize(path))
    return nullptr;
  if (file->length() < kSegmentHeaderSize) {
    LOG(ERROR) << "segment file " << path << " is too short: " << file->length() << " bytes";
    return nullptr;
  }
  std::unique_ptr<FilePersistentMemoryAllocator> allocator(
      new FilePersistentMemoryAllocator(std::move(file), id));
  if (!allocator->IsValid())
    return nullptr;
  return allocator;
}

}  // namespace base
