#include "crash_upload/net/http_transport_win.h"

#include <windows.h>
#include <winhttp.h>

#include <vector>

#include "base/logging.h"
#include "base/scoped_generic.h"
#include "base/string_printf.h"
#include "base/utf_string_conversions.h"

namespace crash_upload {
namespace {

constexpr size_t kChunkSize = 4096;

struct WinHttpHandleTraits {
  static HINTERNET InvalidValue() { return nullptr; }
  static void Free(HINTERNET& handle) {
    if (!WinHttpCloseHandle(handle))
      LogWinHttpError("WinHttpCloseHandle");
  }
};
using ScopedWinHttpHandle = base::ScopedGeneric<HINTERNET, WinHttpHandleTraits>;

}  // namespace

std::unique_ptr<HttpTransport> HttpTransport::Create() {
  return std::make_unique<HttpTransportWin>();
}

void LogWinHttpError(const char* function) {
  DWORD error = GetLastError();
  char text[256];
  DWORD length =
      FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_FROM_SYSTEM |
                         FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK,
                     GetModuleHandleW(L"winhttp.dll"), error, 0, text, sizeof(text), nullptr);
  if (length == 0) {
    LOG(ERROR) << base::FormatString("Error (0x%lX) while retrieving error. (0x%lX)",
                                     GetLastError(), error);
    return;
  }
  LOG(ERROR) << function << ": " << std::string(text, length)
             << base::FormatString(" (0x%lX)", error);
}

bool HttpTransportWin::ExecuteRequest(std::string* response_body) {
  ScopedWinHttpHandle session(WinHttpOpen(L"CrashUploader/0.8.0", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                          WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
  if (!session.IsValid()) {
    LogWinHttpError("WinHttpOpen");
    return false;
  }
  int timeout_ms = static_cast<int>(timeout_seconds_ * 1000);
  if (!WinHttpSetTimeouts(session.Get(), timeout_ms, timeout_ms, timeout_ms, timeout_ms)) {
    LogWinHttpError("WinHttpSetTimeouts");
    return false;
  }

  std::wstring url = base::UTF8ToWide(url_);
  wchar_t host[256] = {};
  wchar_t path[2048] = {};
  wchar_t query[2048] = {};
  URL_COMPONENTS parts = {};
  parts.dwStructSize = sizeof(parts);
  parts.lpszHostName = host;
  parts.dwHostNameLength = ARRAYSIZE(host);
  parts.lpszUrlPath = path;
  parts.dwUrlPathLength = ARRAYSIZE(path);
  parts.lpszExtraInfo = query;
  parts.dwExtraInfoLength = ARRAYSIZE(query);
  if (!WinHttpCrackUrl(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts)) {
    LogWinHttpError("WinHttpCrackUrl");
    return false;
  }
  ScopedWinHttpHandle connection(WinHttpConnect(session.Get(), host, parts.nPort, 0));
  if (!connection.IsValid()) {
    LogWinHttpError("WinHttpConnect");
    return false;
  }
  // The query belongs to the request target: an address configured with one
  // (an e-mail or a token for the collector) must reach the server whole.
  const std::wstring target = std::wstring(path) + query;
  ScopedWinHttpHandle request(
      WinHttpOpenRequest(connection.Get(), base::UTF8ToWide(method_).c_str(), target.c_str(),
                         nullptr, WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                         parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0));
  if (!request.IsValid()) {
    LogWinHttpError("WinHttpOpenRequest");
    return false;
  }
  for (const auto& [name, value] : headers_) {
    std::wstring line = base::UTF8ToWide(name + ": " + value);
    if (!WinHttpAddRequestHeaders(request.Get(), line.c_str(), static_cast<DWORD>(line.size()),
                                  WINHTTP_ADDREQ_FLAG_ADD)) {
      LogWinHttpError("WinHttpAddRequestHeaders");
      return false;
    }
  }

  std::string body;
  if (body_stream_) {
    uint8_t chunk[kChunkSize];
    for (;;) {
      int64_t got = body_stream_->GetBytesBuffer(chunk, sizeof(chunk));
      if (got < 0) {
        LOG(ERROR) << "GetBytesBuffer failed";
        return false;
      }
      if (got == 0)
        break;
      body.append(reinterpret_cast<const char*>(chunk), static_cast<size_t>(got));
    }
  }

  DWORD body_size = static_cast<DWORD>(body.size());
  if (!WinHttpSendRequest(request.Get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                          body.empty() ? WINHTTP_NO_REQUEST_DATA : body.data(), body_size,
                          body_size, 0)) {
    LogWinHttpError("WinHttpSendRequest");
    return false;
  }
  if (!WinHttpReceiveResponse(request.Get(), nullptr)) {
    LogWinHttpError("WinHttpReceiveResponse");
    return false;
  }
  DWORD status = 0;
  DWORD status_size = sizeof(status);
  if (!WinHttpQueryHeaders(request.Get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                           WINHTTP_HEADER_NAME_BY_INDEX, &status, &status_size,
                           WINHTTP_NO_HEADER_INDEX)) {
    LogWinHttpError("WinHttpQueryHeaders");
    return false;
  }
  if (status != 200) {
    LOG(ERROR) << base::FormatString("HTTP status %d", static_cast<int>(status));
    return false;
  }
  if (response_body) {
    response_body->clear();
    char chunk[kChunkSize];
    for (;;) {
      DWORD read = 0;
      if (!WinHttpReadData(request.Get(), chunk, sizeof(chunk), &read)) {
        LogWinHttpError("WinHttpReadData");
        return false;
      }
      if (read == 0)
        break;
      response_body->append(chunk, read);
    }
  }
  return true;
}

}  // namespace crash_upload
