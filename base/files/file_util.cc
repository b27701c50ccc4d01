#include "base/files/file_util.h"

#include <windows.h>
#include <shlobj.h>

#include <vector>

#include "base/files/directory_enumerator.h"
#include "base/win/scoped_co_task_mem.h"
#include "base/win/scoped_handle.h"
#include "base/logging.h"
#include "base/scoped_generic.h"

namespace base {

namespace {

// Prefix of the names GetTempFileNameW makes for us (it uses three letters).
constexpr wchar_t kTempFilePrefix[] = L"vlm";

bool IsForbiddenPathChar(wchar_t c) {
  return c < 32 || c == L'<' || c == L'>' || c == L'"' || c == L'|' || c == L'?' || c == L'*';
}

bool HasWildcard(std::wstring_view name) {
  return name.find_first_of(L"*?") != std::wstring_view::npos;
}

// Clears FILE_ATTRIBUTE_READONLY from |path| when it is set (|attributes| are
// the current ones).
bool ClearReadOnly(const FilePath& path, DWORD attributes) {
  if (!(attributes & FILE_ATTRIBUTE_READONLY))
    return true;
  DWORD cleared = attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
  if (cleared == 0)
    cleared = FILE_ATTRIBUTE_NORMAL;
  if (!::SetFileAttributesW(path.c_str(), cleared)) {
    PLOG(ERROR) << "Cannot clear the read-only attribute of " << path;
    return false;
  }
  return true;
}

bool DeleteEntry(const FilePath& path, DWORD attributes, bool recursive);

// Deletes everything inside the folder |path|.
bool DeleteFolderContents(const FilePath& path) {
  bool success = true;
  DirectoryEnumerator entries(path, false,
                              DirectoryEnumerator::FILES | DirectoryEnumerator::DIRECTORIES);
  for (FilePath entry = entries.Next(); !entry.empty(); entry = entries.Next()) {
    const DWORD attributes = ::GetFileAttributesW(entry.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
      continue;  // Gone meanwhile.
    if (!DeleteEntry(entry, attributes, true))
      success = false;
  }
  return success;
}

// Deletes one existing file or folder whose |attributes| are known.
bool DeleteEntry(const FilePath& path, DWORD attributes, bool recursive) {
  if (!ClearReadOnly(path, attributes))
    return false;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    // A junction or symbolic link to a folder is removed as the link itself;
    // its target is never touched.
    if (recursive && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT) && !DeleteFolderContents(path))
      return false;
    if (!::RemoveDirectoryW(path.c_str())) {
      PLOG(ERROR) << "Cannot remove folder " << path;
      return false;
    }
    return true;
  }
  if (!::DeleteFileW(path.c_str())) {
    PLOG(ERROR) << "Cannot delete file " << path;
    return false;
  }
  return true;
}

// Copies the tree |from| into the folder |to| (created when missing),
// replacing files of the same name.
bool CopyFolderTree(const FilePath& from, const FilePath& to) {
  if (!CreateDirectoryTree(to))
    return false;
  DirectoryEnumerator entries(from, false,
                              DirectoryEnumerator::FILES | DirectoryEnumerator::DIRECTORIES);
  for (FilePath entry = entries.Next(); !entry.empty(); entry = entries.Next()) {
    const FilePath target = to.Append(entry.BaseName());
    const DWORD attributes = ::GetFileAttributesW(entry.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
      PLOG(ERROR) << "Cannot read attributes of " << entry;
      return false;
    }
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
      LOG(ERROR) << "Cannot copy the link " << entry << " to another volume";
      return false;
    }
    const bool ok = (attributes & FILE_ATTRIBUTE_DIRECTORY) ? CopyFolderTree(entry, target)
                                                            : CopySingleFile(entry, target);
    if (!ok)
      return false;
  }
  return true;
}

