// What killed runs leave in the download folder: a partial package
// installer ("velmo_installer_<time>_<process id>_<n>.exe"), its 7z file,
// its unpacking folder, the suite's ("suite_<time>_<process id>_<n>..."),
// and the additional file being downloaded. A running fetcher claims its
// files with a lock file that only its own processes hold open; a later run
// removes the files of earlier runs that no live process claims.
#ifndef DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_STALE_DOWNLOADS_H_
#define DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_STALE_DOWNLOADS_H_

#include <initializer_list>
#include <string_view>

#include "base/files/file_path.h"
#include "base/time.h"
#include "base/win/scoped_handle.h"

namespace installer {

// Claims the files named after |download_path| (the path with another or
// no extension) for as long as |claim| stays open: "<path without
// extension>.lock", opened without sharing and deleted when its last
// handle closes, which the system does also for a killed process. The
// handle is inheritable: processes started with handles hold the claim
// too. False (logged) when it could
// not be made: the files may then be another live run's, and the run must
// neither use nor remove them.
bool ClaimDownloadFiles(const base::FilePath& download_path, base::win::ScopedHandle* claim);

// Whether |name| is one of the fetcher's time-stamped names: |prefix|, "_",
// fourteen digits, optionally "_" and a process id and "_" and a number,
// and nothing, ".exe", ".7z" or ".lock". |claiming| (optional) tells whether
// the name has the process id and number: those of runs that claim their
// files (ClaimDownloadFiles) before they make any.
bool IsDownloadFileName(std::wstring_view name, std::wstring_view prefix, bool* claiming = nullptr);

// Removes from |folder| the fetcher's files (named with |prefixes|, and
// the additional file's) that no live run claims. A name without a claim
// (made by an older installer, which claimed nothing) must also have been
// last written before |run_start|; a claiming run's files are known by the
// claim alone, however recently they changed (the rollback of a killed run
// moves files back into its package folder). Failures are logged and
// skipped; what stays for a live run is logged too.
void RemoveStaleDownloads(const base::FilePath& folder,
                          std::initializer_list<std::wstring_view> prefixes, base::Time run_start);

// When this process started.
base::Time ProcessStartTime();

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_STALE_DOWNLOADS_H_
