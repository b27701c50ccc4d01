// A read-only view of a whole file mapping, with the size of the mapping
// itself: the file behind it may have grown since the mapping was made, and
// only the bytes the mapping holds may be read.
#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_LOG_MAPPED_SECTION_VIEW_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_LOG_MAPPED_SECTION_VIEW_H_

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "base/scoped_generic.h"

namespace crash_reporter {

class MappedSectionView {
 public:
  MappedSectionView() = default;
  MappedSectionView(const MappedSectionView&) = delete;
  MappedSectionView& operator=(const MappedSectionView&) = delete;
  ~MappedSectionView() = default;

  // Maps all of |mapping| (a file mapping made with read access). False
  // when it cannot be mapped or sized (the caller logs it).
  bool Map(HANDLE mapping);

  const uint8_t* data() const { return static_cast<const uint8_t*>(view_.Get()); }
  // The bytes of the mapping: the file's size when the mapping was made.
  size_t size() const { return size_; }

 private:
  struct ViewTraits {
    static const void* InvalidValue() { return nullptr; }
    static void Free(const void*& view) { ::UnmapViewOfFile(view); }
  };

  base::ScopedGeneric<const void*, ViewTraits> view_;
  size_t size_ = 0;
};

}  // namespace crash_reporter

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_LOG_MAPPED_SECTION_VIEW_H_
