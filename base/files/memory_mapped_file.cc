#include "base/files/memory_mapped_file.h"

#include <limits>

#include "base/logging.h"

namespace base {

namespace {

// What data() points at for an empty file.
constexpr uint8_t kEmptyData[1] = {0};

}  // namespace

bool MemoryMappedFile::Initialize(const FilePath& path) {
  if (valid_) {
    LOG(ERROR) << "MemoryMappedFile already holds a file; not mapping " << path;
    return false;
  }
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  const DWORD error = ::GetLastError();
  file_.Reset(file);
  if (!file_.IsValid()) {
    ELOG(ERROR, error) << "Cannot open " << path << " for mapping";
    return false;
  }
  LARGE_INTEGER size = {};
  if (!::GetFileSizeEx(file_.Get(), &size)) {
    PLOG(ERROR) << "Cannot read the size of " << path;
    file_.Reset();
    return false;
  }
  if (static_cast<uint64_t>(size.QuadPart) > std::numeric_limits<size_t>::max()) {
    LOG(ERROR) << "File too large to map: " << path;
    file_.Reset();
    return false;
  }
  if (size.QuadPart == 0) {
    data_ = kEmptyData;
    length_ = 0;
    valid_ = true;
    return true;
  }
  HANDLE mapping = ::CreateFileMappingW(file_.Get(), nullptr, PAGE_READONLY, 0, 0, nullptr);
  const DWORD mapping_error = ::GetLastError();
  mapping_.Reset(mapping);
  if (!mapping_.IsValid()) {
    ELOG(ERROR, mapping_error) << "Cannot create a mapping of " << path;
    file_.Reset();
    return false;
  }
  const void* view = ::MapViewOfFile(mapping_.Get(), FILE_MAP_READ, 0, 0, 0);
  if (!view) {
    PLOG(ERROR) << "Cannot map a view of " << path;
    mapping_.Reset();
    file_.Reset();
    return false;
  }
  view_.Reset(view);
  data_ = static_cast<const uint8_t*>(view);
  length_ = static_cast<size_t>(size.QuadPart);
  valid_ = true;
  return true;
}

}  // namespace base
