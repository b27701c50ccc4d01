#include "desktop/windows/installer/wininet/wininet_http_util.h"

#include <windows.h>
#include <wininet.h>

#include "base/utf_string_conversions.h"

namespace installer::internal {

std::wstring StatusText(const void* info, uint32_t length) {
  if (!info || length == 0)
    return std::wstring();
  const char* bytes = static_cast<const char*>(info);
  if (length >= 2 && bytes[0] != 0 && bytes[1] == 0) {
    const wchar_t* wide = static_cast<const wchar_t*>(info);
    size_t n = 0;
    while (n < length / sizeof(wchar_t) && wide[n])
      ++n;
    return std::wstring(wide, n);
  }
  size_t n = 0;
  while (n < length && bytes[n])
    ++n;
  return base::ASCIIToWide(std::string_view(bytes, n));
}

bool CrackUrl(const std::wstring& url, CrackedUrl* out) {
  wchar_t host[256] = {};
  wchar_t path[4096] = {};
  URL_COMPONENTSW parts = {};
  parts.dwStructSize = sizeof(parts);
  parts.lpszHostName = host;
  parts.dwHostNameLength = 256;
  parts.lpszUrlPath = path;
  parts.dwUrlPathLength = 4096;
  if (!InternetCrackUrlW(url.c_str(), static_cast<DWORD>(url.size()), ICU_DECODE | ICU_ESCAPE,
                         &parts)) {
    return false;
  }
  out->web = parts.nScheme == INTERNET_SCHEME_HTTP || parts.nScheme == INTERNET_SCHEME_HTTPS;
  out->secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
  out->host.assign(host, parts.dwHostNameLength);
  out->port = parts.nPort;
  out->path.assign(path, parts.dwUrlPathLength);
  if (out->path.empty())
    out->path = L"/";
  return true;
}

std::wstring QueryCustomHeader(void* request, const wchar_t* name) {
  std::wstring buffer(256, L'\0');
  for (int attempt = 0; attempt < 2; ++attempt) {
    size_t name_length = wcslen(name);
    if (buffer.size() <= name_length)
      buffer.resize(name_length + 1);
    buffer.replace(0, name_length + 1, std::wstring(name) + L'\0');
    DWORD size = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
    if (HttpQueryInfoW(request, HTTP_QUERY_CUSTOM, buffer.data(), &size, nullptr)) {
      buffer.resize(size / sizeof(wchar_t));
      return buffer;
    }
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER)
      break;
    buffer.assign(size / sizeof(wchar_t) + 1, L'\0');
  }
  return std::wstring();
}

bool HasHeaderLines(void* request) {
  DWORD size = 0;
  HttpQueryInfoW(request, HTTP_QUERY_RAW_HEADERS, nullptr, &size, nullptr);
  if (size == 0)
    return false;
  std::wstring headers(size / sizeof(wchar_t) + 1, L'\0');
  size = static_cast<DWORD>(headers.size() * sizeof(wchar_t));
  if (!HttpQueryInfoW(request, HTTP_QUERY_RAW_HEADERS, headers.data(), &size, nullptr))
    return false;
  // NUL-separated lines: the status line, the headers, an empty line.
  size_t first_end = headers.find(L'\0');
  return first_end != std::wstring::npos && first_end + 1 < headers.size() &&
         headers[first_end + 1] != L'\0';
}

bool HasHttp11StatusLine(void* request) {
  wchar_t line[64] = {};
  DWORD size = sizeof(line) - sizeof(wchar_t);
  // The first of the NUL-separated lines is the status line; a buffer too
  // small for all of them fails, so the lines are read whole only when short.
  if (!HttpQueryInfoW(request, HTTP_QUERY_RAW_HEADERS, line, &size, nullptr)) {
    std::wstring all(size / sizeof(wchar_t) + 1, L'\0');
    size = static_cast<DWORD>(all.size() * sizeof(wchar_t));
    if (!HttpQueryInfoW(request, HTTP_QUERY_RAW_HEADERS, all.data(), &size, nullptr))
      return false;
    wcsncpy(line, all.c_str(), 63);
  }
  std::wstring_view text(line);
  constexpr std::wstring_view kVersion = L"HTTP/1.1 ";
  if (text.size() < kVersion.size() + 3 || text.substr(0, kVersion.size()) != kVersion)
    return false;
  for (size_t i = kVersion.size(); i < kVersion.size() + 3; ++i) {
    if (text[i] < L'0' || text[i] > L'9')
      return false;
  }
  return text.size() == kVersion.size() + 3 || text[kVersion.size() + 3] == L' ';
}

