// Where the reporter keeps its files: the crash-log folder (also its current
// folder), the report-id file, the crash counters and the flags preference
// file, and the names of each crash's files. Also the reporter's switches.
#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_LOG_DIRECTORIES_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_LOG_DIRECTORIES_H_

#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "base/files/file_path.h"
#include "desktop/windows/crash_reporter/crash_pipe_message.h"

namespace base {
class CommandLine;
}

namespace crash_reporter {

// Path keys of the reporter's files. Nothing in the installer provides
// them; a host (or a test) may override them.
inline constexpr int kPathUserDataDirectory = 1002;
inline constexpr int kPathCrashStateCountersFile = 2015;
inline constexpr int kPathReportIdFile = 2016;
inline constexpr int kPathCrashFlagsPreferenceFile = 2017;

// Names the folder for crash logs when set (1 to 259 characters).
inline constexpr wchar_t kCrashLogDirVariable[] = L"VELMO_CRASH_LOG_DIR";
// The report-id file inside that folder when no report-id path is known.
inline constexpr wchar_t kDefaultReportIdFileName[] = L"crash_report_ids.txt";

struct CrashLogDirectories {
  base::FilePath crash_log_folder;
  base::FilePath report_id_file;
  base::FilePath counters_file;
  base::FilePath flags_file;
  bool folder_from_environment = false;
};

// Fills |directories|; false only when no folder at all could be found.
bool InitCrashLogDirectories(const base::CommandLine& command_line,
                             CrashLogDirectories* directories);
// The reporter's process-wide folders (empty until initialised).
CrashLogDirectories& GetCrashLogDirectories();

// "<product>-crashlog-<pid>-<sequence><extension>", product in lower case.
std::wstring MakeCrashLogFileName(DWORD pid, uint32_t sequence, std::wstring_view extension);
base::FilePath GetReportIdFilePath(const CrashLogDirectories& directories, DWORD pid,
                                   uint32_t sequence);
// 1 for the first crash of this process, then 2, 3, ...
uint32_t NextCrashSequenceNumber();

// "<PRODUCT>_CRASH_KEEP_LOGS" is "1" or "yes" (any case).
bool ShouldKeepCrashLogs();

bool GetParentProcessIdSwitch(const base::CommandLine& command_line, DWORD* pid);
bool GetExceptionInfoAddressSwitch(const base::CommandLine& command_line, uint64_t* address);
// The entry named |key| read as hexadecimal.
bool LookupCustomInfoNumber(const CustomInfo& info, std::wstring_view key, uint64_t* value);

}  // namespace crash_reporter

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_LOG_DIRECTORIES_H_
