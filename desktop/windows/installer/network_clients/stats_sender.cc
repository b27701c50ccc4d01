#include "desktop/windows/installer/network_clients/stats_sender.h"

#include <windows.h>

#include <memory>
#include <set>
#include <string>
#include <string_view>

#include "base/command_line.h"
#include "base/json_writer.h"
#include "base/logging.h"
#include "base/string_number_conversions.h"
#include "base/utf_string_conversions.h"
#include "base/win/windows_version.h"
#include "desktop/windows/installer/loggable_command_line.h"
#include "desktop/windows/installer/maker_domains.h"
#include "desktop/windows/installer/product_config.h"

namespace installer {

std::string JoinUrl(const std::string& base, const std::string& path) {
  // The configured addresses carry no trailing "/", and a plain
  // concatenation would glue the path onto the host name.
  if (base.empty() || base.back() == '/')
    return base + path;
  return base + "/" + path;
}

namespace {

#if defined(VELMO_TEST_NETWORK_SEAMS)
// Test builds: installers that a test starts may be given the port of the
// test's own statistics server, so that suites running side by side on one
// machine do not contend for the fixed local port.
std::wstring LocalStatsPortForTesting() {
  wchar_t text[8];
  const DWORD length = ::GetEnvironmentVariableW(L"VELMO_TEST_STATS_PORT", text, 8);
  if (length == 0 || length >= 8)
    return std::wstring();
  int port = 0;
  if (!base::StringToInt(base::WideToUTF8(std::wstring_view(text, length)), &port) || port <= 0 ||
      port > 65535) {
    return std::wstring();
  }
  return std::to_wstring(port);
}
#endif

std::wstring LocalStatsPort() {
#if defined(VELMO_TEST_NETWORK_SEAMS)
  std::wstring port = LocalStatsPortForTesting();
  if (!port.empty())
    return port;
#endif
  return L"3000";
}

}  // namespace

std::wstring GetStatsServerUrl() {
  const base::CommandLine* command_line = base::CommandLine::ForCurrentProcess();
  if (command_line && command_line->HasSwitch(kLocalStatsServerSwitch))
    return L"http://localhost:" + LocalStatsPort();
  return base::UTF8ToWide(JoinUrl(GetProductUrl("autoupdate"), "netinstaller/feedback"));
}

StatsSender::StatsSender(FetcherUIDelegate* ui) : downloader_(ui, nullptr) {
  StatsNode root = report_.root_node();
  root.SetTimestampAndElapsed("installer_start_time");
  root.SetTimestamp("installation_start_time");
  root.SetString("version", GetVersionString());
  root.SetString("stream", GetStreamName());
  root.SetString("product", GetProductName());
  root.SetString("os.name", std::string_view("windows"));
  base::win::WindowsVersionInfo* os = base::win::WindowsVersionInfo::GetInstance();
  root.SetInteger("os.version.major", os->version_number().major);
  root.SetInteger("os.version.minor", os->version_number().minor);
  root.SetInteger("os.version.build", os->version_number().build);
  root.SetInteger("os.service_pack.major", os->service_pack().major);
  root.SetInteger("os.service_pack.minor", os->service_pack().minor);
  const base::CommandLine* command_line = base::CommandLine::ForCurrentProcess();
  // Without the password of any address given in a switch.
  root.SetString("command_line_args",
                 command_line ? base::WideToUTF8(LoggableArguments(*command_line)) : std::string());
}

StatsSender::~StatsSender() = default;

void StatsSender::WriteDownloadSummary() {
  int retries = 0;
  std::set<std::string> ips;
  {
    base::AutoLock lock(report_.lock());
    const base::ListValue* fetches = nullptr;
    if (!report_.root().GetListWithoutPathExpansion("fetches", &fetches))
      return;
    for (size_t i = 0; i < fetches->size(); ++i) {
      const base::DictValue* fetch = nullptr;
      const base::ListValue* chunks = nullptr;
      if (!fetches->GetDictionary(i, &fetch) ||
          !fetch->GetListWithoutPathExpansion("download_chunks", &chunks)) {
        continue;
      }
      // A long download's last entry stands for the requests after it
      // (DownloadChunksReport): its number tells how many there were.
      int requests = static_cast<int>(chunks->size());
      const base::DictValue* last = nullptr;
      int number = 0;
      if (!chunks->empty() && chunks->GetDictionary(chunks->size() - 1, &last) &&
          last->GetIntegerWithoutPathExpansion("chunk_number", &number) && number >= requests) {
        requests = number + 1;
      }
      retries += requests;
      for (size_t j = 0; j < chunks->size(); ++j) {
        const base::DictValue* chunk = nullptr;
        std::string ip;
        if (chunks->GetDictionary(j, &chunk) && chunk->GetStringWithoutPathExpansion("ip", &ip))
          ips.insert(ip);
      }
    }
  }
  std::string joined;
  for (const std::string& ip : ips)
    joined += (joined.empty() ? "" : "; ") + ip;
  StatsNode root = report_.root_node();
  root.SetInteger("wininet_retries", retries);
  root.SetString("download_ips", joined);
}

bool StatsSender::Send(base::Closure done, bool wait_for_network) {
  WriteDownloadSummary();
  report_.root_node().SetTimestampAndElapsed("stats_sending_time");

  std::vector<std::wstring>& allowed = downloader_.allowed_domains();
  allowed = ProductAndMakerDomains();
  allowed.push_back(L"localhost");

  if (!wait_for_network) {
    VLOG(1) << "Don't wait for network when sending stats";
    downloader_.set_max_retries(2);
  }

  std::string json;
  bool written;
  {
    base::AutoLock lock(report_.lock());
    written = base::JsonWriter::Write(report_.root(), &json);
  }
  if (!written) {
    LOG(ERROR) << "Failed to write stats as JSON";
    // Nothing will end a request that never started.
    done.Run();
    return false;
  }

  std::wstring url = url_for_testing_.empty() ? GetStatsServerUrl() : url_for_testing_;
  if (!downloader_.Start(url, json, done, std::make_unique<ResponseWriter>(),
                         std::make_unique<DownloadReport>())) {
    done.Run();
    LOG(ERROR) << "Failed to send the stats request";
    return false;
  }
  return true;
}

}  // namespace installer
