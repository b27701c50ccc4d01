#include "crash_upload/file/file_io_win.h"

#include "base/logging.h"

namespace crash_upload {

HANDLE LoggingOpenFileForRead(const base::FilePath& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    PLOG(ERROR) << "CreateFile " << path.AsUTF8Unsafe();
  return file;
}

int64_t ReadFileChunk(HANDLE handle, void* buffer, size_t size) {
  CHECK(size <= 0xFFFFFFFFu);
  bool is_pipe = GetFileType(handle) == FILE_TYPE_PIPE;
  char* out = static_cast<char*>(buffer);
  DWORD total = 0;
  DWORD wanted = static_cast<DWORD>(size);
  while (total < wanted) {
    DWORD read = 0;
    if (ReadFile(handle, out + total, wanted - total, &read, nullptr)) {
      total += read;
      // A pipe may hand over 0 bytes and still have more to come.
      if (read == 0 && !is_pipe)
        break;
      continue;
    }
    DWORD error = GetLastError();
    if (error == ERROR_BROKEN_PIPE)
      break;
    if (error == ERROR_MORE_DATA) {
      total += read;
      continue;
    }
    return -1;
  }
  return total;
}

bool LoggingCloseFile(HANDLE handle) {
  if (!CloseHandle(handle)) {
    PLOG(ERROR) << "CloseHandle";
    return false;
  }
  return true;
}

void CloseFileOrDie(HANDLE handle) {
  CHECK(LoggingCloseFile(handle));
}

}  // namespace crash_upload
