// A file over one Windows handle, closed when the File goes away.
#ifndef BASE_FILES_FILE_H_
#define BASE_FILES_FILE_H_

#include <windows.h>

#include <cstdint>

#include "base/files/file_path.h"
#include "base/time.h"
#include "base/win/scoped_handle.h"

namespace base {

class File {
 public:
  // Exactly one of the first five says how to open; the rest combine.
  enum Flags : uint32_t {
    FLAG_OPEN = 1 << 0,            // Only an existing file.
    FLAG_CREATE = 1 << 1,          // Only a new file.
    FLAG_OPEN_ALWAYS = 1 << 2,     // Existing or new.
    FLAG_CREATE_ALWAYS = 1 << 3,   // New, or an existing one truncated.
    FLAG_OPEN_TRUNCATED = 1 << 4,  // Only an existing file, truncated.
    FLAG_READ = 1 << 5,
    FLAG_WRITE = 1 << 6,
    // Others may not read (write) the file while it is open here. Without
    // these, reading and writing are shared.
    FLAG_EXCLUSIVE_READ = 1 << 7,
    FLAG_EXCLUSIVE_WRITE = 1 << 8,
    FLAG_TEMPORARY = 1 << 9,          // Kept in memory by the cache when possible.
    FLAG_DELETE_ON_CLOSE = 1 << 10,   // Deleted when the last handle closes.
    FLAG_SHARE_DELETE = 1 << 11,      // Others may delete or rename it meanwhile.
    FLAG_BACKUP_SEMANTICS = 1 << 12,  // Needed to open a folder.
  };

  enum Whence : int {
    FROM_BEGIN = FILE_BEGIN,
    FROM_CURRENT = FILE_CURRENT,
    FROM_END = FILE_END,
  };

  // Why an operation failed, in the terms the rest of the program acts on.
  enum Error : int {
    FILE_OK = 0,
    FILE_ERROR_FAILED = -1,  // A Windows error without a mapping below.
    FILE_ERROR_IN_USE = -2,
    FILE_ERROR_EXISTS = -3,
    FILE_ERROR_NOT_FOUND = -4,
    FILE_ERROR_ACCESS_DENIED = -5,
    FILE_ERROR_TOO_MANY_OPENED = -6,
    FILE_ERROR_NO_MEMORY = -7,
    FILE_ERROR_NO_SPACE = -8,
    FILE_ERROR_NOT_A_DIRECTORY = -9,
    FILE_ERROR_INVALID_OPERATION = -10,
    FILE_ERROR_ABORT = -12,
    FILE_ERROR_NOT_A_FILE = -13,
    FILE_ERROR_NOT_EMPTY = -14,
    FILE_ERROR_IO = -16,
  };

  // Maps a Windows error code. A code without a mapping gives
  // FILE_ERROR_FAILED and is recorded in the sparse histogram
  // "PlatformFile.UnknownErrors.Windows".
  static Error OSErrorToFileError(DWORD error);

  struct Info {
    int64_t size = 0;
    bool is_directory = false;
    Time last_modified;
    Time last_accessed;
    Time creation_time;
  };

  File() = default;
  File(const FilePath& path, uint32_t flags) { Initialize(path, flags); }
  // Takes ownership of an open handle.
  explicit File(HANDLE handle);
  File(File&& other) = default;
  File& operator=(File&& other) = default;
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  ~File() = default;

  // Closes any file held, then opens |path|. error_details() tells why an
  // open failed (a Windows error code; ERROR_SUCCESS when it worked).
  void Initialize(const FilePath& path, uint32_t flags);

  bool IsValid() const { return handle_.IsValid(); }
  // Whether the open created the file.
  bool created() const { return created_; }
  DWORD error_details() const { return error_details_; }
  // error_details() mapped (OSErrorToFileError); FILE_OK when the open
  // worked.
  Error error() const { return error_; }

  HANDLE GetPlatformFile() const { return handle_.Get(); }
  // Gives up the handle without closing it.
  [[nodiscard]] HANDLE TakePlatformFile();
  void Close();

  // Moves the file position; the new position from the start, or -1.
  int64_t Seek(Whence whence, int64_t offset);

  // Reads up to |size| bytes at |offset| (the file position moves past them).
  // Bytes read, 0 at the end of the file, -1 on error.
  int Read(int64_t offset, char* data, int size);
  int ReadAtCurrentPos(char* data, int size);
  // Writes |size| bytes at |offset|. Bytes written, or -1 on error.
  int Write(int64_t offset, const char* data, int size);
  int WriteAtCurrentPos(const char* data, int size);

  // The size in bytes, or -1.
  int64_t GetLength();
  // Truncates or extends the file; the file position is kept.
  bool SetLength(int64_t length);
  bool Flush();
  bool GetInfo(Info* info);

 private:
  bool CheckIo(const char* operation, const void* data, int size) const;

  win::ScopedHandle handle_;
  bool created_ = false;
  DWORD error_details_ = ERROR_SUCCESS;
  Error error_ = FILE_OK;
};

}  // namespace base

#endif  // BASE_FILES_FILE_H_
