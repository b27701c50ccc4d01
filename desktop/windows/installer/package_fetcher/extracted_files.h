// The files one extraction made, each with the archive entry it was made
// for. The unpacking folder starts empty and every file is made new, never
// over another: an entry that reaches a file already made under another
// name (a short-name alias, which no check of the names can know) fails,
// and the entry that made the file can be named with it.
#ifndef DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_EXTRACTED_FILES_H_
#define DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_EXTRACTED_FILES_H_

#include <windows.h>

#include <cstdint>
#include <map>
#include <utility>

#include "base/files/file_path.h"
#include "base/threading/lock.h"
#include "base/win/scoped_handle.h"

namespace installer {

// Used by the threads of one extraction at once.
class ExtractedFiles {
 public:
  ExtractedFiles() = default;
  ExtractedFiles(const ExtractedFiles&) = delete;
  ExtractedFiles& operator=(const ExtractedFiles&) = delete;

  // Makes |path| anew, for writing without sharing, for entry |index|. An
  // invalid handle and the system error (never 0) when it cannot, among
  // them ERROR_FILE_EXISTS when anything is there already.
  base::win::ScopedHandle Create(const base::FilePath& path, uint32_t index, DWORD* error);

  // The entry this extraction made the file at |path| for; false when it
  // made none there (or the file cannot be looked at).
  bool FindOwner(const base::FilePath& path, uint32_t* index);

 private:
  // A file as its volume knows it, whatever name reached it.
  using Identity = std::pair<DWORD, uint64_t>;

  static Identity IdentityOf(const BY_HANDLE_FILE_INFORMATION& info);

  base::Lock lock_;
  // Under |lock_|.
  std::map<Identity, uint32_t> owners_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_EXTRACTED_FILES_H_
