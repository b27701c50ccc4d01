// The package fetcher: obtains a ready, unpacked browser package for the
// controller that owns it, from the running executable's payload or from
// the package server, on a worker thread of its own ("Package fetcher
// worker"). It reports phases and the result (PackageFetcherDelegate) only
// by posting to the controller's thread through a proxy.
//
// PackageFetcher lives on the controller's side; PackageFetcherCore does the
// work on the worker thread, one chain of posted steps per try:
//   Start -> (FetchDownloadUrl -> OnDownloadUrlFetched -> ExtractArchive)
//         -> UnpackArchive -> WriteWelcomeUrlPref -> additional files
//         -> OnPackageReady
// ending in exactly one NotifyStatusChanged with a result from 5 to 8. After
// a failure the controller may call Start again. Destroying the fetcher
// terminates the core on the worker thread and removes everything the fetch
// wrote into its folder.
#ifndef DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_PACKAGE_FETCHER_H_
#define DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_PACKAGE_FETCHER_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/shared_ref.h"
#include "base/threading/thread.h"
#include "base/time.h"
#include "base/values.h"
#include "base/weak_ref.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/package_fetcher/package_status.h"
#include "desktop/windows/installer/stats_node.h"

namespace prefs {
class PrefsTaskPoolHolder;
}

namespace installer {

// The temporary file of an additional component's download, in the
// fetcher's folder.
inline constexpr wchar_t kAdditionalFileTempName[] = L"additional_file.tmp";

class FetcherUIDelegate;
class PackageFetcherDelegate;
class PackageFetcherDelegateProxy;
class PayloadReader;
class WinInetDownloader;

// The working part of the fetcher; every method runs on the worker thread.
class PackageFetcherCore {
 public:
  PackageFetcherCore(base::SharedRef<PackageFetcherDelegateProxy> proxy, PayloadReader* payload,
                     const base::FilePath& folder, const base::FilePath& download_path,
                     const base::FilePath& suite_path, const StatsNode& installation_stats,
                     uint32_t architecture, bool files_claimed);
  PackageFetcherCore(const PackageFetcherCore&) = delete;
  PackageFetcherCore& operator=(const PackageFetcherCore&) = delete;
  ~PackageFetcherCore();

  // Begins a try: cleans the folders, then takes the package from the
  // payload or asks the package server. Without the claim on its files the
  // try fails at once.
  void Start();
  // Asks the package server where the package is.
  void FetchDownloadUrl();
  // The server's reply arrived: starts the package download.
  void OnDownloadUrlFetched();
  // The package download ended: verifies it and takes its payload.
  void ExtractArchive(std::string checksum);
  // Unpacks |archive| into the unpacking folder.
  void UnpackArchive(base::FilePath archive);
  // Writes the server's welcome page into the unpacked package's
  // preferences, then starts the additional files or declares the package
  // ready.
  void WriteWelcomeUrlPref();
  // Starts the current additional component's download.
  void DownloadAdditionalFile();
  void OnAdditionalFileDownloaded(std::wstring filename, bool archive, std::string checksum,
                                  std::wstring type);
  // On to the next additional component, or the end of the try.
  void NextAdditionalFile();
  void OnPackageReady();
  // Ends a failed try with |status| (6 to 8).
  void ReportResult(PackageStatus status);
  // Tries after a failed one before a download gives up.
  void SetMaxDownloadRetries(int retries);
  // Before the core is deleted: nothing reaches the controller any more,
  // and everything the fetch wrote is removed (nothing without the claim:
  // the names may be another run's).
  void Terminate();

  // Tests: the file whose signature decides whether downloads must be
  // signed, in place of the running executable.
  static void SetRunningExecutableForTesting(const base::FilePath& path);
  // Tests: the downloaders of cores made afterwards retry at most
  // |max_retries| times, |delay| apart (a negative count restores the
  // downloader's own settings).
  static void SetDownloaderRetriesForTesting(int max_retries, base::TimeSpan delay);
  // Tests: the preference pool the welcome page is written on, in place of
  // the process-wide one (null restores it). Set before a fetch starts.
  static void SetPrefsTaskPoolForTesting(base::SharedRef<prefs::PrefsTaskPoolHolder> pool);
  // Tests: how long a component's self-extracting archive may run (a zero
  // span restores the default).
  static void SetExtractorTimeoutForTesting(base::TimeSpan limit);