// Opens |path| for reading with every kind of sharing.
bool OpenForReading(const FilePath& path, win::ScopedHandle& file) {
  HANDLE handle = ::CreateFileW(path.c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  const DWORD error = ::GetLastError();
  file.Reset(handle);
  if (!file.IsValid()) {
    ELOG(ERROR, error) << "Cannot open " << path;
    return false;
  }
  return true;
}

bool TryKnownFolder(const KNOWNFOLDERID& folder_id, bool create, FilePath* path) {
  win::ScopedCoTaskMemString folder;
  HRESULT hr = ::SHGetKnownFolderPath(folder_id, 0, nullptr, folder.Receive());
  if (FAILED(hr) && create) {
    VLOG(1) << "Known folder lookup failed (0x" << std::hex << static_cast<unsigned long>(hr)
            << "); trying to create it";
    hr =
        ::SHGetKnownFolderPath(folder_id, KF_FLAG_CREATE | KF_FLAG_INIT, nullptr, folder.Receive());
  }
  if (FAILED(hr) || !folder.IsValid()) {
    ELOG(WARNING, static_cast<unsigned long>(hr)) << "SHGetKnownFolderPath failed";
    return false;
  }
  *path = FilePath(folder.Get());
  return true;
}

}  // namespace

bool PathExists(const FilePath& path) {
  return !path.empty() && ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool DirectoryExists(const FilePath& path) {
  if (path.empty())
    return false;
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool PathIsWritable(const FilePath& path) {
  if (path.empty())
    return false;
  // FILE_WRITE_DATA on a folder is the right to add files to it; backup
  // semantics let the folder itself be opened.
  HANDLE handle = ::CreateFileW(path.c_str(), FILE_WRITE_DATA,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  const DWORD error = ::GetLastError();
  win::ScopedHandle file;
  file.Reset(handle);
  if (!file.IsValid()) {
    VLOG(1) << "Not writable: " << path << " (error " << error << ")";
    return false;
  }
  return true;
}

bool IsValidPath(const FilePath& path, bool is_directory) {
  const std::wstring& value = path.value();
  if (value.empty()) {
    LOG(WARNING) << "Empty path is not valid";
    return false;
  }
  for (size_t i = 0; i < value.size(); ++i) {
    const wchar_t c = value[i];
    const bool drive_colon =
        c == L':' && i == 1 &&
        ((value[0] >= L'a' && value[0] <= L'z') || (value[0] >= L'A' && value[0] <= L'Z'));
    if ((c == L':' && !drive_colon) || IsForbiddenPathChar(c)) {
      LOG(WARNING) << "Path " << path << " holds a forbidden character at " << i;
      return false;
    }
  }
  // CreateDirectoryW needs room for an 8.3 name (12 characters) below
  // MAX_PATH.
  if (is_directory && value.size() > MAX_PATH - 13) {
    LOG(WARNING) << "Folder path is too long (" << value.size() << " characters): " << path;
    return false;
  }
  return true;
}

bool CreateDirectoryTree(const FilePath& path) {
  if (path.empty()) {
    LOG(ERROR) << "Cannot create a folder with an empty path";
    return false;
  }
  // Collect the missing folders, deepest first.
  std::vector<FilePath> missing;
  FilePath current = path.StripTrailingSeparators();
  for (;;) {
    const DWORD attributes = ::GetFileAttributesW(current.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
      if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        LOG(ERROR) << "Cannot create folder " << path << ": " << current << " is a file";
        return false;
      }
      break;
    }
    missing.push_back(current);
    const FilePath parent = current.DirName();
    if (parent == current || parent.value() == L".")
      break;  // A root or the start of a relative path.
    current = parent;
  }
  for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
    if (!::CreateDirectoryW(it->c_str(), nullptr)) {
      const DWORD error = ::GetLastError();
      // Another process may have created it meanwhile.
      if (DirectoryExists(*it))
        continue;
      ELOG(ERROR, error) << "Cannot create folder " << *it;
      return false;
    }
  }
  return true;
}

bool CopySingleFile(const FilePath& from, const FilePath& to) {
  if (from.ReferencesParent() || to.ReferencesParent()) {
    LOG(ERROR) << "Refusing to copy " << from << " to " << to << ": parent folder reference";
    return false;
  }
  if (from.value().size() >= MAX_PATH || to.value().size() >= MAX_PATH) {
    LOG(ERROR) << "Refusing to copy " << from << " to " << to << ": path too long";
    return false;
  }
  // A read-only target could not be replaced.
  const DWORD target_attributes = ::GetFileAttributesW(to.c_str());
  if (target_attributes != INVALID_FILE_ATTRIBUTES &&
      !(target_attributes & FILE_ATTRIBUTE_DIRECTORY) && !ClearReadOnly(to, target_attributes)) {
    return false;
  }
  if (!::CopyFileW(from.c_str(), to.c_str(), FALSE)) {
    PLOG(ERROR) << "Cannot copy " << from << " to " << to;
    return false;
  }
  // The copy takes the source's attributes; a read-only copy would block the
  // next update.
  const DWORD attributes = ::GetFileAttributesW(to.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    PLOG(ERROR) << "Cannot read attributes of the copy " << to;
    return false;
  }
  return ClearReadOnly(to, attributes);
}

bool MovePath(const FilePath& from, const FilePath& to) {
  if (from.ReferencesParent() || to.ReferencesParent()) {
    LOG(ERROR) << "Refusing to move " << from << " to " << to << ": parent folder reference";
    return false;
  }
  if (::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED))
    return true;
  const DWORD error = ::GetLastError();
  // Files are copied across volumes by MoveFileExW itself; a folder is only
  // renamed, so one on another volume (or onto an existing folder) is copied
  // and then deleted here.
  if (!DirectoryExists(from)) {
    ELOG(ERROR, error) << "Cannot move " << from << " to " << to;
    return false;
  }
  const DWORD target_attributes = ::GetFileAttributesW(to.c_str());
  if (target_attributes != INVALID_FILE_ATTRIBUTES &&
      !(target_attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    ELOG(ERROR, error) << "Cannot move folder " << from << " onto the file " << to;
    return false;
  }
  VLOG(1) << "Renaming folder " << from << " failed (error " << error << "); copying it";
  if (!CopyFolderTree(from, to)) {
    LOG(ERROR) << "Cannot move folder " << from << " to " << to;
    return false;
  }
  return DeletePath(from, true);
}

bool DeletePath(const FilePath& path, bool recursive) {
  if (path.empty()) {
    LOG(ERROR) << "Refusing to delete an empty path";
    return false;
  }
  if (path.value().size() >= MAX_PATH) {
    LOG(ERROR) << "Refusing to delete " << path << ": path too long";
    return false;
  }
  const std::wstring pattern = path.BaseName().value();
  if (HasWildcard(pattern)) {
    const FilePath folder = path.DirName();
    if (HasWildcard(folder.value())) {
      LOG(ERROR) << "Refusing to delete " << path << ": wildcards in a folder name";
      return false;
    }
    bool success = true;
    DirectoryEnumerator matches(
        folder, false, DirectoryEnumerator::FILES | DirectoryEnumerator::DIRECTORIES, pattern);
    for (FilePath entry = matches.Next(); !entry.empty(); entry = matches.Next()) {
      const DWORD attributes = ::GetFileAttributesW(entry.c_str());
      if (attributes == INVALID_FILE_ATTRIBUTES)
        continue;  // Gone meanwhile.
      if (!DeleteEntry(entry, attributes, recursive))
        success = false;
    }
    return success;
  }
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
      return true;
    ELOG(ERROR, error) << "Cannot read attributes of " << path;
    return false;
  }
  return DeleteEntry(path, attributes, recursive);
}

