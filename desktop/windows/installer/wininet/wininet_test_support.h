// What the downloader's tests and the network clients' tests share: a
// controller stand-in that records what the downloader reports, and a way
// to run one download to its end on the test's message loop.
#ifndef DESKTOP_WINDOWS_INSTALLER_WININET_WININET_TEST_SUPPORT_H_
#define DESKTOP_WINDOWS_INSTALLER_WININET_WININET_TEST_SUPPORT_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/files/file_path.h"
#include "base/logging.h"
#include "base/time.h"
#include "desktop/windows/installer/package_fetcher/package_fetcher_delegate.h"
#include "desktop/windows/installer/wininet/wininet.h"

namespace installer {

class RecordingFetcherDelegate : public PackageFetcherDelegate, public FetcherUIDelegate {
 public:
  void SetTotalProgress(uint32_t total) override { totals.push_back(total); }
  void SetCurrentProgress(uint32_t current) override;
  void NotifyStalled() override { ++stalled; }
  void NotifyStatusChanged(uint32_t status) override { statuses.push_back(status); }
  // Runs |ui_task| (with no window) only when |run_ui_tasks|; the reply is
  // posted either way, as the silent controller does.
  void RunUICallbackAndPostReply(UITask ui_task, base::SharedRef<base::TaskRunner> reply_runner,
                                 base::Closure reply) override;

  bool run_ui_tasks = false;
  int ui_requests = 0;
  std::vector<uint32_t> totals;
  uint32_t current = 0;
  int current_calls = 0;
  // Set when progress goes backwards other than by a restart from 0.
  bool progress_went_backwards = false;
  int stalled = 0;
  std::vector<uint32_t> statuses;
  // Run on the first SetCurrentProgress (for stopping mid-body).
  base::Closure on_first_progress;
};

// Runs the current loop until |downloader| ends (its completion ran) or
// |timeout| passes; true when it ended.
bool RunUntilDone(WinInetDownloader* downloader, const std::wstring& url, const std::string& body,
                  std::unique_ptr<ResponseWriter> writer, std::unique_ptr<DownloadReport> report,
                  base::TimeSpan timeout = base::TimeSpan::FromSeconds(120));

// Collects every log line while alive, from every thread (the downloader
// logs on WinInet's threads too); lines still reach the previous handler.
class ThreadSafeLogCapture {
 public:
  ThreadSafeLogCapture();
  ThreadSafeLogCapture(const ThreadSafeLogCapture&) = delete;
  ThreadSafeLogCapture& operator=(const ThreadSafeLogCapture&) = delete;
  ~ThreadSafeLogCapture();
  bool Contains(std::string_view text) const;
  std::string Text() const;

 private:
  logging::LogMessageHandlerFunction previous_;
};

// The whole content of |path| (empty when unreadable).
std::string ReadWholeFile(const base::FilePath& path);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_WININET_WININET_TEST_SUPPORT_H_
