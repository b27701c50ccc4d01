#include "desktop/windows/crash_reporter/upload/query_crash_server.h"

#include <wininet.h>

#include <vector>

#include "base/logging.h"
#include "base/utf_string_conversions.h"
#include "crash_upload/net/scoped_internet_handle.h"
#include "crash_upload/net/wininet_multipart_upload.h"
#include "desktop/windows/crash_reporter/crash_log/crash_keys.h"
#include "desktop/windows/crash_reporter/upload/crash_server_urls.h"

namespace crash_reporter {
namespace {

using crash_upload::kWinInetUserAgent;
using crash_upload::ScopedInternetHandle;

bool AddHeader(HINTERNET request, const wchar_t* name, const std::wstring& value) {
  if (value.empty())
    return true;
  std::wstring line = std::wstring(name) + L": " + HeaderSafeText(value) + L"\r\n";
  if (!HttpAddRequestHeadersW(request, line.c_str(), static_cast<DWORD>(line.size()),
                              HTTP_ADDREQ_FLAG_ADD_IF_NEW)) {
    PLOG(ERROR) << "HttpAddRequestHeaders for the crash server pre-flight";
    return false;
  }
  return true;
}

bool ReadLocation(HINTERNET request, std::wstring* location) {
  std::vector<wchar_t> buffer(256);
  for (int attempt = 0; attempt < 2; ++attempt) {
    // HTTP_QUERY_CUSTOM takes the header's name in the buffer.
    static const wchar_t kName[] = L"Location";
    if (buffer.size() < ARRAYSIZE(kName))
      buffer.resize(ARRAYSIZE(kName));
    wcscpy(buffer.data(), kName);
    DWORD size = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
    if (HttpQueryInfoW(request, HTTP_QUERY_CUSTOM, buffer.data(), &size, nullptr)) {
      location->assign(buffer.data(), size / sizeof(wchar_t));
      return true;
    }
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER)
      break;
    buffer.resize(size / sizeof(wchar_t) + 1);
  }
  PLOG(ERROR) << "The crash server's redirect has no readable Location";
  return false;
}

}  // namespace

std::wstring HeaderSafeText(std::wstring_view text) {
  std::wstring safe;
  safe.reserve(text.size());
  for (wchar_t unit : text) {
    if (unit >= 0x20 && unit != 0x7F)
      safe.push_back(unit);
  }
  return safe;
}

int QueryCrashServer(const std::wstring& crash_url, const std::wstring& crash_url_header,
                     const std::wstring& origin, std::wstring* report_id, std::wstring* location,
                     DWORD timeout_ms) {
  crash_upload::CrackedHttpUrl target;
  if (!crash_upload::CrackHttpUrl(crash_url, &target))
    return kCrashServerOther;

  std::wstring agent = std::wstring(kWinInetUserAgent) + UploadUserAgentSuffix();
  ScopedInternetHandle session(
      InternetOpenW(agent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  if (!session.IsValid()) {
    PLOG(ERROR) << "InternetOpen for the crash server pre-flight";
    return kCrashServerOther;
  }
  ScopedInternetHandle connection(InternetConnectW(session.Get(), target.host.c_str(), target.port,
                                                   nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0));
  if (!connection.IsValid()) {
    PLOG(ERROR) << "InternetConnect for the crash server pre-flight";
    return kCrashServerOther;
  }
  DWORD flags = INTERNET_FLAG_NO_AUTO_REDIRECT | INTERNET_FLAG_NO_COOKIES |
                (target.https ? INTERNET_FLAG_SECURE : 0);
  ScopedInternetHandle request(HttpOpenRequestW(connection.Get(), L"GET", target.path.c_str(),
                                                nullptr, nullptr, nullptr, flags, 0));
  if (!request.IsValid()) {
    PLOG(ERROR) << "HttpOpenRequest for the crash server pre-flight";
    return kCrashServerOther;
  }

  if (timeout_ms > 0) {
    // The receive time-out matters most: without it a server that accepts
    // the connection and answers late holds the crashed process that long.
    const DWORD options[] = {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT,
                             INTERNET_OPTION_RECEIVE_TIMEOUT};
    for (DWORD option : options) {
      DWORD value = timeout_ms;
      if (!InternetSetOptionW(request.Get(), option, &value, sizeof(value)))
        PLOG(WARNING) << "InternetSetOption time-out " << option;
    }
  }

  if (!AddHeader(request.Get(), L"X-Velmo-Crash-URL", crash_url_header) ||
      !AddHeader(request.Get(), L"X-Origin", origin)) {
    return kCrashServerOther;
  }
  if (!HttpSendRequestW(request.Get(), nullptr, 0, nullptr, 0)) {
    PLOG(ERROR) << "HttpSendRequest for the crash server pre-flight";
    return kCrashServerOther;
  }
  wchar_t status[4] = {};
  DWORD status_size = sizeof(status);
  if (!HttpQueryInfoW(request.Get(), HTTP_QUERY_STATUS_CODE, status, &status_size, nullptr)) {
    PLOG(ERROR) << "HttpQueryInfo status of the crash server pre-flight";
    return kCrashServerOther;
  }
  if (wcsncmp(status, L"303", 3) == 0) {
    std::wstring where;
    if (!ReadLocation(request.Get(), &where))
      return kCrashServerOther;
    size_t id_start = where.find(L"?id=");
    size_t id_end = id_start == std::wstring::npos ? id_start : where.find(L'&', id_start + 4);
    if (id_end == std::wstring::npos) {
      LOG(ERROR) << "The crash server's redirect names no report id";
      return kCrashServerOther;
    }
    *location = where;
    *report_id = where.substr(id_start + 4, id_end - id_start - 4);
    return kCrashServerWantsReport;
  }
  if (wcsncmp(status, L"503", 3) == 0)
    return kCrashServerBusy;
  LOG(ERROR) << "The crash server answered the pre-flight with status "
             << base::WideToUTF8(std::wstring_view(status, 3));
  return kCrashServerOther;
}

int QueryCrashServer(const std::wstring& crash_url_header, const std::wstring& origin,
                     std::wstring* report_id, std::wstring* location, DWORD timeout_ms) {
  return QueryCrashServer(CrashUrl(), crash_url_header, origin, report_id, location, timeout_ms);
}

int QueryCrashServerForCrash(const std::wstring& crash_url, const CustomInfo& keys,
                             std::wstring* report_id, std::wstring* location, DWORD timeout_ms) {
  // A long address is spread over a run of slots: the server gets all of it.
  std::wstring active_url;
  JoinCrashKeyValues(keys, L"active_url", &active_url);
  return QueryCrashServer(crash_url, active_url, DetectCrashOrigin(keys), report_id, location,
                          timeout_ms);
}

}  // namespace crash_reporter
