// The files one extraction makes, each at the path of its archive entry.
// The unpacking folder starts empty and every file is made new, never over
// another: an entry that reaches a file already made under another name (a
// short-name alias, which no check of the names can know) fails. Only then
// are the files looked at, to name the entry that made it: making a file
// costs nothing more than its creation.
#ifndef DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_EXTRACTED_FILES_H_
#define DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_EXTRACTED_FILES_H_

#include <windows.h>

#include <cstdint>
#include <vector>

#include "base/files/file_path.h"
#include "base/win/scoped_handle.h"

namespace installer {

// Used by the threads of one extraction at once; it changes nothing of its
// own after construction.
class ExtractedFiles {
 public:
  // |paths| holds the path of every entry below |folder|, by index; it
  // must outlive this.
  ExtractedFiles(const base::FilePath& folder, const std::vector<base::FilePath>& paths)
      : folder_(folder), paths_(paths) {}
  ExtractedFiles(const ExtractedFiles&) = delete;
  ExtractedFiles& operator=(const ExtractedFiles&) = delete;

  // Makes the file of entry |index| anew, for writing without sharing. An
  // invalid handle and the system error (never 0) when it cannot, among
  // them ERROR_FILE_EXISTS when anything is there already.
  base::win::ScopedHandle Create(uint32_t index, DWORD* error) const;

  // Another entry whose path reaches the file that stands at entry
  // |index|'s path: the one that made it when only two names reach it.
  // False when there is none, when a folder stands there, or when the file
  // cannot be looked at.
  bool FindOwner(uint32_t index, uint32_t* owner) const;

 private:
  const base::FilePath folder_;
  const std::vector<base::FilePath>& paths_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_EXTRACTED_FILES_H_
