// What the downloader reads from WinInet's answers: addresses split into
// their parts, status texts, response headers. The handles are spelled void*
// (HINTERNET) so that this header does not pull in <wininet.h>.
#ifndef DESKTOP_WINDOWS_INSTALLER_WININET_WININET_HTTP_UTIL_H_
#define DESKTOP_WINDOWS_INSTALLER_WININET_WININET_HTTP_UTIL_H_

#include <cstdint>
#include <string>

namespace installer::internal {

struct CrackedUrl {
  bool secure = false;
  std::wstring host;
  uint16_t port = 0;
  // With the query; "/" when the address has none.
  std::wstring path;
};

// Splits |url| (host up to 255 characters, path up to 4095); false when it
// cannot be split.
bool CrackUrl(const std::wstring& url, CrackedUrl* out);

// Status texts come as UTF-16 to a wide callback from some WinInet versions
// and as ANSI from others; addresses and URLs are ASCII, so a zero second
// byte tells them apart.
std::wstring StatusText(const void* info, uint32_t length);

// The value of response header |name|; empty when absent.
std::wstring QueryCustomHeader(void* request, const wchar_t* name);

// Whether the response has any header line after its status line.
bool HasHeaderLines(void* request);

enum class ContentLength { kMissing, kValid, kInvalid, kTooLarge };

// Content-Length read as text: WinInet's numeric form turns "-5", "abc" and
// values beyond 32 bits into plausible sizes.
ContentLength QueryContentLength(void* request, uint32_t* out);

}  // namespace installer::internal

#endif  // DESKTOP_WINDOWS_INSTALLER_WININET_WININET_HTTP_UTIL_H_
