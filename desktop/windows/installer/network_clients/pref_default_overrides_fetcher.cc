#include "desktop/windows/installer/network_clients/pref_default_overrides_fetcher.h"

#include <windows.h>

#include <memory>
#include <utility>

#include "base/bind.h"
#include "base/command_line.h"
#include "base/features/feature_registry.h"
#include "base/logging.h"
#include "base/utf_string_conversions.h"
#include "desktop/windows/installer/maker_domains.h"
#include "desktop/windows/installer/network_clients/stats_sender.h"
#include "desktop/windows/installer/product_config.h"

namespace installer {

std::wstring GetPrefDefaultOverridesUrl() {
  const base::CommandLine* command_line = base::CommandLine::ForCurrentProcess();
  if (command_line && command_line->HasSwitch(kLocalPrefDefaultOverridesServerSwitch)) {
    std::wstring value = command_line->GetSwitchValueNative(kLocalPrefDefaultOverridesServerSwitch);
    return value.empty() ? L"http://localhost:3001" : value;
  }
  std::string path = "api/prefs/?product=$1&version=$2";
  path.replace(path.find("$1"), 2, GetProductName());
  path.replace(path.find("$2"), 2, FormatVersionString());
  return base::UTF8ToWide(JoinUrl(GetProductUrl("autoupdate"), path));
}

PrefDefaultOverridesFetcher::PrefDefaultOverridesFetcher(const base::FilePath& target_folder,
                                                         FetcherUIDelegate* ui)
    : output_path_(target_folder.Append(kPrefDefaultOverridesFileName)), downloader_(ui, nullptr) {
  // The installation waits for this optional file: without a network it
  // must give up after a few tries, not after the downloader's hour of them.
  downloader_.set_max_retries(kPrefDefaultOverridesMaxRetries);
}

PrefDefaultOverridesFetcher::~PrefDefaultOverridesFetcher() = default;

void PrefDefaultOverridesFetcher::Fetch(const std::string& tracking_data, base::Closure done) {
  if (!base::IsFeatureEnabled(kPrefDefaultOverridesExperiment)) {
    done.Run();
    return;
  }
  LOG(INFO) << "Fetching default prefs overrides to " << output_path_.value()
            << " with tracking data " << tracking_data;

  std::vector<std::wstring>& allowed = downloader_.allowed_domains();
  allowed = ProductAndMakerDomains();
  allowed.push_back(kMakerInternalDomainSuffix);
  allowed.push_back(kMakerMirrorDomainSuffix);
  allowed.push_back(L"localhost");
  allowed.push_back(L"127.0.0.1");

  std::wstring url = url_for_testing_.empty() ? GetPrefDefaultOverridesUrl() : url_for_testing_;
  auto writer = std::make_unique<FileResponseWriter>(kMaxPrefDefaultOverridesSize);
  done_ = std::move(done);
  bool started =
      writer->Open(output_path_) &&
      downloader_.Start(url, tracking_data,
                        base::Bind(&PrefDefaultOverridesFetcher::OnFetched, base::Unretained(this)),
                        std::move(writer), std::make_unique<DownloadReport>());
  if (!started) {
    LOG(ERROR) << "Failed sending request for default prefs overrides";
    // The file opened for the reply must not stay behind empty.
    DeleteOutput();
    base::Closure finished = std::move(done_);
    finished.Run();
  }
}

void PrefDefaultOverridesFetcher::DeleteOutput() {
  if (!DeleteFileW(output_path_.value().c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND)
    PLOG(ERROR) << "Could not delete " << output_path_.value();
}

void PrefDefaultOverridesFetcher::OnFetched() {
  if (downloader_.state() == WinInetDownloader::kCompleted) {
    LOG(INFO) << "Default prefs overrides fetched successfully";
  } else {
    // The writer is closed by now, so the file can go.
    DeleteOutput();
    LOG(ERROR) << "Failed fetching default prefs overrides";
  }
  base::Closure finished = std::move(done_);
  finished.Run();
}

}  // namespace installer
