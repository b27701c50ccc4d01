#include "crash_upload/net/wininet_multipart_upload.h"

#include <wininet.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/string_printf.h"
#include "crash_upload/net/scoped_internet_handle.h"

namespace crash_upload {
namespace {

// The server's answer to an upload is a short text. One that goes on for
// longer than this, in bytes or in time, is cut off: a server that streams
// without end must not keep the reporter alive for good.
constexpr size_t kDefaultMaxResponseBytes = 64 * 1024;
constexpr DWORD kDefaultResponseTimeLimitMs = 60000;
std::atomic<size_t> g_max_response_bytes{kDefaultMaxResponseBytes};
std::atomic<DWORD> g_response_time_limit_ms{kDefaultResponseTimeLimitMs};

void AppendLine(std::string* body, const std::string& line) {
  body->append(line);
  body->append("\r\n");
}

}  // namespace

bool CrackHttpUrl(const std::wstring& url, CrackedHttpUrl* out) {
  wchar_t scheme[16] = {};
  wchar_t host[256] = {};
  wchar_t path[256] = {};
  URL_COMPONENTSW parts = {};
  parts.dwStructSize = sizeof(parts);
  parts.lpszScheme = scheme;
  parts.dwSchemeLength = ARRAYSIZE(scheme);
  parts.lpszHostName = host;
  parts.dwHostNameLength = ARRAYSIZE(host);
  parts.lpszUrlPath = path;
  parts.dwUrlPathLength = ARRAYSIZE(path);
  if (!InternetCrackUrlW(url.c_str(), 0, 0, &parts)) {
    PLOG(ERROR) << "InternetCrackUrl";
    return false;
  }
  out->https = _wcsicmp(scheme, L"https") == 0;
  if (!out->https && _wcsicmp(scheme, L"http") != 0) {
    LOG(ERROR) << "Upload URL scheme is neither http nor https";
    return false;
  }
  out->host = host;
  out->path = path;
  out->port = parts.nPort;
  return true;
}

std::string WinInetMultipartUpload::WideToCodePage(const std::wstring& text, UINT code_page) {
  if (text.empty())
    return std::string();
  int size = WideCharToMultiByte(code_page, 0, text.data(), static_cast<int>(text.size()), nullptr,
                                 0, nullptr, nullptr);
  if (size <= 0)
    return std::string();
  std::string out(size, '\0');
  if (WideCharToMultiByte(code_page, 0, text.data(), static_cast<int>(text.size()), out.data(),
                          size, nullptr, nullptr) != size) {
    return std::string();
  }
  return out;
}

std::wstring WinInetMultipartUpload::UTF8ToWideText(const std::string& text) {
  if (text.empty())
    return std::wstring();
  int size =
      MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (size <= 0)
    return std::wstring();
  std::wstring out(size, L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size);
  return out;
}

bool WinInetMultipartUpload::CheckParameters(const Parameters& parameters) {
  for (const auto& [name, value] : parameters) {
    if (name.empty())
      return false;
    for (wchar_t c : name) {
      if (c < 32 || c > 127 || c == L'"')
        return false;
    }
  }
  return true;
}

std::wstring WinInetMultipartUpload::GenerateBoundary() {
  return base::FormatString16(L"%ls%08X%08X", L"---------------------------", rand(), rand());
}

std::wstring WinInetMultipartUpload::ContentTypeHeader(const std::wstring& boundary) {
  return L"Content-Type: multipart/form-data; boundary=" + boundary;
}

bool WinInetMultipartUpload::GenerateBody(const Parameters& parameters, const Files& files,
                                          const std::wstring& boundary, std::string* body) {
  std::string boundary_utf8 = WideToCodePage(boundary, CP_UTF8);
  if (boundary_utf8.empty())
    return false;
  body->clear();
  for (const auto& [name, value] : parameters) {
    AppendLine(body, "--" + boundary_utf8);
    AppendLine(body,
               "Content-Disposition: form-data; name=\"" + WideToCodePage(name, CP_UTF8) + "\"");
    AppendLine(body, "");
    AppendLine(body, WideToCodePage(value, CP_UTF8));
  }
  for (const auto& [part_name, path] : files) {
    std::string contents;
    if (!ReadFileContents(path, &contents))
      return false;
    std::string file_name = WideToCodePage(path, CP_UTF8);
    std::string name = WideToCodePage(part_name, CP_UTF8);
    if (file_name.empty() || name.empty())
      return false;
    AppendLine(body, "--" + boundary_utf8);
    AppendLine(body, "Content-Disposition: form-data; name=\"" + name + "\"; filename=\"" +
                         file_name + "\"");
    AppendLine(body, "Content-Type: application/octet-stream");
    AppendLine(body, "");
    AppendLine(body, contents);
  }
  AppendLine(body, "--" + boundary_utf8 + "--");
  return true;
}

bool WinInetMultipartUpload::ReadFileContents(const std::wstring& path, std::string* bytes) {
  return base::ReadFileToString(base::FilePath(path), bytes);
}

bool WinInetMultipartUpload::ReadResponse(void* request, std::wstring* response) {
  const size_t max_bytes = g_max_response_bytes.load();
  const DWORD time_limit_ms = g_response_time_limit_ms.load();
  const ULONGLONG start = GetTickCount64();
  wchar_t length_text[32] = {};
  DWORD length_size = sizeof(length_text);
  bool has_length = HttpQueryInfoW(request, HTTP_QUERY_CONTENT_LENGTH, length_text, &length_size,
                                   nullptr) != FALSE;
  uint64_t expected = 0;
  std::string body;
  if (has_length) {
    expected = wcstoull(length_text, nullptr, 10);
    if (expected > max_bytes) {
      LOG(ERROR) << "The upload's answer announces " << expected << " bytes, more than "
                 << max_bytes;
      return false;
    }
    body.reserve(static_cast<size_t>(expected));
  }
  for (;;) {
    DWORD available = 0;
    if (!InternetQueryDataAvailable(request, &available, 0, 0)) {
      PLOG(ERROR) << "Reading the upload's answer failed";
      return false;
    }
    if (available == 0)
      break;
    // One byte past the limit is enough to know it was passed.
    const size_t room = max_bytes - body.size() + 1;
    std::vector<char> chunk(available < room ? available : room, '\0');
    DWORD read = 0;
    if (!InternetReadFile(request, chunk.data(), static_cast<DWORD>(chunk.size()), &read)) {
      PLOG(ERROR) << "Reading the upload's answer failed";
      return false;
    }
    if (read == 0)
      break;
    body.append(chunk.data(), read);
    if (body.size() > max_bytes) {
      LOG(ERROR) << "The upload's answer goes on past " << max_bytes << " bytes";
      return false;
    }
    if (GetTickCount64() - start > time_limit_ms) {
      LOG(ERROR) << "The upload's answer takes longer than " << time_limit_ms << " ms";
      return false;
    }
  }
  if (has_length && body.size() != expected) {
    LOG(ERROR) << "The upload's answer has " << body.size() << " of its " << expected << " bytes";
    return false;
  }
  if (response)
    *response = UTF8ToWideText(body);
  return true;
}

void WinInetMultipartUpload::SetResponseLimitsForTesting(size_t max_bytes, DWORD time_limit_ms) {
  g_max_response_bytes.store(max_bytes ? max_bytes : kDefaultMaxResponseBytes);
  g_response_time_limit_ms.store(time_limit_ms ? time_limit_ms : kDefaultResponseTimeLimitMs);
}

bool WinInetMultipartUpload::SendRequest(const std::wstring& user_agent_suffix,
                                         const std::wstring& url, const Parameters& parameters,
                                         const Files& files, const DWORD* timeout_ms,
                                         std::wstring* response, int* status) {
  if (status)
    *status = 0;
  if (!CheckParameters(parameters)) {
    LOG(ERROR) << "Upload field names must be printable ASCII without a double quote";
    return false;
  }

  CrackedHttpUrl target;
  if (!CrackHttpUrl(url, &target))
    return false;

  std::wstring agent = std::wstring(kWinInetUserAgent) + user_agent_suffix;
  ScopedInternetHandle session(
      InternetOpenW(agent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  if (!session.IsValid()) {
    PLOG(ERROR) << "InternetOpen";
    return false;
  }
  ScopedInternetHandle connection(InternetConnectW(session.Get(), target.host.c_str(), target.port,
                                                   nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0));
  if (!connection.IsValid()) {
    PLOG(ERROR) << "InternetConnect";
    return false;
  }
  DWORD flags = INTERNET_FLAG_NO_COOKIES | (target.https ? INTERNET_FLAG_SECURE : 0);
  ScopedInternetHandle request(HttpOpenRequestW(connection.Get(), L"POST", target.path.c_str(),
                                                nullptr, nullptr, nullptr, flags, 0));
  if (!request.IsValid()) {
    PLOG(ERROR) << "HttpOpenRequest";
    return false;
  }

  std::wstring boundary = GenerateBoundary();
  std::wstring content_type = ContentTypeHeader(boundary);
  if (!HttpAddRequestHeadersW(request.Get(), content_type.c_str(), static_cast<DWORD>(-1),
                              HTTP_ADDREQ_FLAG_ADD)) {
    PLOG(ERROR) << "HttpAddRequestHeaders";
    return false;
  }
  std::string body;
  if (!GenerateBody(parameters, files, boundary, &body)) {
    LOG(ERROR) << "Could not build the upload body";
    return false;
  }

  // Without a caller's time-out a read of the answer still ends: a server
  // that stops sending must not hold the upload for good.
  if (!timeout_ms) {
    DWORD value = g_response_time_limit_ms.load();
    if (!InternetSetOptionW(request.Get(), INTERNET_OPTION_RECEIVE_TIMEOUT, &value,
                            sizeof(value))) {
      PLOG(WARNING) << "InternetSetOption receive time-out";
    }
  }
  if (timeout_ms) {
    DWORD value = *timeout_ms;
    if (!InternetSetOptionW(request.Get(), INTERNET_OPTION_SEND_TIMEOUT, &value, sizeof(value)))
      fprintf(stderr, "Could not unset send timeout, continuing...\n");
    if (!InternetSetOptionW(request.Get(), INTERNET_OPTION_RECEIVE_TIMEOUT, &value,
                            sizeof(value))) {
      fprintf(stderr, "Could not unset receive timeout, continuing...\n");
    }
  }

  if (!HttpSendRequestW(request.Get(), nullptr, 0, body.data(), static_cast<DWORD>(body.size()))) {
    PLOG(ERROR) << "HttpSendRequest";
    return false;
  }

  wchar_t status_text[4] = {};
  DWORD status_size = sizeof(status_text);
  if (!HttpQueryInfoW(request.Get(), HTTP_QUERY_STATUS_CODE, status_text, &status_size, nullptr)) {
    PLOG(ERROR) << "HttpQueryInfo status";
    return false;
  }
  int code = static_cast<int>(wcstol(status_text, nullptr, 10));
  if (status)
    *status = code;
  if (code != 200) {
    LOG(ERROR) << "Upload answered with HTTP status " << code;
    return false;
  }
  // Its failures are logged where they are found.
  return ReadResponse(request.Get(), response);
}

}  // namespace crash_upload
