// The allocator the 7z decoder gets for its output buffer, which holds the
// decoded contents of a whole solid block. The buffer lives in a view of a
// delete-on-close temporary file in the destination folder instead of the
// heap, so unpacking a package of hundreds of megabytes needs neither that
// much memory nor that much page file. The file takes disk space only as the
// decoder reaches each stretch of the view, so a block that claims more than
// it holds costs little more than it really unpacks. Until the backing file is open, and
// whenever sizing or mapping it fails, blocks come from the decoder's plain
// heap functions.
#ifndef DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_MAPPED_OUTPUT_ALLOCATOR_H_
#define DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_MAPPED_OUTPUT_ALLOCATOR_H_

#include <windows.h>

#include <cstddef>
#include <vector>

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
  // Makes the pages of the mapped block around |address| usable, writing
  // them to the backing file first; false when |address| is not an unwritten
  // page of the block (the growth handler calls it, on the mapping thread).
  bool GrowTo(const void* address);
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
  // Protects the new view so that its first touch of each unwritten stretch
  // comes to GrowTo, and registers it with the growth handler.
  void StartGrowing();
  void StopGrowing();

  base::File file_;
  base::FilePath file_path_;
  base::win::ScopedHandle mapping_;
  ScopedView view_;
  size_t view_size_ = 0;
  // Whether the backing file has been made sparse.
  bool sparse_ = false;
  // Per page of the view: whether it has been written to the file and
  // opened for the decoder.
  std::vector<bool> grown_;
  size_t grown_bytes_ = 0;
  // The growth handler's registration; null while the view does not grow.
  void* growth_slot_ = nullptr;
  Adapter adapter_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_MAPPED_OUTPUT_ALLOCATOR_H_
