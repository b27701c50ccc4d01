// A GUID as the lower-case text that names dump files.
#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_GUID_STRING_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_GUID_STRING_H_

#include <windows.h>

#include <string>

namespace crash_reporter {

// "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx" in lower-case hexadecimal.
std::wstring GuidToWideString(const GUID& guid);

}  // namespace crash_reporter

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_GUID_STRING_H_
