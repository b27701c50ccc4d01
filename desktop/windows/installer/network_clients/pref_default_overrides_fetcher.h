// PrefDefaultOverridesFetcher: when its experiment is on, downloads a file
// of preference defaults for the browser into the package folder, where the
// launcher step picks it up.
#ifndef DESKTOP_WINDOWS_INSTALLER_NETWORK_CLIENTS_PREF_DEFAULT_OVERRIDES_FETCHER_H_
#define DESKTOP_WINDOWS_INSTALLER_NETWORK_CLIENTS_PREF_DEFAULT_OVERRIDES_FETCHER_H_

#include <cstdint>
#include <string>

#include "base/callback.h"
#include "base/files/file_path.h"
#include "desktop/windows/installer/wininet/wininet.h"

namespace installer {

class FetcherUIDelegate;

inline constexpr char kPrefDefaultOverridesExperiment[] =
    "installer-pref-default-overrides-support";
inline constexpr char kLocalPrefDefaultOverridesServerSwitch[] =
    "local-pref-default-overrides-server";
inline constexpr wchar_t kPrefDefaultOverridesFileName[] = L"pref_default_overrides";
// Tries after the first failed one before the fetch gives up.
inline constexpr int kPrefDefaultOverridesMaxRetries = 2;
// The installation waits for the file: a server that keeps sending must not
// hold it or fill the disk. Far above any real file of defaults.
inline constexpr uint64_t kMaxPrefDefaultOverridesSize = 4 * 1024 * 1024;

class PrefDefaultOverridesFetcher {
 public:
  PrefDefaultOverridesFetcher(const base::FilePath& target_folder, FetcherUIDelegate* ui);
  PrefDefaultOverridesFetcher(const PrefDefaultOverridesFetcher&) = delete;
  PrefDefaultOverridesFetcher& operator=(const PrefDefaultOverridesFetcher&) = delete;
  ~PrefDefaultOverridesFetcher();

  // POSTs |tracking_data| and writes the reply into the overrides file; a
  // failed download leaves no file. |done| runs when it is over (at once
  // when the experiment is off or the request cannot start).
  void Fetch(const std::string& tracking_data, base::Closure done);

  const base::FilePath& output_path() const { return output_path_; }
  // Tests.
  WinInetDownloader& downloader_for_testing() { return downloader_; }
  void SetUrlForTesting(const std::wstring& url) { url_for_testing_ = url; }

 private:
  void OnFetched();
  void DeleteOutput();

  const base::FilePath output_path_;
  WinInetDownloader downloader_;
  base::Closure done_;
  std::wstring url_for_testing_;
};

// The value of "local-pref-default-overrides-server" when it has one,
// "http://localhost:3001" when it is given empty, else the product's
// autoupdate address with "api/prefs/?product=<name>&version=<version>".
std::wstring GetPrefDefaultOverridesUrl();

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_NETWORK_CLIENTS_PREF_DEFAULT_OVERRIDES_FETCHER_H_
