// The small file functions under the upload body streams: open for reading,
// read a chunk, close, each logging its own failure.
#ifndef CRASH_UPLOAD_FILE_FILE_IO_WIN_H_
#define CRASH_UPLOAD_FILE_FILE_IO_WIN_H_

#include <windows.h>

#include <cstdint>

#include "base/files/file_path.h"

namespace crash_upload {

// An existing file opened for reading (others may read and write it); the
// invalid handle, logged, on failure.
HANDLE LoggingOpenFileForRead(const base::FilePath& path);
// Reads until |size| bytes are in |buffer| or the file ends; the count, or
// -1 on a read error. |size| must fit in 32 bits.
int64_t ReadFileChunk(HANDLE handle, void* buffer, size_t size);
// False (and logged) when CloseHandle fails.
bool LoggingCloseFile(HANDLE handle);
// Stops the process when the close fails: a handle we own that cannot be
// closed is a programming error.
void CloseFileOrDie(HANDLE handle);

}  // namespace crash_upload

#endif  // CRASH_UPLOAD_FILE_FILE_IO_WIN_H_
