// StatsSender: the statistics report of one installer run, gathered as a
// JSON tree through StatsNode handles and posted to the product's
// statistics endpoint once, at the end of the run.
#ifndef DESKTOP_WINDOWS_INSTALLER_NETWORK_CLIENTS_STATS_SENDER_H_
#define DESKTOP_WINDOWS_INSTALLER_NETWORK_CLIENTS_STATS_SENDER_H_

#include <string>

#include "base/callback.h"
#include "desktop/windows/installer/stats_node.h"
#include "desktop/windows/installer/wininet/wininet.h"

namespace installer {

class FetcherUIDelegate;

// The switch that sends the report to a statistics server on this machine.
inline constexpr char kLocalStatsServerSwitch[] = "local-stats-server";

class StatsSender {
 public:
  // |ui| goes to the downloader; the report's header keys are written here.
  explicit StatsSender(FetcherUIDelegate* ui);
  StatsSender(const StatsSender&) = delete;
  StatsSender& operator=(const StatsSender&) = delete;
  ~StatsSender();

  // The top of the report; nodes may be used from any thread.
  StatsNode GetRoot() { return report_.root_node(); }

  // Adds the download summary and the sending time, then posts the report.
  // True when the request was started (|done| runs when it ends); false when
  // it was not (|done| has then already run). Without |wait_for_network| a
  // failing network gets two retries instead of many minutes of them.
  bool Send(base::Closure done, bool wait_for_network);

  // Tests.
  StatsReport& report_for_testing() { return report_; }
  WinInetDownloader& downloader_for_testing() { return downloader_; }
  // Sends to |url| instead of GetStatsServerUrl() (empty restores it).
  void SetUrlForTesting(const std::wstring& url) { url_for_testing_ = url; }

 private:
  // "wininet_retries" and "download_ips" from every "download_chunks" list
  // of the "fetches" entries; nothing without a "fetches" list.
  void WriteDownloadSummary();

  StatsReport report_;
  WinInetDownloader downloader_;
  std::wstring url_for_testing_;
};

// "http://localhost:3000" with the switch "local-stats-server" (test builds
// take the port from VELMO_TEST_STATS_PORT when it is set), else the
// product's autoupdate address followed by "netinstaller/feedback".
std::wstring GetStatsServerUrl();

// |base| and |path| with exactly one "/" between them.
std::string JoinUrl(const std::string& base, const std::string& path);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_NETWORK_CLIENTS_STATS_SENDER_H_
