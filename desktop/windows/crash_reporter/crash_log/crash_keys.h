// Lookups in the crash keys a crashed process hands over: name/value entries
// of 64 UTF-16 units each, zero-terminated unless full. Several entries may
// share a name (a long value spread over a run of slots).
#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_LOG_CRASH_KEYS_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_LOG_CRASH_KEYS_H_

#include <string>
#include <string_view>

#include "desktop/windows/crash_reporter/crash_pipe_message.h"

namespace crash_reporter {

// The origin reported for crashes of the automated tests.
inline constexpr wchar_t kAutomationOrigin[] = L"VlAuto";
// The origin token of the second automation (the stress runs): compared with
// the "origin" crash key and reported as it is.
inline constexpr wchar_t kStressAutomationOrigin[] = L"VlAutoStress";

// The text of a name or value: up to its terminator or all 64 units.
std::wstring_view CrashKeyText(const wchar_t (&units)[kCustomInfoTextUnits]);

// The first entry named exactly |name|, or null.
const CustomInfoEntry* FindCrashKeySlot(const CustomInfo& keys, std::wstring_view name);
// The first such entry's value; false when no entry has the name (an empty
// value counts as present).
bool GetCrashKeyValue(const CustomInfo& keys, std::wstring_view name, std::wstring* value);
// The non-empty values of every entry of |name|, in entry order; false when
// the result is empty.
bool JoinCrashKeyValues(const CustomInfo& keys, std::wstring_view name, std::wstring* value);

// kAutomationOrigin when "vlauto_test" holds a value, the stress token when
// "origin" holds exactly it, else empty.
std::wstring DetectCrashOrigin(const CustomInfo& keys);

}  // namespace crash_reporter

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_LOG_CRASH_KEYS_H_