 private:
  // Logs |text| as an error, records it as "failure_reason" and reports
  // |status|.
  void Fail(const char* text, PackageStatus status);
  // Whether a download must pass the signature check: unless the running
  // executable is known to be unsigned.
  bool DownloadsMustBeSigned() const;
  void PostToSelf(const base::CodeLocation& from_here, base::Closure task);
  void AddAdditionalFileEntry();
  void GoOnWithNextComponent();
  bool WriteFilesList();

  base::FilePath UnpackFolder() const { return download_path_.RemoveExtension(); }
  base::FilePath ArchivePath() const { return download_path_.ReplaceExtension(L"7z"); }

  base::SharedRef<PackageFetcherDelegateProxy> proxy_;
  PayloadReader* const payload_;
  uint32_t restart_count_ = 0;
  uint32_t additional_file_tries_ = 0;
  const base::FilePath folder_;
  const base::FilePath download_path_;
  const base::FilePath suite_path_;
  std::unique_ptr<WinInetDownloader> downloader_;
  std::string reply_text_;
  std::unique_ptr<base::Value> reply_;
  std::unique_ptr<base::ListValue> additional_files_;
  size_t next_additional_file_ = 0;
  std::vector<std::string> files_list_names_;
  StatsNode installation_stats_;
  std::unique_ptr<StatsNode> fetch_stats_;
  std::unique_ptr<StatsNode> additional_file_stats_;
  std::unique_ptr<StatsNode> additional_try_stats_;
  const uint32_t architecture_;
  // Whether this run holds the claim on its download files.
  const bool files_claimed_;
  base::WeakRefFactory<PackageFetcherCore> weak_factory_{this};
};

class PackageFetcher {
 public:
  // On the controller's thread, which must run a message loop. |ui| is
  // required; |delegate| may be null. |installation_stats| and |payload|
  // must outlive the fetcher. With |with_suite| the suite components of the
  // server's reply are fetched too.
  PackageFetcher(const base::FilePath& folder, StatsNode* installation_stats, FetcherUIDelegate* ui,
                 PackageFetcherDelegate* delegate, PayloadReader* payload, uint32_t architecture,
                 bool with_suite);
  PackageFetcher(const PackageFetcher&) = delete;
  PackageFetcher& operator=(const PackageFetcher&) = delete;
  ~PackageFetcher();

  void Start();
  // Lowers how often a failing download is tried again (the downloader's
  // default waits for the network for an hour); before Start.
  void SetMaxDownloadRetries(int retries);

  // The package installer's download path; the unpacked package goes into
  // the same path without its extension.
  const base::FilePath& download_path() const { return download_path_; }
  base::FilePath unpack_folder() const { return download_path_.RemoveExtension(); }
  // Where the suite components are unpacked; empty without them.
  base::FilePath suite_unpack_folder() const {
    return suite_path_.empty() ? base::FilePath() : suite_path_.RemoveExtension();
  }
  // The suite components' download path; empty without the suite.
  const base::FilePath& suite_path() const { return suite_path_; }

  // Removes from |folder| what runs that were ended from outside left there
  // (RemoveStaleDownloads with the fetcher's names): every fetcher does at
  // its start, and a front end without one (an uninstallation) at its end.
  // A rollback of such a run puts the files it had moved out of its package
  // back in there, so a front end that rolled one back removes them again.
  static void RemoveLeftoversOfEndedRuns(const base::FilePath& folder);

 private:
  // This run's claim on its download files, which keeps later runs from
  // taking them for the leftovers of a killed run; released last.
  base::win::ScopedHandle download_claim_;
  base::win::ScopedHandle suite_claim_;
  base::FilePath download_path_;
  base::FilePath suite_path_;
  base::Thread worker_;
  PackageFetcherCore* core_ = nullptr;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_PACKAGE_FETCHER_H_
