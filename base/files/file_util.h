// Whole-file and whole-folder operations on paths.
//
// Every operation that fails logs its cause and returns false (or -1).
#ifndef BASE_FILES_FILE_UTIL_H_
#define BASE_FILES_FILE_UTIL_H_

#include <windows.h>
#include <shtypes.h>

#include <cstdint>
#include <string>

#include "base/files/file_path.h"

namespace base {

// True when the attributes of the file or folder can be read.
bool PathExists(const FilePath& path);
// True when |path| exists and is a folder.
bool DirectoryExists(const FilePath& path);
// True when |path| (a file, or a folder to create files in) opens for
// writing data.
bool PathIsWritable(const FilePath& path);

// False for an empty path, for forbidden characters (< > " | ? * and the
// control characters; ':' only as the colon of a leading drive letter) and,
// with |is_directory|, for a folder longer than 247 characters (a folder
// must leave room for an 8.3 name below MAX_PATH).
bool IsValidPath(const FilePath& path, bool is_directory);

// Creates |path| and every missing parent. True when the folder exists
// afterwards (also when it existed before).
bool CreateDirectoryTree(const FilePath& path);

// Copies one file onto |to|, replacing it (a read-only target included), and
// clears a read-only attribute of the copy. Refuses paths that reference a
// parent folder or are MAX_PATH (260) characters or longer.
bool CopySingleFile(const FilePath& from, const FilePath& to);

// Moves a file or folder, replacing the target (a folder moved onto an
// existing folder is merged into it). Refuses paths that reference a parent
// folder. A folder that cannot be renamed (another volume) is copied and
// then deleted.
bool MovePath(const FilePath& from, const FilePath& to);

// Deletes a file or, with |recursive|, a folder tree (without |recursive|
// only an empty folder). A base name with '*' or '?' deletes the matching
// entries of its folder. Read-only attributes are cleared first; a missing
// path counts as success; paths of MAX_PATH (260) characters or more are
// refused. Junctions and other reparse points are removed, never entered.
bool DeletePath(const FilePath& path, bool recursive);

// The whole file into |contents| (may be null to test readability). False
// when the file cannot be opened or read.
bool ReadFileToString(const FilePath& path, std::string* contents);

// Creates or truncates |path| (no sharing while open) and writes |size|
// bytes. The number of bytes written, or -1 when fewer were written or the
// file could not be created.
int WriteFileBytes(const FilePath& path, const char* data, int size);

// Creates a new empty file with a system-chosen name in |dir| and gives its
// long-form path.
bool CreateTemporaryFileInDirectory(const FilePath& dir, FilePath* temp_file);

// The temporary folder without trailing separators. False when the call
// fails or the path is longer than 259 characters.
bool GetTempDirectory(FilePath* path);

// The size in bytes of a file.
bool GetFileSize(const FilePath& path, int64_t* size);

// The known folder |folder_id|, first looked up as it is and, with |create|,
// again with KF_FLAG_CREATE | KF_FLAG_INIT; when both fail, the same for
// |fallback_id| (GUID_NULL for none).
bool GetKnownFolderPath(const KNOWNFOLDERID& folder_id, const KNOWNFOLDERID& fallback_id,
                        FilePath* path, bool create);

// The process's current folder.
bool GetCurrentDirectoryPath(FilePath* path);
// The absolute form of |input| (GetFullPathNameW; "." and ".." resolved
// textually, the file need not exist). Empty on failure.
FilePath MakeAbsoluteFilePath(const FilePath& input);

}  // namespace base

#endif  // BASE_FILES_FILE_UTIL_H_
