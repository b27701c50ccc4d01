// The form fields of the crash uploads: the crash log and the minidump of a
// client crash, and the uploads of a crashed reporter.
#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_LOG_REPORT_FIELDS_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_LOG_REPORT_FIELDS_H_

#include <windows.h>

#include <map>
#include <string>
#include <string_view>

#include "desktop/windows/crash_reporter/crash_pipe_message.h"

namespace crash_reporter {

// Field name to value. Additions never replace a field: the first value
// given for a name wins.
using ReportFields = std::map<std::wstring, std::wstring>;

inline constexpr wchar_t kReportProductName[] = L"VelmoDesktop";

void BuildCrashLogUploadParameters(const CustomInfo& keys, ReportFields* fields);
// "stacktraceId" from the crash server's pre-flight answer, when not empty.
void AddStacktraceIdField(const std::wstring& report_id, ReportFields* fields);
// |process| is the crashed process's handle (may be null).
void BuildMinidumpUploadParameters(HANDLE process, const CustomInfo& keys, ReportFields* fields);
void BuildSelfReportUploadParameters(DWORD pid, ReportFields* fields);
// The lower-case "email" field alone.
void AddCrashLogEmailField(ReportFields* fields);

// The date of |request_time| ("YYYYMMDD_hhmmss") followed by |buildset|
// padded with zeros to six digits.
std::wstring MakeBuildId(std::wstring_view buildset, std::wstring_view request_time);

// "StartupTime", "CrashTime" and, with a process, "InstallTime". |keys| may
// be null; |now| is the current time as a FILETIME value.
void AddTimeFields(HANDLE process, const CustomInfo* keys, uint64_t now, ReportFields* fields);

}  // namespace crash_reporter

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_LOG_REPORT_FIELDS_H_
