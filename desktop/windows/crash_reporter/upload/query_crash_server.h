// The pre-flight: a short GET that asks the crash server whether it wants a
// report and under which id.
#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_UPLOAD_QUERY_CRASH_SERVER_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_UPLOAD_QUERY_CRASH_SERVER_H_

#include <windows.h>

#include <string>
#include <string_view>

#include "desktop/windows/crash_reporter/crash_pipe_message.h"

namespace crash_reporter {

enum CrashServerAnswer : int {
  // Redirected with a location that names a report id.
  kCrashServerWantsReport = 0,
  // Status 503.
  kCrashServerBusy = 1,
  // No answer, another status, a redirect without a usable id, a bad URL.
  kCrashServerOther = 2,
};

// Asks |crash_url|. |crash_url_header| and |origin| are sent as
// "X-Velmo-Crash-URL" and "X-Origin" when not empty. |timeout_ms| above 0
// bounds connecting, sending and waiting for the answer.
int QueryCrashServer(const std::wstring& crash_url, const std::wstring& crash_url_header,
                     const std::wstring& origin, std::wstring* report_id, std::wstring* location,
                     DWORD timeout_ms);
// The same against CrashUrl().
int QueryCrashServer(const std::wstring& crash_url_header, const std::wstring& origin,
                     std::wstring* report_id, std::wstring* location, DWORD timeout_ms);

// The pre-flight of one client crash: the crashed page's address (every
// "active_url" slot, joined) and the crash's origin come from its keys.
int QueryCrashServerForCrash(const std::wstring& crash_url, const CustomInfo& keys,
                             std::wstring* report_id, std::wstring* location, DWORD timeout_ms);

// |text| without control characters (below 0x20, and 0x7F). Header values
// made of a crashed client's data pass through it: a CR or LF there would
// start a header of the client's choosing.
std::wstring HeaderSafeText(std::wstring_view text);

}  // namespace crash_reporter

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_UPLOAD_QUERY_CRASH_SERVER_H_
