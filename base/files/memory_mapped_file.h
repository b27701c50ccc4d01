// A whole file mapped read-only into memory.
#ifndef BASE_FILES_MEMORY_MAPPED_FILE_H_
#define BASE_FILES_MEMORY_MAPPED_FILE_H_

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "base/files/file_path.h"
#include "base/scoped_generic.h"
#include "base/win/scoped_handle.h"

namespace base {

class MemoryMappedFile {
 public:
  MemoryMappedFile() = default;
  MemoryMappedFile(const MemoryMappedFile&) = delete;
  MemoryMappedFile& operator=(const MemoryMappedFile&) = delete;
  ~MemoryMappedFile() = default;

  // Opens |path| read-only (others may read it, not write it, while it is
  // mapped) and maps all of it. False when it cannot be opened or mapped,
  // and on a second call once one has succeeded. An empty file cannot be
  // mapped by Windows; it succeeds with length() 0 and a data() pointer that
  // is valid but must not be read.
  bool Initialize(const FilePath& path);

  bool IsValid() const { return valid_; }
  // The mapped bytes, readable until destruction. Null before a successful
  // Initialize.
  const uint8_t* data() const { return data_; }
  size_t length() const { return length_; }

 private:
  struct ViewTraits {
    static const void* InvalidValue() { return nullptr; }
    static void Free(const void*& view) { ::UnmapViewOfFile(view); }
  };
  using ScopedView = ScopedGeneric<const void*, ViewTraits>;

  // Release order matters: the view goes before the mapping and the file.
  win::ScopedHandle file_;
  win::ScopedHandle mapping_;
  ScopedView view_;
  const uint8_t* data_ = nullptr;
  size_t length_ = 0;
  bool valid_ = false;
};

}  // namespace base

#endif  // BASE_FILES_MEMORY_MAPPED_FILE_H_
