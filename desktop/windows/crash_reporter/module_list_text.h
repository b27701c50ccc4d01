// The "modules" crash key: the crashed process's own list of its modules,
// "name:load address:size:path::" per module (numbers in hexadecimal). The
// crash log falls back on it when the system cannot list the modules.
#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_MODULE_LIST_TEXT_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_MODULE_LIST_TEXT_H_

#include <string_view>
#include <vector>

#include "desktop/windows/crash_reporter/crash_log/process_state_impl.h"

namespace crash_reporter {

// The records up to the first malformed one.
std::vector<FallbackModule> SplitModuleList(std::wstring_view text);

}  // namespace crash_reporter

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_MODULE_LIST_TEXT_H_
