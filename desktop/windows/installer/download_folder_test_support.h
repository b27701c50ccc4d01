// What the tests of the download folder's search share: the small program
// they copy into candidate folders, and a count of what a folder holds.
#ifndef DESKTOP_WINDOWS_INSTALLER_DOWNLOAD_FOLDER_TEST_SUPPORT_H_
#define DESKTOP_WINDOWS_INSTALLER_DOWNLOAD_FOLDER_TEST_SUPPORT_H_

#include "base/files/directory_enumerator.h"
#include "base/files/file_path.h"
#include "base/files/path_registry.h"

namespace installer::test {

// A program that starts and ends at once, beside the test executable.
inline base::FilePath TinyProgram() {
  base::FilePath exe_dir;
  base::PathRegistry::Get(base::kPathExeDirectory, &exe_dir);
  return exe_dir.Append(L"tiny_program.exe");
}

// The files and folders below |folder|, at any depth.
inline int CountEntries(const base::FilePath& folder) {
  int count = 0;
  base::DirectoryEnumerator enumerator(folder, true, 3);
  while (!enumerator.Next().empty())
    ++count;
  return count;
}

}  // namespace installer::test

#endif  // DESKTOP_WINDOWS_INSTALLER_DOWNLOAD_FOLDER_TEST_SUPPORT_H_
