// Where the crash reports go: the collector that takes minidumps, the crash
// server that takes crash logs and answers the pre-flight, and the suffix of
// the uploaders' user agent.
#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_UPLOAD_CRASH_SERVER_URLS_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_UPLOAD_CRASH_SERVER_URLS_H_

#include <string>

namespace crash_reporter {

inline constexpr wchar_t kCollectorUrlVariable[] = L"VELMO_ALTERNATIVE_CRASH_SERVER_URL";
inline constexpr wchar_t kCrashUrlVariable[] = L"VELMO_CRASH_SERVER_URL";
inline constexpr wchar_t kBuiltInCollectorUrl[] =
    L"https://crash-stats.velmo-browser.invalid/collector/submit";

// The environment variable that holds the user's e-mail address for crash
// reports: the product name in capitals, then "_CRASH_EMAIL".
std::wstring CrashEmailVariable();

// Fills the three endpoints from the environment and the product
// configuration. Called on the reporter's main thread before any upload;
// the endpoints are only read afterwards.
void InitCrashServerUrls();

const std::wstring& CollectorUrl();
const std::wstring& CrashUrl();
const std::wstring& UploadUserAgentSuffix();

}  // namespace crash_reporter

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_UPLOAD_CRASH_SERVER_URLS_H_
