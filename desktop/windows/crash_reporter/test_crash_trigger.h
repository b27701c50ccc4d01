// A crash on request, for tests of the crash path of real installer
// processes. Compiled only when the build enables VELMO_TEST_CRASH_TRIGGER
// (the test scripts do); otherwise the call does nothing.
//
// VELMO_TEST_CRASH=<role>:<kind> with role "frontend", "backend",
// "reporter" or "window" (inside the installer window's procedure, as the
// window is set up) and kind "access-violation", "breakpoint", "invalid-parameter"
// (a real C runtime call with a bad argument) or "pure-call" (a real call of
// a pure virtual function).
#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_TEST_CRASH_TRIGGER_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_TEST_CRASH_TRIGGER_H_

namespace crash_reporter {

inline constexpr wchar_t kTestCrashVariable[] = L"VELMO_TEST_CRASH";
// Names the reporter's flags preference file, which no host provides, so
// that tests can start the real host with crash reporting switched off.
inline constexpr wchar_t kTestCrashFlagsFileVariable[] = L"VELMO_TEST_CRASH_FLAGS_FILE";
// How long a crashing process waits for the reporter, in milliseconds. A
// reporter under the emulator on an oversubscribed machine can take longer to
// log and dump a crash than the usual wait; tests that expect the minidump of
// a real installer's crash set it.
inline constexpr wchar_t kTestDumpWaitVariable[] = L"VELMO_TEST_DUMP_WAIT_MS";

#if defined(VELMO_TEST_CRASH_TRIGGER)
// Crashes the process in the requested way when the variable names |role|.
void MaybeTriggerTestCrash(const char* role);
// Crashes in the way |kind| names; returns only for an unknown kind.
void TriggerCrash(const char* kind);
// Points the flags preference file's path key at the file the variable
// names, if any.
void MaybeOverrideTestFlagsFile();
// The wait the variable names, or |usual| when it is unset.
unsigned long TestDumpRequestTimeout(unsigned long usual);
#else
inline void MaybeTriggerTestCrash(const char*) {}
inline void MaybeOverrideTestFlagsFile() {}
inline unsigned long TestDumpRequestTimeout(unsigned long usual) { return usual; }
#endif

}  // namespace crash_reporter

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_TEST_CRASH_TRIGGER_H_
