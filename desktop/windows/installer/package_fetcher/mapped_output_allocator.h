// The allocator the 7z decoder gets for its output buffer, which holds the
// decoded contents of a whole solid block. The buffer lives in a view of a
// delete-on-close temporary file in the destination folder instead of the
// heap, so unpacking a package of hundreds of megabytes needs neither that
// much memory nor that much page file. Until the backing file is open, and
// whenever sizing or mapping it fails, blocks come from the decoder's plain
// heap functions.
#ifndef DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_MAPPED_OUTPUT_ALLOCATOR_H_
#define DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_MAPPED_OUTPUT_ALLOCATOR_H_

#include <windows.h>

#include <cstddef>

#include <lzma/7zTypes.h>

#include "base/files/file.h"
#include "base/files/file_path.h"
#include "base/scoped_generic.h"
#include "base/win/scoped_handle.h"

namespace installer {

class MappedOutputAllocator {
 public:
  // Opens the backing file in |folder|, which must exist.
  explicit MappedOutputAllocator(const base::FilePath& folder);
  MappedOutputAllocator(const MappedOutputAllocator&) = delete;
  MappedOutputAllocator& operator=(const MappedOutputAllocator&) = delete;
  // Unmaps what is still mapped; closing the backing file deletes it.
  ~MappedOutputAllocator();

  // Null for 0 bytes.
  void* Allocate(size_t size);
  void Free(void* address);
  // Whether |address| lies inside the block currently mapped.
  bool IsInMappedView(const void* address) const;
  // Whether blocks are mapped from the backing file (false: heap only).
  bool has_backing_file() const { return file_.IsValid(); }

  // The allocator in the decoder's form; valid as long as this object.
  ISzAllocPtr sz_alloc() const { return &adapter_.vt; }

 private:
  struct ViewTraits {
    static void* InvalidValue() { return nullptr; }
    static void Free(void*& view) { ::UnmapViewOfFile(view); }
  };
  using ScopedView = base::ScopedGeneric<void*, ViewTraits>;

  // The decoder calls through this; |owner| leads back here.
  struct Adapter {
    ISzAlloc vt;
    MappedOutputAllocator* owner;
  };
  static void* MappedAlloc(ISzAllocPtr p, size_t size);
  static void MappedFree(ISzAllocPtr p, void* address);

  void* AllocateMapped(size_t size);
  // Writes |size| zero bytes into the backing file.
  bool FillBackingFile(size_t size);

  base::File file_;
  base::FilePath file_path_;
  base::win::ScopedHandle mapping_;
  ScopedView view_;
  size_t view_size_ = 0;
  Adapter adapter_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_MAPPED_OUTPUT_ALLOCATOR_H_
