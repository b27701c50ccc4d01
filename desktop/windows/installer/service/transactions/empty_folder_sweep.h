// EmptyFolderSweep: the folders that the deletions committed together may
// have emptied, each removed once when the sweep ends, deepest first,
// instead of once for every file deleted from it (thousands of files in a
// few folders would cost thousands of removals that fail on a folder not
// empty yet). While a sweep lives on a thread, the deletions committed on
// that thread give it their folders; sweeps nest, the innermost taking
// them.
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_EMPTY_FOLDER_SWEEP_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_EMPTY_FOLDER_SWEEP_H_

#include <map>
#include <string>

#include "base/files/file_path.h"

namespace installer {

class EmptyFolderSweep {
 public:
  EmptyFolderSweep();
  EmptyFolderSweep(const EmptyFolderSweep&) = delete;
  EmptyFolderSweep& operator=(const EmptyFolderSweep&) = delete;
  // Removes every folder given that is empty by now, the deepest first, so
  // that a folder whose subfolders all go goes too.
  ~EmptyFolderSweep();

  // The innermost sweep living on the calling thread; null when none does.
  static EmptyFolderSweep* Current();

  // Removes |folder| at the end when it is empty then.
  void Add(const base::FilePath& folder);

 private:
  EmptyFolderSweep* const outer_;
  // By the folder's path in lower case: one folder under two spellings is
  // removed once.
  std::map<std::wstring, base::FilePath> folders_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_EMPTY_FOLDER_SWEEP_H_
