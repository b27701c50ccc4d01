// Posts text fields and files as one "multipart/form-data" request over
// WinInet, the whole body built in memory first. Success means status 200
// and a complete answer.
#ifndef CRASH_UPLOAD_NET_WININET_MULTIPART_UPLOAD_H_
#define CRASH_UPLOAD_NET_WININET_MULTIPART_UPLOAD_H_

#include <windows.h>

#include <map>
#include <string>

namespace crash_upload {

// The parts of an http or https URL that a WinInet request needs.
struct CrackedHttpUrl {
  bool https = false;
  std::wstring host;
  std::wstring path;
  WORD port = 0;
};

// Splits |url| with InternetCrackUrlW (host and path of at most 255
// characters). False (and logged) when it cannot be split or its scheme is
// neither "http" nor "https" (any case).
bool CrackHttpUrl(const std::wstring& url, CrackedHttpUrl* out);

class WinInetMultipartUpload {
 public:
  using Parameters = std::map<std::wstring, std::wstring>;
  using Files = std::map<std::wstring, std::wstring>;

  // |timeout_ms|, when given, bounds sending and receiving. |status|, when
  // given, receives the HTTP status (0 until one is read).
  static bool SendRequest(const std::wstring& user_agent_suffix, const std::wstring& url,
                          const Parameters& parameters, const Files& files, const DWORD* timeout_ms,
                          std::wstring* response, int* status);

  // Every name non-empty, of characters 32 to 127 but no double quote: the
  // names go unescaped into quoted header values.
  static bool CheckParameters(const Parameters& parameters);
  static std::wstring GenerateBoundary();
  static std::wstring ContentTypeHeader(const std::wstring& boundary);
  static bool GenerateBody(const Parameters& parameters, const Files& files,
                           const std::wstring& boundary, std::string* body);
  static bool ReadFileContents(const std::wstring& path, std::string* bytes);
  // |request| is a WinInet request handle. Fails (logged) when the answer
  // is longer than 64 KiB or takes longer than 60 s to read.
  static bool ReadResponse(void* request, std::wstring* response);
  // Other limits for ReadResponse (0: the default one), so that a test need
  // not wait a minute.
  static void SetResponseLimitsForTesting(size_t max_bytes, DWORD time_limit_ms);

  // An empty input or a failed conversion gives an empty string.
  static std::string WideToCodePage(const std::wstring& text, UINT code_page);
  static std::wstring UTF8ToWideText(const std::string& text);
};

}  // namespace crash_upload

#endif  // CRASH_UPLOAD_NET_WININET_MULTIPART_UPLOAD_H_
