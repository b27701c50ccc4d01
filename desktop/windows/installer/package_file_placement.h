// How the files of an unpacked package reach the version folder. Where the
// package and the installation share a volume they are moved, so that every
// byte is written once (by the unpacking); a folder of the package whose
// whole content is a run of consecutive entries of the files list is moved
// in one rename. Entries that later steps still read from the package, or
// that the list names twice, are copied.
#ifndef DESKTOP_WINDOWS_INSTALLER_PACKAGE_FILE_PLACEMENT_H_
#define DESKTOP_WINDOWS_INSTALLER_PACKAGE_FILE_PLACEMENT_H_

#include <cstddef>
#include <set>
#include <string>
#include <vector>

#include "base/files/file_path.h"

namespace installer {

class PackageFilePlacement {
 public:
  PackageFilePlacement() = default;

  // Plans |entries| (the files list, relative to |package_folder|), to be
  // placed below |destination|. |copied_names| are relative names (any case)
  // that must stay in the package. Looks at the package's files once.
  static PackageFilePlacement Plan(const base::FilePath& package_folder,
                                   const std::vector<std::string>& entries,
                                   const std::set<std::wstring>& copied_names,
                                   const base::FilePath& destination);

  // Every one of |count| entries copied.
  static PackageFilePlacement CopyAll(size_t count);

  // True when the plan covers |index| (Plan was run for that list).
  bool covers(size_t index) const { return index < copy_.size(); }
  // The entry at |index| must be copied.
  bool must_copy(size_t index) const { return copy_[index]; }
  // The number of entries from |index| on that one rename of
  // folder_at(index) places; 0 when the entry at |index| is placed alone.
  size_t folder_run(size_t index) const { return folder_run_[index]; }
  // That folder, relative to the package and to the destination.
  const base::FilePath& folder_at(size_t index) const { return folder_[index]; }

  // From now on every entry is copied (the volumes differ).
  void CopyEverything();

  // The form in which names are compared: "\" separators, lower case.
  static std::wstring Key(const base::FilePath& relative);

 private:
  std::vector<bool> copy_;
  std::vector<size_t> folder_run_;
  std::vector<base::FilePath> folder_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PACKAGE_FILE_PLACEMENT_H_
