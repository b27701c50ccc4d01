#include "desktop/windows/installer/service/registry_names.h"

#include "base/utf_string_conversions.h"
#include "desktop/windows/installer/product_config.h"

namespace installer {

std::wstring GetUninstallRegistryKey() {
  return L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
}

std::wstring GetCompanyRegistryKey() { return L"Software\\" + base::UTF8ToWide(GetCompanyName()); }

std::wstring GetBrowserExeName() { return base::UTF8ToWide(GetFileNameBase()) + L".exe"; }

std::string GetChannelName(int stream) {
  switch (stream) {
    case 1: return "Nightly";
    case 2: return "Developer";
    case 3: return "Next";
    case 4: return "Stable";
    default: return GetStreamName();
  }
}

}  // namespace installer
