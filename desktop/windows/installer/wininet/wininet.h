// WinInetDownloader: downloads one address over HTTP or HTTPS with the
// asynchronous WinInet interface, streams the body into a ResponseWriter and
// tells a DownloadReport what happens. It retries after gateway errors and
// lost connections, resumes an interrupted body with a byte range, and lets
// the user enter proxy credentials through the FetcherUIDelegate. One
// download at a time; it may be started again for the next one.
//
// Start, Stop and every completion run on the thread that called Start, which
// must run a message loop. WinInet's status callback runs on WinInet's
// threads; it posts everything that ends or advances a download back.
#ifndef DESKTOP_WINDOWS_INSTALLER_WININET_WININET_H_
#define DESKTOP_WINDOWS_INSTALLER_WININET_WININET_H_

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/callback.h"
#include "base/shared_ref.h"
#include "base/threading/ordered_task_runner.h"
#include "base/time.h"
#include "base/weak_ref.h"
#include "desktop/windows/installer/wininet/download_report.h"
#include "desktop/windows/installer/wininet/wininet_response_writer.h"

namespace base {
class PlainThread;
}

namespace installer {

class FetcherUIDelegate;
class PackageFetcherDelegate;

namespace internal {
class DownloadSession;
}

class WinInetDownloader {
 public:
  enum State : uint32_t {
    kIdle = 0,
    kRequestSent = 1,
    kReceivingBody = 2,
    kStopped = 3,
    kFailed = 4,
    kCompleted = 5,
  };

  static constexpr int kDefaultMaxRetries = 600;
  static constexpr int kRetryDelayMs = 6000;

  // |ui| is required; |progress| may be null.
  WinInetDownloader(FetcherUIDelegate* ui, PackageFetcherDelegate* progress);
  WinInetDownloader(const WinInetDownloader&) = delete;
  WinInetDownloader& operator=(const WinInetDownloader&) = delete;
  ~WinInetDownloader();

  // Downloads |url|: GET when |body| is empty, else POST of exactly |body|.
  // |done| runs on this thread when the download fails or completes (read
  // state() to tell which). |writer| and |report| are taken over at once,
  // also when the start fails. False when the download could not start.
  bool Start(const std::wstring& url, const std::string& body, base::Closure done,
             std::unique_ptr<ResponseWriter> writer, std::unique_ptr<DownloadReport> report);
  // Ends the download without running its completion.
  void Stop();

  State state() const { return state_.load(std::memory_order_acquire); }

  // Host suffixes a download (and every redirect) may go to; empty allows
  // every host. Callers replace or empty it between downloads.
  std::vector<std::wstring>& allowed_domains() { return allowed_domains_; }

  int max_retries() const { return max_retries_; }
  // The retries the last download used: 0 after it completed, above 0 when
  // it ended after retrying, so a caller need not retry it once more.
  int retry_count() const { return retry_count_.load(); }
  void set_max_retries(int max_retries) { max_retries_ = max_retries; }

  // "Velmo NetInstaller/" and the installer's version.
  static std::wstring GetUserAgent();
  // Whether |host| ends with one of |allowed| (case-sensitive; an empty list
  // allows every host).
  static bool IsHostAllowed(std::wstring_view host, const std::vector<std::wstring>& allowed);

  // Tests: the pause before a retry (6 s otherwise).
  void SetRetryDelayForTesting(base::TimeSpan delay) { retry_delay_ = delay; }
  // Tests: what runs in place of InternetErrorDlg for the proxy-credential
  // prompt (the real dialog is modal and would wait for a user).
  using CredentialPrompt = DWORD (*)(HWND window, void* request);
  static void SetCredentialPromptForTesting(CredentialPrompt prompt);
  // Tests: sessions go through this proxy ("host:port") instead of the
  // system's settings; empty restores them.
  static void SetProxyForTesting(const std::wstring& proxy);

 private:
  friend class internal::DownloadSession;

  void SetState(State state);
  // Closes the writer of a download that did not start; false.
  bool FailStart();
  // Opens and sends the request of the current session with the session's
  // lock held; false (logged) when it could not be sent.
  bool SendRequest(const std::wstring& extra_headers);
  void CloseSession();

  // Run with the session's lock held on WinInet's threads.
  void OnRequestComplete(uint32_t error);
  bool HandleInitialCompletion();
  void ReadBody();
  void CheckRetriesAndResume(uint32_t reason);
  void OnRedirect(const std::wstring& url);
  // Posts a resumption now, or through the retry step when the previous
  // resumption brought no byte (so a server that never sends the rest
  // cannot keep the download resuming forever).
  void PostResume();
  void PostFailed();
  void PostProgress(void (WinInetDownloader::*notify)(uint32_t, uint32_t), uint32_t value);

  // Posted to the starting thread with the serial of the download they
  // belong to; a task of an earlier download, or of one that has ended or
  // was stopped, does nothing.
  void OnCompleted(uint32_t serial);
  void OnFailed(uint32_t serial);
  void Resume(uint32_t serial);
  void RequestProxyCredentials(uint32_t serial);
  void OnProxyPromptDone(uint32_t serial, std::shared_ptr<DWORD> result);
  void NotifyTotal(uint32_t serial, uint32_t total);
  void NotifyCurrent(uint32_t serial, uint32_t current);
  void NotifyStalled(uint32_t serial, uint32_t unused);
  bool IsCurrent(uint32_t serial) const;
  void RunDone();

  FetcherUIDelegate* const ui_;
  PackageFetcherDelegate* const progress_;

  std::atomic<State> state_{kIdle};
  std::wstring url_;
  bool secure_ = false;
  std::vector<std::wstring> allowed_domains_;
  std::unique_ptr<ResponseWriter> writer_;
  std::unique_ptr<DownloadReport> report_;
  base::Closure done_;
  // Guarded by the session's lock while a session runs.
  uint32_t expected_size_ = 0;
  uint32_t bytes_received_ = 0;
  // The most bytes any earlier request of this download had brought when
  // it was resumed, and how many resumptions in a row brought no more.
  uint32_t best_at_last_resume_ = 0;
  bool resumed_ = false;
  int resumptions_without_progress_ = 0;
  bool chunk_open_ = false;
  int redirects_ = 0;
  std::atomic<int> retry_count_{0};
  int max_retries_ = kDefaultMaxRetries;
  base::TimeSpan retry_delay_;
  base::SharedRef<base::OrderedTaskRunner> task_runner_;

  // Everything the status callback may touch, shared with WinInet for as
  // long as it may call back; the downloader detaches from it on closing.
  base::SharedRef<internal::DownloadSession> session_;
  uint32_t serial_ = 0;
  std::unique_ptr<base::PlainThread> cleanup_thread_;

  base::WeakRefFactory<WinInetDownloader> weak_factory_{this};
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_WININET_WININET_H_