bool ReadFileToString(const FilePath& path, std::string* contents) {
  if (contents)
    contents->clear();
  win::ScopedHandle file;
  if (!OpenForReading(path, file))
    return false;
  LARGE_INTEGER size = {};
  if (contents && ::GetFileSizeEx(file.Get(), &size) && size.QuadPart > 0 &&
      static_cast<uint64_t>(size.QuadPart) < contents->max_size()) {
    contents->reserve(static_cast<size_t>(size.QuadPart));
  }
  char buffer[64 * 1024];
  for (;;) {
    DWORD read = 0;
    if (!::ReadFile(file.Get(), buffer, sizeof(buffer), &read, nullptr)) {
      PLOG(ERROR) << "Cannot read " << path;
      if (contents)
        contents->clear();
      return false;
    }
    if (read == 0)
      return true;
    if (contents)
      contents->append(buffer, read);
  }
}

int WriteFileBytes(const FilePath& path, const char* data, int size) {
  if (size < 0 || (size > 0 && !data)) {
    LOG(ERROR) << "Bad buffer for writing " << path;
    return -1;
  }
  HANDLE handle = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
  const DWORD error = ::GetLastError();
  win::ScopedHandle file;
  file.Reset(handle);
  if (!file.IsValid()) {
    ELOG(ERROR, error) << "Cannot create " << path;
    return -1;
  }
  DWORD written = 0;
  if (!::WriteFile(file.Get(), data, static_cast<DWORD>(size), &written, nullptr)) {
    PLOG(ERROR) << "Cannot write " << path;
    return -1;
  }
  if (written != static_cast<DWORD>(size)) {
    LOG(ERROR) << "Wrote only " << written << " of " << size << " bytes to " << path;
    return -1;
  }
  return static_cast<int>(written);
}