ContentLength QueryContentLength(void* request, uint32_t* out) {
  wchar_t text[64] = {};
  DWORD size = sizeof(text);
  if (!HttpQueryInfoW(request, HTTP_QUERY_CONTENT_LENGTH, text, &size, nullptr))
    return ContentLength::kMissing;
  std::wstring_view value(text, size / sizeof(wchar_t));
  while (!value.empty() && (value.front() == L' ' || value.front() == L'\t'))
    value.remove_prefix(1);
  while (!value.empty() && (value.back() == L' ' || value.back() == L'\t'))
    value.remove_suffix(1);
  if (value.empty() || value.size() > 20)
    return ContentLength::kInvalid;
  uint64_t number = 0;
  for (wchar_t c : value) {
    if (c < L'0' || c > L'9')
      return ContentLength::kInvalid;
    number = number * 10 + static_cast<uint64_t>(c - L'0');
    if (number > 0xFFFFFFFFull)
      return ContentLength::kTooLarge;
  }
  *out = static_cast<uint32_t>(number);
  return ContentLength::kValid;
}

namespace {

// Reads a decimal number of at most 19 digits from the front of |text|.
bool TakeNumber(std::wstring_view* text, uint64_t* value) {
  size_t digits = 0;
  uint64_t number = 0;
  while (digits < text->size() && (*text)[digits] >= L'0' && (*text)[digits] <= L'9') {
    if (digits >= 19)
      return false;
    number = number * 10 + static_cast<uint64_t>((*text)[digits] - L'0');
    ++digits;
  }
  if (digits == 0)
    return false;
  text->remove_prefix(digits);
  *value = number;
  return true;
}

}  // namespace

bool ParseContentRange(std::wstring_view text, uint64_t* start, uint64_t* total) {
  while (!text.empty() && (text.front() == L' ' || text.front() == L'\t'))
    text.remove_prefix(1);
  while (!text.empty() && (text.back() == L' ' || text.back() == L'\t'))
    text.remove_suffix(1);
  constexpr std::wstring_view kUnit = L"bytes ";
  if (text.size() < kUnit.size() || _wcsnicmp(text.data(), kUnit.data(), kUnit.size()) != 0)
    return false;
  text.remove_prefix(kUnit.size());
  uint64_t first = 0, last = 0, length = 0;
  if (!TakeNumber(&text, &first) || text.empty() || text.front() != L'-')
    return false;
  text.remove_prefix(1);
  if (!TakeNumber(&text, &last) || last < first || text.empty() || text.front() != L'/')
    return false;
  text.remove_prefix(1);
  if (text == L"*") {
    length = 0;
  } else if (!TakeNumber(&text, &length) || !text.empty() || last >= length) {
    return false;
  }
  *start = first;
  *total = length;
  return true;
}

bool QueryContentRange(void* request, uint64_t* start, uint64_t* total) {
  wchar_t text[128] = {};
  DWORD size = sizeof(text);
  if (!HttpQueryInfoW(request, HTTP_QUERY_CONTENT_RANGE, text, &size, nullptr))
    return false;
  return ParseContentRange(std::wstring_view(text, size / sizeof(wchar_t)), start, total);
}

bool QueryUnsatisfiedRangeTotal(void* request, uint64_t* total) {
  wchar_t text[128] = {};
  DWORD size = sizeof(text);
  if (!HttpQueryInfoW(request, HTTP_QUERY_CONTENT_RANGE, text, &size, nullptr))
    return false;
  std::wstring_view value(text, size / sizeof(wchar_t));
  while (!value.empty() && (value.front() == L' ' || value.front() == L'\t'))
    value.remove_prefix(1);
  while (!value.empty() && (value.back() == L' ' || value.back() == L'\t'))
    value.remove_suffix(1);
  constexpr std::wstring_view kPrefix = L"bytes */";
  if (value.size() <= kPrefix.size() ||
      _wcsnicmp(value.data(), kPrefix.data(), kPrefix.size()) != 0)
    return false;
  value.remove_prefix(kPrefix.size());
  return TakeNumber(&value, total) && value.empty();
}

bool ResolveRedirect(void* request, const std::wstring& base_url, std::wstring* target) {
  std::wstring location(1024, L'\0');
  for (int attempt = 0;; ++attempt) {
    DWORD size = static_cast<DWORD>(location.size() * sizeof(wchar_t));
    if (HttpQueryInfoW(request, HTTP_QUERY_LOCATION, location.data(), &size, nullptr)) {
      location.resize(size / sizeof(wchar_t));
      break;
    }
    if (attempt > 0 || GetLastError() != ERROR_INSUFFICIENT_BUFFER)
      return false;
    location.assign(size / sizeof(wchar_t) + 1, L'\0');
  }
  if (location.empty())
    return false;
  // Relative addresses are taken relative to the request's own.
  DWORD length = 0;
  InternetCombineUrlW(base_url.c_str(), location.c_str(), nullptr, &length, ICU_NO_ENCODE);
  if (length == 0)
    return false;
  std::wstring combined(length + 1, L'\0');
  length = static_cast<DWORD>(combined.size());
  if (!InternetCombineUrlW(base_url.c_str(), location.c_str(), combined.data(), &length,
                           ICU_NO_ENCODE)) {
    return false;
  }
  combined.resize(length);
  if (_wcsnicmp(combined.c_str(), L"http://", 7) != 0 &&
      _wcsnicmp(combined.c_str(), L"https://", 8) != 0) {
    return false;
  }
  *target = std::move(combined);
  return true;
}

}  // namespace installer::internal
