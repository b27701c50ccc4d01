// How the package fetcher, the WinInet downloader, the statistics sender and
// the preference-overrides fetcher report to the controller that owns them.
// Both controllers implement both interfaces: PackageFetcherDelegate for
// progress and status, FetcherUIDelegate for work that needs the controller's
// thread and window (the proxy-credential prompt). Calls made on other
// threads reach these only through a proxy that posts them to the
// controller's thread.
#ifndef DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_PACKAGE_FETCHER_DELEGATE_H_
#define DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_PACKAGE_FETCHER_DELEGATE_H_

#include <windows.h>

#include <cstdint>

#include "base/callback.h"
#include "base/shared_ref.h"
#include "base/threading/task_runner.h"

namespace installer {

// The values of PackageFetcherDelegate::NotifyStatusChanged: the phases of a
// fetch (0 to 4), then its final result, which shares the package-status
// numbering of the payload reader (5 to 8).
enum FetcherStatus : uint32_t {
  kFetcherStarted = 0,
  kFetcherRequestingDownloadUrl = 1,
  kFetcherDownloadingPackage = 2,
  // Also when the package came inside the running executable.
  kFetcherUnpackingPackage = 3,
  kFetcherDownloadingAdditionalFiles = 4,
  kFetcherResultPackageReady = 5,
  kFetcherResultInitializationFailed = 6,
  kFetcherResultDownloadFailed = 7,
  kFetcherResultUnpackingFailed = 8,
};

// A value outside this range changes nothing in either controller.
inline bool IsKnownFetcherStatus(uint32_t status) {
  return status <= kFetcherResultUnpackingFailed;
}

inline bool IsFetcherResult(uint32_t status) {
  return status >= kFetcherResultPackageReady && status <= kFetcherResultUnpackingFailed;
}

class PackageFetcherDelegate {
 public:
  virtual ~PackageFetcherDelegate() = default;
  // The size of the current operation: bytes of a download, entries of an
  // archive.
  virtual void SetTotalProgress(uint32_t total) = 0;
  // How far the current operation is.
  virtual void SetCurrentProgress(uint32_t current) = 0;
  // A download is waiting to be retried.
  virtual void NotifyStalled() = 0;
  // A new phase or the final result (FetcherStatus).
  virtual void NotifyStatusChanged(uint32_t status) = 0;
};

class FetcherUIDelegate {
 public:
  // Runs on the controller's thread with the controller's window (null when
  // it has none), which a prompt uses as its owner.
  using UITask = base::Callback<void(HWND)>;

  virtual ~FetcherUIDelegate() = default;
  // Runs |ui_task| on the controller's thread, then posts |reply| to
  // |reply_runner|. A controller that refuses the request (the silent one
  // refuses every request) skips |ui_task| but still posts |reply|, so the
  // requester never waits forever.
  virtual void RunUICallbackAndPostReply(UITask ui_task,
                                         base::SharedRef<base::TaskRunner> reply_runner,
                                         base::Closure reply) = 0;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_PACKAGE_FETCHER_DELEGATE_H_