bool CreateTemporaryFileInDirectory(const FilePath& dir, FilePath* temp_file) {
  if (!temp_file) {
    LOG(ERROR) << "No output for the temporary file name";
    return false;
  }
  // GetTempFileNameW writes at most MAX_PATH characters and needs the folder
  // to leave room for the 14-character name.
  if (dir.empty() || dir.value().size() > MAX_PATH - 14) {
    LOG(ERROR) << "Unusable folder for a temporary file: " << dir;
    return false;
  }
  wchar_t name[MAX_PATH + 1] = {};
  if (!::GetTempFileNameW(dir.c_str(), kTempFilePrefix, 0, name)) {
    PLOG(ERROR) << "Cannot create a temporary file in " << dir;
    return false;
  }
  const FilePath short_form(name);
  wchar_t long_name[MAX_PATH + 1] = {};
  const DWORD length = ::GetLongPathNameW(name, long_name, MAX_PATH + 1);
  if (length == 0 || length > MAX_PATH) {
    PLOG(ERROR) << "Cannot get the long name of " << short_form;
    ::DeleteFileW(name);
    return false;
  }
  *temp_file = FilePath(std::wstring_view(long_name, length));
  return true;
}

bool GetTempDirectory(FilePath* path) {
  wchar_t buffer[MAX_PATH + 1] = {};
  const DWORD length = ::GetTempPathW(MAX_PATH + 1, buffer);
  if (length == 0) {
    PLOG(ERROR) << "GetTempPathW failed";
    return false;
  }
  if (length >= MAX_PATH) {
    LOG(ERROR) << "Temporary folder path too long (" << length << " characters)";
    return false;
  }
  *path = FilePath(std::wstring_view(buffer, length)).StripTrailingSeparators();
  return true;
}

bool GetFileSize(const FilePath& path, int64_t* size) {
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
    PLOG(ERROR) << "Cannot read the size of " << path;
    return false;
  }
  if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
    LOG(ERROR) << "Cannot read the size of the folder " << path;
    return false;
  }
  *size =
      static_cast<int64_t>((static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
  return true;
}

bool GetKnownFolderPath(const KNOWNFOLDERID& folder_id, const KNOWNFOLDERID& fallback_id,
                        FilePath* path, bool create) {
  if (TryKnownFolder(folder_id, create, path))
    return true;
  if (fallback_id != GUID_NULL && TryKnownFolder(fallback_id, create, path)) {
    VLOG(1) << "Using the fallback known folder " << *path;
    return true;
  }
  LOG(ERROR) << "Known folder not available";
  return false;
}

bool GetCurrentDirectoryPath(FilePath* path) {
  std::wstring buffer(MAX_PATH, L'\0');
  for (int attempt = 0; attempt < 3; ++attempt) {
    const DWORD length = ::GetCurrentDirectoryW(static_cast<DWORD>(buffer.size()), buffer.data());
    if (length == 0) {
      PLOG(ERROR) << "GetCurrentDirectoryW failed";
      return false;
    }
    if (length < buffer.size()) {
      buffer.resize(length);
      *path = FilePath(buffer);
      return true;
    }
    buffer.resize(length);  // |length| counts the terminating NUL here.
  }
  LOG(ERROR) << "The current folder keeps changing";
  return false;
}

FilePath MakeAbsoluteFilePath(const FilePath& input) {
  if (input.empty()) {
    LOG(ERROR) << "Cannot make an empty path absolute";
    return FilePath();
  }
  std::wstring buffer(MAX_PATH, L'\0');
  for (int attempt = 0; attempt < 3; ++attempt) {
    const DWORD length = ::GetFullPathNameW(input.c_str(), static_cast<DWORD>(buffer.size()),
                                            buffer.data(), nullptr);
    if (length == 0) {
      PLOG(ERROR) << "Cannot make " << input << " absolute";
      return FilePath();
    }
    if (length < buffer.size()) {
      buffer.resize(length);
      return FilePath(buffer);
    }
    buffer.resize(length);
  }
  LOG(ERROR) << "Cannot make " << input << " absolute: the current folder keeps changing";
  return FilePath();
}

}  // namespace base
