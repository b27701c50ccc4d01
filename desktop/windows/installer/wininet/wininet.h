// WinInetDownloader: downloads one address over HTTP or HTTPS with the
// asynchronous WinInet interface, streams the body into a ResponseWriter and
// tells a DownloadReport what happens. It retries after gateway errors and
// lost connections (a connection that brings no byte for the stall time-out
// counts as lost): at once when the lost connection brought new bytes, else
// after the retry pause. A download that gains less than 64 KiB over 600
// retries in a row, or over the time of their pauses and a stall time-out
// (61 minutes), fails, whatever its server sends. An attempt it gives up
// takes its connection with it. It resumes an interrupted GET with a byte range from where the body
// came (after redirects, which it follows itself so that a host outside the
// allow-list is never asked; a POST is sent again whole), and lets the user
// enter proxy credentials through the FetcherUIDelegate. One download at a
// time; it may be started again for the next one.
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
  // A request that brings no byte for this long has lost its connection,
  // whether or not WinInet notices.
  static constexpr int kStallTimeoutMs = 60000;
  // A request that ends early resumes at once only after real progress:
  // this many new bytes, or any over a request that lasted this long.
  static constexpr uint32_t kMinProgressBytes = 64 * 1024;
  static constexpr int kMinProgressTimeMs = 10000;
  // How often a download starts over because the server's answer does not
  // fit the bytes held (another range, another length) before it fails.
  static constexpr int kMaxStartsOver = 2;
  // Redirects one request may follow before the download fails.
  static constexpr int kMaxRedirects = 20;

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

  // The bound of a download, which no server can reset without sending
  // kMinProgressBytes more than the download held when the bound last
  // started: the download fails at the retry step that finds more than
  // max_retries() retries in a row, or more than ProgressTimeLimit(), since
  // then.
  int max_retries() const { return max_retries_; }
  // The pauses of the retries and one stall time-out: 601 times 6 s and
  // 60 s, 61 minutes, with the real figures.
  base::TimeSpan ProgressTimeLimit() const;
  // The retries in a row without progress of the last download: 0 after it
  // completed, above 0 when it ended after retrying, so a caller need not
  // retry it once more.
  int retry_count() const { return retry_count_.load(); }
  void set_max_retries(int max_retries) { max_retries_ = max_retries; }

  // "Velmo NetInstaller/" and the installer's version.
  static std::wstring GetUserAgent();
  // Whether |host| is one of |allowed| or below one of them after a dot
  // (ASCII letters compare without case; a leading dot of an entry changes
  // nothing; an entry that is an IP address allows that address alone; an
  // empty list allows every host).
  static bool IsHostAllowed(std::wstring_view host, const std::vector<std::wstring>& allowed);

  // How long the stall watchdog waits before its next look, when the
  // current request has brought nothing for |idle| (|waiting|: no request
  // runs, a retry or an answer is awaited): until the request would be
  // stalled, so that it is given up at the time-out, not a period of looks
  // later.
  static base::TimeSpan NextStallCheck(base::TimeSpan timeout, base::TimeSpan idle, bool waiting);

  // Tests: the pause before a retry (6 s otherwise).
  void SetRetryDelayForTesting(base::TimeSpan delay) { retry_delay_ = delay; }
  // Tests: how long a request may bring no byte (60 s otherwise).
  void SetStallTimeoutForTesting(base::TimeSpan timeout) { stall_timeout_ = timeout; }
  // Tests: ProgressTimeLimit() in place of what the pause, the maximum of
  // retries and the stall time-out make of it.
  void SetProgressTimeLimitForTesting(base::TimeSpan limit) { progress_time_limit_ = limit; }
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
  // Gives |handle| (HINTERNET) the stall time-out as its connect, send and
  // receive time-outs.
  void SetTimeOuts(void* handle);
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
  // The retry step: gives the request up and schedules its resumption, at
  // once when it brought new bytes, else after the retry pause; fails the
  // download at its bound.
  void CheckRetriesAndResume(uint32_t reason);
  // What every request that ends before the download is complete goes
  // through: notes its progress, gives it up and counts it; false (logged,
  // failure posted) when the download reached its bound. |at_once|: the
  // request made progress worth going on without the pause; |count|: the
  // retries in a row before this one.
  bool EndAttempt(uint32_t reason, bool* at_once, int* count);
  // Drops the bytes held, which the server's answer does not fit; false
  // (logged, failure posted) when it happened too often.
  bool StartOver();
  // Hands the current request and its connection over to be closed.
  void GiveUpRequest();
  // A 3xx answer with a Location: follows it when its host is allowed and
  // the redirect limit is not reached; the download fails otherwise.
  void HandleRedirect(uint32_t status);
  void PostFailed();
  void PostProgress(void (WinInetDownloader::*notify)(uint32_t, uint32_t), uint32_t value);

  // Posted to the starting thread with the serial of the download they
  // belong to; a task of an earlier download, or of one that has ended or
  // was stopped, does nothing.
  void OnCompleted(uint32_t serial);
  void OnFailed(uint32_t serial);
  void Resume(uint32_t serial);
  // Closes what GiveUpRequest handed over, outside the session's lock.
  void CloseGivenUp(uint32_t serial);
  // Sends the current address (changed by a redirect) as the next request
  // of the same chunk.
  void FollowRedirect(uint32_t serial);
  // Replaces the current request by a new one to the current address with
  // |extra_headers|, over a new connection when the host changed; with the
  // session's lock not held. False (logged) when it could not be sent.
  bool SendNextRequest(const std::wstring& extra_headers);
  // Fails a request that brought no byte for the stall time-out: the retry
  // step with a time-out error. Repeats while the download runs.
  void CheckStalled(uint32_t serial);
  void MarkActivity();
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
  // The address of the current request: the start address, or where the
  // last redirect led (resumptions go there, where the body comes from).
  std::wstring url_;
  bool secure_ = false;
  // Whether the current request sends the body (POST); a redirect may turn
  // it into a GET.
  bool post_ = false;
  std::vector<std::wstring> allowed_domains_;
  std::unique_ptr<ResponseWriter> writer_;
  std::unique_ptr<DownloadReport> report_;
  base::Closure done_;
  // Guarded by the session's lock while a session runs.
  uint32_t expected_size_ = 0;
  uint32_t bytes_received_ = 0;
  // The most bytes any request of this download held when it was given up:
  // a request that ends above it made progress.
  uint32_t best_received_ = 0;
  // When the current request was sent (MonotonicTime's value).
  int64_t attempt_start_ = 0;
  // The most bytes held, and when (MonotonicTime's value), when the
  // download last made real progress: the start of its bound.
  uint32_t progress_mark_ = 0;
  int64_t progress_time_ = 0;
  // How often the download started over.
  int restarts_ = 0;
  // Whether the answer gave the body's whole length (Content-Length or
  // Content-Range).
  bool length_known_ = false;
  // Set while the server is asked whether anything follows a body that
  // ended without a length; cleared when it answers.
  bool confirming_ = false;
  // Set when the server answered such a question with the whole body (it
  // ignores ranges), or with a partial one whose range and length cannot be
  // read: nothing can confirm its end, so it is taken as it comes.
  bool range_ignored_ = false;
  bool chunk_open_ = false;
  // Whether the current answer had no header lines, and the bytes held
  // when it began.
  bool headerless_ = false;
  uint32_t request_start_ = 0;
  int redirects_ = 0;
  // The Range header of the current request (empty for the first), which a
  // redirect of that request sends again.
  std::wstring extra_headers_;
  // Set while a retry or a user's answer is awaited: the request is not
  // stalled then, and a second retry step for it is not taken.
  bool waiting_ = false;
  // Retries in a row since the download last made real progress.
  std::atomic<int> retry_count_{0};
  int max_retries_ = kDefaultMaxRetries;
  base::TimeSpan retry_delay_;
  base::TimeSpan stall_timeout_;
  // Zero unless a test set it.
  base::TimeSpan progress_time_limit_;
  // When the current request last sent, received or was answered
  // (MonotonicTime's value).
  std::atomic<int64_t> last_activity_{0};
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
