#include "base/files/file.h"

#include "base/logging.h"
#include "base/metrics/histogram_macros.h"

namespace base {

namespace {

constexpr uint32_t kDispositionFlags = File::FLAG_OPEN | File::FLAG_CREATE |
                                       File::FLAG_OPEN_ALWAYS | File::FLAG_CREATE_ALWAYS |
                                       File::FLAG_OPEN_TRUNCATED;

OVERLAPPED OverlappedAt(int64_t offset) {
  OVERLAPPED overlapped = {};
  overlapped.Offset = static_cast<DWORD>(static_cast<uint64_t>(offset) & 0xFFFFFFFFu);
  overlapped.OffsetHigh = static_cast<DWORD>(static_cast<uint64_t>(offset) >> 32);
  return overlapped;
}

}  // namespace

File::File(HANDLE handle) { handle_.Reset(handle); }

// static
File::Error File::OSErrorToFileError(DWORD error) {
  switch (error) {
    case ERROR_SUCCESS: return FILE_OK;
    case ERROR_ACCESS_DENIED:
    case ERROR_NETWORK_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT: return FILE_ERROR_ACCESS_DENIED;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION: return FILE_ERROR_IN_USE;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS: return FILE_ERROR_EXISTS;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME: return FILE_ERROR_NOT_FOUND;
    case ERROR_TOO_MANY_OPEN_FILES: return FILE_ERROR_TOO_MANY_OPENED;
    case ERROR_OUTOFMEMORY:
    case ERROR_NOT_ENOUGH_MEMORY: return FILE_ERROR_NO_MEMORY;
    case ERROR_HANDLE_DISK_FULL:
    case ERROR_DISK_FULL: return FILE_ERROR_NO_SPACE;
    case ERROR_DIRECTORY: return FILE_ERROR_NOT_A_DIRECTORY;
    case ERROR_INVALID_PARAMETER:
    case ERROR_INVALID_HANDLE: return FILE_ERROR_INVALID_OPERATION;
    case ERROR_OPERATION_ABORTED: return FILE_ERROR_ABORT;
    case ERROR_DIR_NOT_EMPTY: return FILE_ERROR_NOT_EMPTY;
    case ERROR_READ_FAULT:
    case ERROR_WRITE_FAULT:
    case ERROR_CRC:
    case ERROR_SEEK:
    case ERROR_SECTOR_NOT_FOUND:
    case ERROR_GEN_FAILURE: return FILE_ERROR_IO;
    default:
      // Which codes turn up unmapped decides which mapping to add next.
      HISTOGRAM_SPARSE("PlatformFile.UnknownErrors.Windows", static_cast<int32_t>(error));
      return FILE_ERROR_FAILED;
  }
}

void File::Initialize(const FilePath& path, uint32_t flags) {
  handle_.Reset();
  created_ = false;
  error_details_ = ERROR_SUCCESS;
  error_ = FILE_OK;

  DWORD disposition = 0;
  switch (flags & kDispositionFlags) {
    case FLAG_OPEN: disposition = OPEN_EXISTING; break;
    case FLAG_CREATE: disposition = CREATE_NEW; break;
    case FLAG_OPEN_ALWAYS: disposition = OPEN_ALWAYS; break;
    case FLAG_CREATE_ALWAYS: disposition = CREATE_ALWAYS; break;
    case FLAG_OPEN_TRUNCATED: disposition = TRUNCATE_EXISTING; break;
    default:
      error_details_ = ERROR_INVALID_PARAMETER;
      error_ = FILE_ERROR_INVALID_OPERATION;
      LOG(ERROR) << "File flags 0x" << std::hex << flags << " name no single way to open " << path;
      return;
  }
  if (path.empty()) {
    error_details_ = ERROR_INVALID_PARAMETER;
    error_ = FILE_ERROR_INVALID_OPERATION;
    LOG(ERROR) << "Cannot open a file with an empty path";
    return;
  }

  DWORD access = 0;
  if (flags & FLAG_READ)
    access |= GENERIC_READ;
  if (flags & FLAG_WRITE)
    access |= GENERIC_WRITE;
  if (flags & FLAG_DELETE_ON_CLOSE)
    access |= DELETE;
  if (disposition == TRUNCATE_EXISTING)
    access |= GENERIC_WRITE;

  DWORD sharing = 0;
  if (!(flags & FLAG_EXCLUSIVE_READ))
    sharing |= FILE_SHARE_READ;
  if (!(flags & FLAG_EXCLUSIVE_WRITE))
    sharing |= FILE_SHARE_WRITE;
  if (flags & FLAG_SHARE_DELETE)
    sharing |= FILE_SHARE_DELETE;

  DWORD attributes = FILE_ATTRIBUTE_NORMAL;
  if (flags & FLAG_TEMPORARY)
    attributes = FILE_ATTRIBUTE_TEMPORARY;
  if (flags & FLAG_DELETE_ON_CLOSE)
    attributes |= FILE_FLAG_DELETE_ON_CLOSE;
  if (flags & FLAG_BACKUP_SEMANTICS)
    attributes |= FILE_FLAG_BACKUP_SEMANTICS;

  HANDLE handle =
      ::CreateFileW(path.c_str(), access, sharing, nullptr, disposition, attributes, nullptr);
  const DWORD error = ::GetLastError();
  handle_.Reset(handle);
  if (!handle_.IsValid()) {
    error_details_ = error;
    error_ = OSErrorToFileError(error);
    ELOG(ERROR, error) << "Cannot open " << path;
    return;
  }
  switch (disposition) {
    case CREATE_NEW: created_ = true; break;
    case OPEN_ALWAYS:
    case CREATE_ALWAYS: created_ = error != ERROR_ALREADY_EXISTS; break;
    default: created_ = false;
  }
}

HANDLE File::TakePlatformFile() { return handle_.Release(); }

void File::Close() { handle_.Reset(); }

bool File::CheckIo(const char* operation, const void* data, int size) const {
  if (!IsValid()) {
    LOG(ERROR) << operation << " on a closed file";
    return false;
  }
  if (size < 0 || (size > 0 && !data)) {
    LOG(ERROR) << operation << " with a bad buffer (" << size << " bytes)";
    return false;
  }
  return true;
}

int64_t File::Seek(Whence whence, int64_t offset) {
  if (!IsValid()) {
    LOG(ERROR) << "Seek on a closed file";
    return -1;
  }
  LARGE_INTEGER distance = {};
  distance.QuadPart = offset;
  LARGE_INTEGER position = {};
  if (!::SetFilePointerEx(handle_.Get(), distance, &position, static_cast<DWORD>(whence))) {
    PLOG(ERROR) << "SetFilePointerEx failed";
    return -1;
  }
  return position.QuadPart;
}

int File::Read(int64_t offset, char* data, int size) {
  if (!CheckIo("Read", data, size))
    return -1;
  if (offset < 0) {
    LOG(ERROR) << "Read at negative offset " << offset;
    return -1;
  }
  OVERLAPPED overlapped = OverlappedAt(offset);
  DWORD read = 0;
  if (::ReadFile(handle_.Get(), data, static_cast<DWORD>(size), &read, &overlapped))
    return static_cast<int>(read);
  if (::GetLastError() == ERROR_HANDLE_EOF)
    return 0;
  PLOG(ERROR) << "ReadFile failed";
  return -1;
}

int File::ReadAtCurrentPos(char* data, int size) {
  if (!CheckIo("Read", data, size))
    return -1;
  DWORD read = 0;
  if (::ReadFile(handle_.Get(), data, static_cast<DWORD>(size), &read, nullptr))
    return static_cast<int>(read);
  if (::GetLastError() == ERROR_HANDLE_EOF)
    return 0;
  PLOG(ERROR) << "ReadFile failed";
  return -1;
}

int File::Write(int64_t offset, const char* data, int size) {
  if (!CheckIo("Write", data, size))
    return -1;
  if (offset < 0) {
    LOG(ERROR) << "Write at negative offset " << offset;
    return -1;
  }
  OVERLAPPED overlapped = OverlappedAt(offset);
  DWORD written = 0;
  if (!::WriteFile(handle_.Get(), data, static_cast<DWORD>(size), &written, &overlapped)) {
    PLOG(ERROR) << "WriteFile failed";
    return -1;
  }
  return static_cast<int>(written);
}

int File::WriteAtCurrentPos(const char* data, int size) {
  if (!CheckIo("Write", data, size))
    return -1;
  DWORD written = 0;
  if (!::WriteFile(handle_.Get(), data, static_cast<DWORD>(size), &written, nullptr)) {
    PLOG(ERROR) << "WriteFile failed";
    return -1;
  }
  return static_cast<int>(written);
}

int64_t File::GetLength() {
  if (!IsValid()) {
    LOG(ERROR) << "GetLength on a closed file";
    return -1;
  }
  LARGE_INTEGER size = {};
  if (!::GetFileSizeEx(handle_.Get(), &size)) {
    PLOG(ERROR) << "GetFileSizeEx failed";
    return -1;
  }
  return size.QuadPart;
}

bool File::SetLength(int64_t length) {
  if (!IsValid()) {
    LOG(ERROR) << "SetLength on a closed file";
    return false;
  }
  if (length < 0) {
    LOG(ERROR) << "SetLength to negative length " << length;
    return false;
  }
  const int64_t position = Seek(FROM_CURRENT, 0);
  if (position < 0)
    return false;
  if (Seek(FROM_BEGIN, length) < 0)
    return false;
  bool success = true;
  if (!::SetEndOfFile(handle_.Get())) {
    PLOG(ERROR) << "SetEndOfFile failed";
    success = false;
  }
  // Put the position back even when the length could not be set.
  if (Seek(FROM_BEGIN, position) < 0)
    return false;
  return success;
}

bool File::Flush() {
  if (!IsValid()) {
    LOG(ERROR) << "Flush on a closed file";
    return false;
  }
  if (!::FlushFileBuffers(handle_.Get())) {
    PLOG(ERROR) << "FlushFileBuffers failed";
    return false;
  }
  return true;
}

bool File::GetInfo(Info* info) {
  if (!IsValid()) {
    LOG(ERROR) << "GetInfo on a closed file";
    return false;
  }
  BY_HANDLE_FILE_INFORMATION data = {};
  if (!::GetFileInformationByHandle(handle_.Get(), &data)) {
    PLOG(ERROR) << "GetFileInformationByHandle failed";
    return false;
  }
  info->size =
      static_cast<int64_t>((static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
  info->is_directory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  info->last_modified = Time::FromFileTime(data.ftLastWriteTime);
  info->last_accessed = Time::FromFileTime(data.ftLastAccessTime);
  info->creation_time = Time::FromFileTime(data.ftCreationTime);
  return true;
}

}  // namespace base
