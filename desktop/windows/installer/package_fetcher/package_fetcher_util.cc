#include "desktop/windows/installer/package_fetcher/package_fetcher_util.h"

#include <cwchar>

#include "base/command_line.h"
#include "base/json_reader.h"
#include "base/logging.h"
#include "base/time.h"
#include "base/utf_string_conversions.h"
#include "desktop/windows/installer/maker_domains.h"
#include "desktop/windows/installer/network_clients/stats_sender.h"
#include "desktop/windows/installer/package_fetcher/safe_relative_path.h"
#include "desktop/windows/installer/product_config.h"

namespace installer {

void GetAllowedDownloadDomains(std::vector<std::wstring>* domains) {
  domains->clear();
  const std::wstring domain = base::UTF8ToWide(GetDomain());
  if (domain != kMakerDomainSuffix)
    domains->push_back(domain);
  domains->push_back(kMakerDomainSuffix);
  domains->push_back(kMakerInternalDomainSuffix);
  domains->push_back(kMakerMirrorDomainSuffix);
  domains->push_back(L"localhost");
  domains->push_back(L"127.0.0.1");
}

void MakeDownloadPath(const base::FilePath& folder, std::wstring_view prefix, base::FilePath* out) {
  base::Time::Exploded now;
  if (!base::Time::Now().Explode(true, &now))
    LOG(ERROR) << "Cannot break down the local time; the download is named with zeros";
  wchar_t stamp[32];
  swprintf(stamp, sizeof(stamp) / sizeof(stamp[0]), L"_%02d%02d%02d%02d%02d%02d.exe", now.year,
           now.month, now.day_of_month, now.hour, now.minute, now.second);
  *out = folder.Append(std::wstring(prefix) + stamp);
}

std::wstring GetPackageServerUrl(const base::CommandLine& command_line, bool x64) {
  std::string base_url = GetProductUrl("autoupdate");
  if (command_line.HasSwitch(kInternalPackageServerSwitch)) {
    const std::wstring given = command_line.GetSwitchValueNative(kInternalPackageServerSwitch);
    if (!given.empty())
      return given;
    base_url = kInternalPackageServerUrl;
  }
  std::string url = JoinUrl(base_url, "netinstaller/") + GetStreamName();
  if (x64)
    url += "/windows/x64/";
  return base::UTF8ToWide(url);
}

bool ParsePackageServerReply(std::string_view text, bool with_suite, PackageServerReply* reply) {
  reply->tree = base::JsonReader::Read(text);
  const base::DictValue* dict = nullptr;
  if (!reply->tree || !reply->tree->GetAsDictionary(&dict) ||
      !dict->GetStringWithoutPathExpansion("installer", &reply->installer_url) ||
      !dict->GetStringWithoutPathExpansion("installer_checksum", &reply->installer_checksum)) {
    return false;
  }
  reply->components = std::make_unique<base::ListValue>();
  const base::ListValue* components = nullptr;
  if (!dict->GetListWithoutPathExpansion("components", &components))
    return true;
  for (size_t i = 0; i < components->size(); ++i) {
    const base::DictValue* component = nullptr;
    std::string type;
    if (!components->GetDictionary(i, &component) ||
        !component->GetStringWithoutPathExpansion("type", &type)) {
      continue;
    }
    if (type == "partner_content" || (type == "suite" && with_suite))
      reply->components->Append(component->CreateDeepCopy());
  }
  return true;
}

bool ParseAdditionalFile(const base::Value& entry, AdditionalFile* file) {
  const base::DictValue* dict = nullptr;
  std::string location, type, filename;
  if (!entry.GetAsDictionary(&dict) ||
      !dict->GetStringWithoutPathExpansion("location", &location) ||
      !dict->GetStringWithoutPathExpansion("type", &type) ||
      !dict->GetBooleanWithoutPathExpansion("archive", &file->archive) ||
      !dict->GetStringWithoutPathExpansion("checksum", &file->checksum)) {
    return false;
  }
  if (!file->archive) {
    if (!dict->GetStringWithoutPathExpansion("filename", &filename))
      return false;
    file->filename = base::UTF8ToWide(filename);
    if (!IsSafeRelativePath(file->filename, false)) {
      LOG(ERROR) << "Additional file name \"" << filename << "\" is not a plain file name";
      return false;
    }
  }
  file->location = base::UTF8ToWide(location);
  file->type = base::UTF8ToWide(type);
  return true;
}

}  // namespace installer
