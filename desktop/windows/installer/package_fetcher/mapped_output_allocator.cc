#include "desktop/windows/installer/package_fetcher/mapped_output_allocator.h"

#include <algorithm>
#include <cstdint>

#include <lzma/7zAlloc.h>

#include "base/files/file_util.h"
#include "base/logging.h"

namespace installer {

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

bool MappedOutputAllocator::FillBackingFile(size_t size) {
  // Zero-initialised and only ever read: its pages all map the zero page.
  static char zeros[1 << 20];
  for (size_t done = 0; done < size;) {
    const int chunk = static_cast<int>(std::min<size_t>(sizeof(zeros), size - done));
    if (file_.Write(static_cast<int64_t>(done), zeros, chunk) != chunk)
      return false;  // Logged by the file.
    done += chunk;
  }
  return true;
}

void* MappedOutputAllocator::AllocateMapped(size_t size) {
  // The block is written through the file system first, so that the file's
  // pages are allocated in bulk: left sparse, the decoder's first write to
  // each page of the view would fault and allocate that page alone, which
  // makes unpacking a large block markedly slower. A volume without room
  // for the block shows up here, and the heap serves it instead.
  if (!FillBackingFile(size) || !file_.SetLength(static_cast<int64_t>(size)))
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
  return view_.Get();
}

void MappedOutputAllocator::Free(void* address) {
  if (!address)
    return;
  if (view_.IsValid() && address == view_.Get()) {
    view_.Reset();
    mapping_.Reset();
    view_size_ = 0;
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
