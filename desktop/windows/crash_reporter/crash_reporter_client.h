// The installer's side of crash reporting: it makes sure a reporter process
// serves this family of installer processes (the one named on the command
// line, or a new one), connects an out-of-process CrashDumpHandler to the
// reporter's pipe and fills the crash keys page. No failure here stops the
// installer: without a reporter it runs with the system's crash handling.
#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_REPORTER_CLIENT_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_REPORTER_CLIENT_H_

#include <windows.h>

#include <stddef.h>
#include <stdint.h>

#include <string>

#include "base/command_line.h"
#include "desktop/windows/crash_reporter/crash_pipe_message.h"

namespace crash_reporter {

class CrashDumpHandler;

// The event a launched reporter signals once its pipe listens; the name ends
// with the launching process's pid.
inline constexpr wchar_t kCrashReporterInitEventPrefix[] = L"VelmoCrashReporterInitEvent";
// How long a launch waits for that event (or for the reporter's end): a
// reporter that starts slowly on a loaded machine still serves, and the
// crashes it would miss are those that users of loaded machines have.
inline constexpr DWORD kCrashReporterStartTimeoutMs = 30000;
inline constexpr wchar_t kVlautoTestVariable[] = L"VELMO_CRASH_REPORTER_VLAUTO_TEST";
inline constexpr wchar_t kOriginVariable[] = L"VELMO_CRASH_ORIGIN";
// Environment values of this many units or more count as unset.
inline constexpr DWORD kEnvironmentValueUnits = 512;

// Lets exceptions raised inside window callbacks reach the unhandled-
// exception filter, where the system offers the policy functions.
void DisableExceptionCallbackFilter();

// Takes the reporter named by "crash-reporter-pid" or launches one, and
// stores its pid. True when a reporter is known.
bool EnsureCrashReporterProcess();
// "crash-reporter-pid" as an unsigned decimal number; 0 when absent or not a
// number.
uint32_t GetCrashReporterPidFromSwitch();
// Starts this program again as a reporter and waits for it to listen; its
// pid, or 0.
uint32_t LaunchCrashReporter();
// This process's command line plus "crash-reporter-parent-id".
base::CommandLine BuildCrashReporterCommandLine();
// Registers this process with the reporter; keeps the handler only when the
// registration succeeds.
void ConnectCrashReporterClient();
// Fills the keys of the crash keys page that the installer sets.
void InitializeCrashKeys();
// Logs why this process's crashes are not reported, when a reporter was
// asked for and none serves it. Called once the installer's log is open:
// the start-up comes before it.
void LogCrashReportingProblem();

// The reporter serving this family of processes; 0 when none. Children are
// launched with it as "crash-reporter-pid".
uint32_t GetCrashReporterPid();
void SetCrashReporterPid(uint32_t pid);

// The installer's handler, or null when no reporter could be reached.
CrashDumpHandler* GetInstallerCrashHandler();

// The handler's filter: only the first crashing thread is let through;
// every later one sleeps for ever, so that nothing runs on while the first
// crash is handled.
bool CrashFilterFirstThreadOnly(void* context, EXCEPTION_POINTERS* exception_pointers,
                                const AssertionInfo* assertion);
// The handler's dump callback: the exception counts as handled whatever the
// reporter did.
bool OnCrashDumpDone(const wchar_t* dump_folder, const wchar_t* dump_id, void* context,
                     EXCEPTION_POINTERS* exception_pointers, const AssertionInfo* assertion,
                     bool succeeded);
// The crash hook of the guarded window procedures: report, then end.
int DumpAndTerminate(EXCEPTION_POINTERS* exception_pointers);

// An environment variable; empty when unset, empty, or 512 units or longer.
std::wstring ReadEnvironmentVariable(const wchar_t* name);
// "name:base:size:path::" for each of a fixed list of modules loaded here.
std::wstring DescribeNamedModules();
// swprintf into |buffer|; the characters written, or -1 when the text does
// not fit or the format fails.
int FormatWideBounded(wchar_t* buffer, size_t capacity, const wchar_t* format, ...);

}  // namespace crash_reporter

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_REPORTER_CLIENT_H_
