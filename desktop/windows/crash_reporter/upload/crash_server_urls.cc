#include "desktop/windows/crash_reporter/upload/crash_server_urls.h"

#include <windows.h>

#include "base/lazy_instance.h"
#include "base/string_util.h"
#include "base/utf_string_conversions.h"
#include "desktop/windows/installer/product_config.h"

namespace crash_reporter {
namespace {

struct Endpoints {
  std::wstring collector_url;
  std::wstring crash_url;
  std::wstring user_agent_suffix;
};

base::LeakyLazyInstance<Endpoints> g_endpoints;

// The whole value, whatever its length; empty when unset.
std::wstring ReadEnvironment(const std::wstring& name) {
  DWORD size = GetEnvironmentVariableW(name.c_str(), nullptr, 0);
  while (size != 0) {
    std::wstring value(size, L'\0');
    DWORD n = GetEnvironmentVariableW(name.c_str(), value.data(), size);
    if (n < size) {
      value.resize(n);
      return value;
    }
    size = n;  // it grew meanwhile
  }
  return std::wstring();
}

}  // namespace

std::wstring CrashEmailVariable() {
  return base::ToUpperASCII(base::UTF8ToWide(installer::GetProductConfigString(
             installer::GetProductConfigDictionary(), "product_name"))) +
         L"_CRASH_EMAIL";
}

void InitCrashServerUrls() {
  Endpoints& endpoints = g_endpoints.Get();
  endpoints.collector_url = ReadEnvironment(kCollectorUrlVariable);
  if (endpoints.collector_url.empty())
    endpoints.collector_url = kBuiltInCollectorUrl;

  endpoints.crash_url = ReadEnvironment(kCrashUrlVariable);
  if (endpoints.crash_url.empty())
    endpoints.crash_url = base::UTF8ToWide(installer::GetProductUrl("crash"));

  std::wstring email = ReadEnvironment(CrashEmailVariable());
  if (!email.empty())
    endpoints.crash_url += L"?email=" + email;

  // This build's user agent carries no suffix.
  endpoints.user_agent_suffix.clear();
}

const std::wstring& CollectorUrl() { return g_endpoints.Get().collector_url; }

const std::wstring& CrashUrl() { return g_endpoints.Get().crash_url; }

const std::wstring& UploadUserAgentSuffix() { return g_endpoints.Get().user_agent_suffix; }

}  // namespace crash_reporter
