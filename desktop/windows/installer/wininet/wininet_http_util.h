// What the downloader reads from WinInet's answers: addresses split into
// their parts, status texts, response headers. The handles are spelled void*
// (HINTERNET) so that this header does not pull in <wininet.h>.
#ifndef DESKTOP_WINDOWS_INSTALLER_WININET_WININET_HTTP_UTIL_H_
#define DESKTOP_WINDOWS_INSTALLER_WININET_WININET_HTTP_UTIL_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace installer::internal {

struct CrackedUrl {
  // Whether the scheme is http or https, the only ones downloaded.
  bool web = false;
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
// Whether the response began with a whole HTTP/1.1 status line: the
// version, a space and a three-digit code.
bool HasHttp11StatusLine(void* request);

enum class ContentLength { kMissing, kValid, kInvalid, kTooLarge };

// Content-Length read as text: WinInet's numeric form turns "-5", "abc" and
// values beyond 32 bits into plausible sizes.
ContentLength QueryContentLength(void* request, uint32_t* out);

// The first byte position and the whole length (0 when not given) of a 206
// answer's Content-Range ("bytes a-b/n"); false when the header is missing
// or not of that form.
bool QueryContentRange(void* request, uint64_t* start, uint64_t* total);
// Whether |text| is a Content-Range value "bytes a-b/n" (n may be "*"); its
// first position into |start|, n into |total| (0 for "*").
bool ParseContentRange(std::wstring_view text, uint64_t* start, uint64_t* total);
// The whole length of a 416 answer's Content-Range ("bytes */n"); false
// when the header is missing or not of that form.
bool QueryUnsatisfiedRangeTotal(void* request, uint64_t* total);

// The absolute address a 3xx answer of |request| (made for |base_url|)
// points to: its Location, resolved against |base_url| when relative.
// False when there is none, or it is no http or https address.
bool ResolveRedirect(void* request, const std::wstring& base_url, std::wstring* target);

}  // namespace installer::internal

#endif  // DESKTOP_WINDOWS_INSTALLER_WININET_WININET_HTTP_UTIL_H_
