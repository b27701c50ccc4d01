#include "desktop/windows/installer/package_fetcher/mapped_output_allocator.h"

#include <winioctl.h>

#include <algorithm>
#include <atomic>
#include <cstdint>

#include <lzma/7zAlloc.h>

#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/win/vectored_guard.h"

namespace installer {
namespace {

constexpr size_t kPageSize = 4096;
// Bounds of one growth step. Each step adds a quarter of what is already
// there: a block that lies about its size costs at most a quarter more than
// was really decoded, and a large block grows in a few dozen steps.
constexpr size_t kMinGrowth = 256 * 1024;
constexpr size_t kMaxGrowth = 32 * 1024 * 1024;

// The views that grow, each with the thread that maps it: only that thread
// touches its view, so the handler looks only at the faulting thread's.
constexpr int kMaxGrowingViews = 64;
struct GrowingViewSlot {
  std::atomic<DWORD> thread{0};
  std::atomic<MappedOutputAllocator*> allocator{nullptr};
};
GrowingViewSlot g_growing_views[kMaxGrowingViews];

LONG CALLBACK GrowthHandler(EXCEPTION_POINTERS* pointers);

// Before the crash handlers: an access to a page not yet grown is no crash.
base::win::VectoredGuard g_growth_guard(&GrowthHandler, /*first=*/true, "output buffer growth");

LONG CALLBACK GrowthHandler(EXCEPTION_POINTERS* pointers) {
  const EXCEPTION_RECORD* record = pointers->ExceptionRecord;
  if (record->ExceptionCode != EXCEPTION_ACCESS_VIOLATION || record->NumberParameters < 2)
    return EXCEPTION_CONTINUE_SEARCH;
  const void* address = reinterpret_cast<const void*>(record->ExceptionInformation[1]);
  const DWORD thread = ::GetCurrentThreadId();
  for (GrowingViewSlot& slot : g_growing_views) {
    if (slot.thread.load() != thread)
      continue;
    MappedOutputAllocator* allocator = slot.allocator.load();
    if (allocator && allocator->GrowTo(address))
      return EXCEPTION_CONTINUE_EXECUTION;
  }
  return EXCEPTION_CONTINUE_SEARCH;
}

}  // namespace

MappedOutputAllocator::MappedOutputAllocator(const base::FilePath& folder) {
  adapter_.vt.Alloc = &SzAlloc;
  adapter_.vt.Free = &SzFree;
  adapter_.owner = this;
  if (!base::CreateTemporaryFileInDirectory(folder, &file_path_))
    return;  // Logged there; blocks come from the heap.
  file_.Initialize(file_path_, base::File::FLAG_CREATE_ALWAYS | base::File::FLAG_READ |
                                   base::File::FLAG_WRITE | base::File::FLAG_TEMPORARY |
                                   base::File::FLAG_DELETE_ON_CLOSE);
  if (!file_.IsValid()) {
    base::DeletePath(file_path_, false);
    return;
  }
  adapter_.vt.Alloc = &MappedAlloc;
  adapter_.vt.Free = &MappedFree;
}

MappedOutputAllocator::~MappedOutputAllocator() {
  StopGrowing();
  // The view and the mapping go before the file, whose closing deletes it.
  view_.Reset();
  mapping_.Reset();
}

void* MappedOutputAllocator::MappedAlloc(ISzAllocPtr p, size_t size) {
  return reinterpret_cast<const Adapter*>(p)->owner->Allocate(size);
}

void MappedOutputAllocator::MappedFree(ISzAllocPtr p, void* address) {
  reinterpret_cast<const Adapter*>(p)->owner->Free(address);
}

void* MappedOutputAllocator::Allocate(size_t size) {
  if (size == 0)
    return nullptr;
  // One block at a time is mapped; the decoder holds a single output buffer,
  // so a second one is an exception that the heap serves.
  if (file_.IsValid() && !view_.IsValid()) {
    if (void* block = AllocateMapped(size))
      return block;
  }
  return SzAlloc(nullptr, size);
}

void* MappedOutputAllocator::AllocateMapped(size_t size) {
  // The size is only the archive's claim: the file is made that long
  // without writing it (sparse where the volume can), and its pages are
  // written, in bulk, only as the decoder reaches them (GrowTo).
  if (!sparse_) {
    DWORD returned = 0;
    sparse_ = ::DeviceIoControl(file_.GetPlatformFile(), FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0,
                                &returned, nullptr) != FALSE;
    // Without it the volume reserves the length without writing it.
  }
  if (!file_.SetLength(static_cast<int64_t>(size)))
    return nullptr;
  const uint64_t size64 = size;
  mapping_.Reset(::CreateFileMappingW(file_.GetPlatformFile(), nullptr, PAGE_READWRITE,
                                      static_cast<DWORD>(size64 >> 32), static_cast<DWORD>(size64),
                                      nullptr));
  if (!mapping_.IsValid()) {
    PLOG(WARNING) << "Cannot map " << size << " bytes of " << file_path_
                  << "; the output buffer comes from the heap";
    return nullptr;
  }
  view_.Reset(::MapViewOfFile(mapping_.Get(), FILE_MAP_WRITE, 0, 0, size));
  if (!view_.IsValid()) {
    PLOG(WARNING) << "Cannot map a view of " << size << " bytes of " << file_path_
                  << "; the output buffer comes from the heap";
    mapping_.Reset();
    return nullptr;
  }
  view_size_ = size;
  StartGrowing();
  return view_.Get();
}

void MappedOutputAllocator::StartGrowing() {
  grown_.assign((view_size_ + kPageSize - 1) / kPageSize, false);
  grown_bytes_ = 0;
  // The pages not yet written fault on first access; the growth handler
  // writes them through the file in bulk, which is much faster than letting
  // each page fault in alone. Without the handler the view stays open and
  // the pages come one by one.
  if (!g_growth_guard.EnsureInstalled())
    return;
  const DWORD thread = ::GetCurrentThreadId();
  for (GrowingViewSlot& slot : g_growing_views) {
    MappedOutputAllocator* expected = nullptr;
    if (slot.allocator.compare_exchange_strong(expected, this)) {
      DWORD old_protection = 0;
      if (!::VirtualProtect(view_.Get(), view_size_, PAGE_NOACCESS, &old_protection)) {
        PLOG(WARNING) << "Cannot protect the output buffer; it is written page by page";
        slot.allocator.store(nullptr);
        return;
      }
      slot.thread.store(thread);
      growth_slot_ = &slot;
      return;
    }
  }
}

void MappedOutputAllocator::StopGrowing() {
  if (!growth_slot_)
    return;
  auto* slot = static_cast<GrowingViewSlot*>(growth_slot_);
  slot->thread.store(0);
  slot->allocator.store(nullptr);
  growth_slot_ = nullptr;
}

bool MappedOutputAllocator::GrowTo(const void* address) {
  if (!growth_slot_ || !IsInMappedView(address))
    return false;
  const size_t offset = static_cast<const char*>(address) - static_cast<const char*>(view_.Get());
  const size_t first_page = offset / kPageSize;
  if (grown_[first_page])
    return false;  // A real fault on a page already there.
  const size_t step = std::clamp(grown_bytes_ / 4, kMinGrowth, kMaxGrowth) / kPageSize;
  size_t end_page = first_page;
  while (end_page < grown_.size() && end_page - first_page < step && !grown_[end_page])
    ++end_page;
  const size_t begin = first_page * kPageSize;
  const size_t end = std::min(end_page * kPageSize, view_size_);
  // Zero-initialised and only ever read: its pages all map the zero page.
  static char zeros[1 << 20];
  for (size_t done = begin; done < end;) {
    const int chunk = static_cast<int>(std::min<size_t>(sizeof(zeros), end - done));
    if (file_.Write(static_cast<int64_t>(done), zeros, chunk) != chunk)
      break;  // Logged by the file; the pages then come one by one.
    done += chunk;
  }
  DWORD old_protection = 0;
  if (!::VirtualProtect(static_cast<char*>(view_.Get()) + begin, end - begin, PAGE_READWRITE,
                        &old_protection)) {
    return false;
  }
  for (size_t page = first_page; page < end_page; ++page)
    grown_[page] = true;
  grown_bytes_ += end - begin;
  return true;
}

void MappedOutputAllocator::Free(void* address) {
  if (!address)
    return;
  if (view_.IsValid() && address == view_.Get()) {
    StopGrowing();
    view_.Reset();
    mapping_.Reset();
    view_size_ = 0;
    // The decoded block is no longer needed: its disk space goes now, and
    // the next block starts from an empty file rather than this one's data.
    file_.SetLength(0);
    return;
  }
  SzFree(nullptr, address);
}

bool MappedOutputAllocator::IsInMappedView(const void* address) const {
  if (!view_.IsValid())
    return false;
  const uintptr_t begin = reinterpret_cast<uintptr_t>(view_.Get());
  const uintptr_t at = reinterpret_cast<uintptr_t>(address);
  return at >= begin && at - begin < view_size_;
}

}  // namespace installer
