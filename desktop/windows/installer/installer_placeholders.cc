// The installer as the PlaceholderResolver of the registry entries it turns
// into operations.
#include <string>

#include "base/logging.h"
#include "base/utf_string_conversions.h"
#include "desktop/windows/installer/installer.h"
#include "desktop/windows/installer/product_config.h"
#include "desktop/windows/installer/settings.h"
#include "desktop/windows/installer/service/registry_names.h"

namespace installer {

namespace {

// The configuration's 8-bit texts are widened byte by byte.
std::wstring Widen(const std::string& text) {
  std::wstring wide;
  wide.reserve(text.size());
  for (char c : text)
    wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
  return wide;
}

}  // namespace

bool Installer::ResolvePlaceholder(const std::wstring& name, std::wstring* value) {
  if (name == L"InstallFolder") {
    if (!settings_) {
      LOG(ERROR) << "No install folder outside a run";
      return false;
    }
    *value = settings_->GetInstallFolder().value();
  } else if (name == L"Version") {
    *value = Widen(GetVersionString());
  } else if (name == L"Executable") {
    *value = Widen(GetFileNameBase()) + L".exe";
  } else if (name == L"Product") {
    *value = Widen(GetProductName());
  } else if (name == L"Company") {
    *value = Widen(GetCompanyName());
  } else if (name == L"CompanyRegistryKey") {
    *value = GetCompanyRegistryKey();
  } else if (name == L"Stream") {
    *value = Widen(GetStreamName());
  } else if (name == L"Uninstall") {
    *value = registry_key_name_;
  } else if (name == L"HelpURL") {
    *value = base::UTF8ToWide(GetProductUrl("help"));
  } else if (name == L"CompanyURL") {
    *value = base::UTF8ToWide(GetProductUrl("homepage"));
  } else if (name == L"DownloadsURL") {
    *value = base::UTF8ToWide(GetProductUrl("download"));
  } else {
    *value = name;
  }
  return true;
}

InstallLogRegistryKeys* Installer::GetInstallLogRecorder(HKEY root) {
  return install_log_recording_ ? install_log_.GetRegistryKeys(root) : nullptr;
}

}  // namespace installer
