#include "desktop/windows/installer/package_fetcher/package_fetcher_util.h"

#include <windows.h>

#include <atomic>
#include <cwchar>

#include "base/command_line.h"
#include "base/files/file.h"
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
  // An empty suffix would match every host: a configuration without a
  // domain adds none.
  *domains = ProductAndMakerDomains();
  domains->push_back(kMakerInternalDomainSuffix);
  domains->push_back(kMakerMirrorDomainSuffix);
  domains->push_back(L"localhost");
  domains->push_back(L"127.0.0.1");
}

void MakeDownloadPath(const base::FilePath& folder, std::wstring_view prefix, base::FilePath* out) {
  base::Time::Exploded now;
  if (!base::Time::Now().Explode(true, &now))
    LOG(ERROR) << "Cannot break down the local time; the download is named with zeros";
  // Numbers the names one process makes, so that none repeats in a second.
  static std::atomic<unsigned long> made{0};
  wchar_t stamp[64];
  swprintf(stamp, sizeof(stamp) / sizeof(stamp[0]), L"_%04d%02d%02d%02d%02d%02d_%lu_%lu.exe",
           now.year, now.month, now.day_of_month, now.hour, now.minute, now.second,
           static_cast<unsigned long>(::GetCurrentProcessId()), ++made);
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

bool AppendLinesToList(const base::FilePath& path, const std::vector<std::string>& lines) {
  if (lines.empty())
    return true;
  base::File file(path,
                  base::File::FLAG_OPEN_ALWAYS | base::File::FLAG_READ | base::File::FLAG_WRITE);
  if (!file.IsValid())
    return false;  // Logged by the open.
  const int64_t end = file.GetLength();
  if (end < 0)
    return false;  // Logged by the file.
  std::string text;
  if (end > 0) {
    char last[2] = {};
    const int tail = end >= 2 ? 2 : 1;
    if (file.Read(end - tail, last, tail) != tail) {
      LOG(ERROR) << "Could not read the end of " << path;
      return false;
    }
    if (tail < 2 || last[0] != '\r' || last[1] != '\n')
      text = "\r\n";
  }
  for (const std::string& line : lines)
    text += line + "\r\n";
  if (file.Write(end, text.data(), static_cast<int>(text.size())) !=
      static_cast<int>(text.size())) {
    LOG(ERROR) << "Could not add the partner files to " << path;
    return false;
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
