// Walks the entries of a folder, optionally its whole tree.
#ifndef BASE_FILES_DIRECTORY_ENUMERATOR_H_
#define BASE_FILES_DIRECTORY_ENUMERATOR_H_

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/time.h"
#include "base/win/scoped_find_handle.h"

namespace base {

class DirectoryEnumerator {
 public:
  enum EntryKind : int {
    FILES = 1,
    DIRECTORIES = 2,
  };

  struct EntryInfo {
    int64_t size = 0;
    bool is_directory = false;
    // FILE_ATTRIBUTE_* of the entry.
    DWORD attributes = 0;
    Time last_modified;
  };

  // Entries of |root| (and, with |recursive|, of every folder below it)
  // whose kind is in |kinds| and whose name matches |pattern| ("*" any run,
  // "?" one character, case ignored). Recursion visits every subfolder,
  // matching or not, but never enters a reparse point (junctions may loop).
  // "." and ".." are never given.
  DirectoryEnumerator(const FilePath& root, bool recursive, int kinds,
                      std::wstring_view pattern = L"*");
  DirectoryEnumerator(const DirectoryEnumerator&) = delete;
  DirectoryEnumerator& operator=(const DirectoryEnumerator&) = delete;
  ~DirectoryEnumerator();

  // The next matching path (root joined with the entry's relative path), or
  // an empty path when there are no more.
  FilePath Next();

  // The entry given by the last Next().
  EntryInfo GetInfo() const;

  // Whole-name wildcard match, ignoring case. Exposed for tests.
  static bool MatchesPattern(std::wstring_view name, std::wstring_view pattern);

 private:
  // Opens the search of the next pending folder. False when none is left.
  bool StartNextFolder();

  const FilePath root_;
  const bool recursive_;
  const int kinds_;
  const std::wstring pattern_;

  // Folders still to be searched, last one first.
  std::vector<FilePath> pending_;
  // The folder being searched, and its search.
  FilePath current_folder_;
  win::ScopedFindHandle find_;
  // True while find_data_ holds an entry not yet looked at.
  bool have_entry_ = false;
  WIN32_FIND_DATAW find_data_ = {};
  // The entry given last.
  WIN32_FIND_DATAW last_entry_ = {};
};

}  // namespace base

#endif  // BASE_FILES_DIRECTORY_ENUMERATOR_H_
