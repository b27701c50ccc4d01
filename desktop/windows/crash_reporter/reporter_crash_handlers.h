// The reporter's own crash handling. A reporter never reports itself from
// inside: its handlers note the crash in a fixed block of its memory and
// start the program again to read that block from outside, then wait for it.
#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_REPORTER_CRASH_HANDLERS_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_REPORTER_CRASH_HANDLERS_H_

#include <windows.h>

#include <cstdint>
#include <string>

#include "desktop/windows/crash_reporter/crash_log/size_limited_minidump.h"

namespace crash_reporter {

// Named "VelmoCrashReporterException<pid>": set by the process that reports
// a crashed reporter once it has read what it needs.
inline constexpr wchar_t kSelfReportEventPrefix[] = L"VelmoCrashReporterException";
// The longest a crashed reporter waits for its report.
inline constexpr DWORD kSelfReportWaitMs = 20000;

// Once per process.
void InstallReporterCrashHandlers();

// Prepares the command line that reports a crash of this process, and its
// event. Later calls do nothing.
void PrepareSelfReportCommandLine(bool with_minidump_switch);
// Empty until prepared.
const std::wstring& GetSelfReportCommandLineForTesting();
// The block the handlers fill.
const ExceptionInfoBlock* GetSelfReportBlock();

// Sets the event that releases crashed reporter |pid|.
void SignalSelfReportDone(DWORD pid);

// The running program; false when its path does not fit MAX_PATH.
bool GetOwnExecutablePath(std::wstring* path);

}  // namespace crash_reporter

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_REPORTER_CRASH_HANDLERS_H_
