// The batch file "k.bat" that an uninstallation leaves in the install folder:
// it waits until the installer's processes have ended, then deletes the
// files and folders that were still in use, and finally itself.
//
// The command interpreter reads a batch file in the OEM code page and expands
// "%" in every line, so the paths are written in that code page with "%"
// doubled; a path the code page cannot carry is written in its short form.
// A path goes into the file only between double quotes, so a path holding a
// quote, a line break or another character that file names cannot hold
// could end the quoting or the line and run a command of its own: such a
// path is left out (logged), and so is a path outside the install folder.
#ifndef DESKTOP_WINDOWS_INSTALLER_CLEANUP_BATCH_FILE_H_
#define DESKTOP_WINDOWS_INSTALLER_CLEANUP_BATCH_FILE_H_

#include <set>
#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/process.h"

namespace installer {

inline constexpr wchar_t kCleanupBatchFileName[] = L"k.bat";
// The first line of the file: it works from the Windows folder, so that its
// own working folder keeps no folder of the installation.
inline constexpr char kLeaveInstallationLine[] = "cd /d \"%SystemRoot%\"\n";

struct CleanupBatchContents {
  CleanupBatchContents();
  CleanupBatchContents(const CleanupBatchContents&);
  ~CleanupBatchContents();

  // The processes to wait for; 0 for none (pid1 is always waited for).
  base::ProcessId pid1 = 0;
  base::ProcessId pid2 = 0;
  base::ProcessId pid3 = 0;
  // Leftover paths must lie below it; empty: no such bound.
  base::FilePath install_folder;
  // Deleted in this order, each once nothing holds it any more.
  std::vector<base::FilePath> leftover_files;
  // Removed when empty, deepest first: descending order of the path text
  // puts every folder before its parent.
  std::set<base::FilePath> leftover_folders;
  // Whether |install_folder| itself goes at the end, when it is empty then.
  // The batch file cannot remove the folder it stands in while it runs: a
  // process of its own removes it a moment after the batch file ended.
  bool remove_install_folder = false;
};

// Adds to |folders| every folder that holds |path| and lies below
// |install_folder|, which itself is not added: the walk never reaches folders
// the installation did not create. Nothing is added for a path outside
// |install_folder|.
void AddLeftoverFolders(const base::FilePath& path, const base::FilePath& install_folder,
                        std::set<base::FilePath>* folders);

// |path| as batch-file text: in the OEM code page, or else its short form in
// that code page, with every "%" doubled. False (logged) when |path| holds a
// character that file names cannot hold (control characters, < > " | ? *,
// and ":" anywhere but after a drive letter), or when neither form can be
// written; the caller leaves the line out.
bool EncodeBatchFilePath(const base::FilePath& path, std::string* text);

// The text of "k.bat": the change to the Windows folder, the wait for the
// processes, then "del" for each leftover file, retried about once a second
// while the file is still there (the processes holding it have not ended
// yet; a bounded number of rounds for all files together), "rmdir" for each
// leftover folder, the start of the install folder's removal when asked,
// and "del %0".
// Each line ends with "\n". A path that cannot be encoded, or that does not
// lie below |contents.install_folder| when that is set, loses its lines
// (logged).
std::string BuildCleanupBatchText(const CleanupBatchContents& contents);

// Starts the batch file |batch| hidden, from the Windows folder, without
// waiting for it. False when it was not started (logged).
bool RunCleanupBatchFile(const base::FilePath& batch);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_CLEANUP_BATCH_FILE_H_
