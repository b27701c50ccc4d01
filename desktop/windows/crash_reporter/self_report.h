// Reports a crashed reporter from outside: this process was started by the
// crashed reporter's handler, reads its crash out of it, writes the crash
// log (and a minidump), releases it and uploads. At most one such report
// every three days per user.
#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_SELF_REPORT_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_SELF_REPORT_H_

#include <windows.h>

#include <cstdint>

#include "base/files/file_path.h"
#include "desktop/windows/crash_reporter/crash_log/size_limited_minidump.h"

namespace crash_reporter {

inline constexpr wchar_t kLastReporterCrashValue[] = L"Last crash in crash reporter";
inline constexpr int kMinDaysBetweenSelfReports = 3;
// FILETIME units per day.
inline constexpr uint64_t kFileTimeUnitsPerDay = 864000000000ull;

void RunCrashReporterSelfReport();

// Whole days from |stored| to |now| (FILETIME values); false when the clock
// is earlier than the stored time.
bool DaysBetween(uint64_t stored, uint64_t now, uint64_t* days);
// Reads the stamp (created as 0 when missing, so that the first report is
// always allowed) and compares it with the clock.
bool GetDaysSinceLastReporterCrash(uint64_t* days);
void StampLastReporterCrash(uint64_t now);

// The code and address of the exception a crashed reporter's block points
// at; 0 and 0 (false) when they cannot be read.
bool ReadSelfReportException(HANDLE process, const ExceptionInfoBlock& block, uint32_t* code,
                             uint64_t* address);

// The self-report log: the crashed reporter's image name, its exception and
// the raw bytes of a minidump of it.
bool WriteSelfReportLogWithMinidump(DWORD pid, uint64_t block_address,
                                    const base::FilePath& log_path, uint64_t size_limit);

}  // namespace crash_reporter

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_SELF_REPORT_H_
