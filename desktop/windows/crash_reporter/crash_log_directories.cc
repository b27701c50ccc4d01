#include "desktop/windows/crash_reporter/crash_log_directories.h"

#include <atomic>
#include <cwchar>

#include "base/command_line.h"
#include "base/files/file_util.h"
#include "base/files/path_registry.h"
#include "base/logging.h"
#include "base/string_number_conversions.h"
#include "base/string_util.h"
#include "base/utf_string_conversions.h"
#include "desktop/windows/crash_reporter/crash_log/crash_keys.h"
#include "desktop/windows/crash_reporter/test_crash_trigger.h"
#include "desktop/windows/installer/installer_switches.h"
#include "desktop/windows/installer/product_config.h"

namespace crash_reporter {
namespace {

std::atomic<uint32_t> g_crash_sequence{0};

}  // namespace

bool InitCrashLogDirectories(const base::CommandLine& command_line,
                             CrashLogDirectories* directories) {
  if (command_line.HasSwitch(installer::kUserDataDirSwitch)) {
    const base::FilePath user_data = command_line.GetSwitchValuePath(installer::kUserDataDirSwitch);
    if (!user_data.empty())
      base::PathRegistry::OverrideAndCreateIfNeeded(kPathUserDataDirectory, user_data, true, true);
  }
  MaybeOverrideTestFlagsFile();
  base::PathRegistry::Get(kPathCrashStateCountersFile, &directories->counters_file);
  base::PathRegistry::Get(kPathCrashFlagsPreferenceFile, &directories->flags_file);
  base::PathRegistry::Get(kPathReportIdFile, &directories->report_id_file);

  wchar_t folder[MAX_PATH];
  const DWORD length = ::GetEnvironmentVariableW(kCrashLogDirVariable, folder, MAX_PATH);
  if (length >= 1 && length < MAX_PATH) {
    const base::FilePath path(folder);
    if (base::DirectoryExists(path) || base::CreateDirectoryTree(path)) {
      directories->crash_log_folder = path;
      // Without a report-id path the file would be the folder itself; a
      // fixed name keeps it inside the folder.
      const base::FilePath base_name = directories->report_id_file.BaseName();
      directories->report_id_file =
          path.Append(base_name.empty() ? base::FilePath(kDefaultReportIdFileName) : base_name);
      directories->folder_from_environment = true;
    }
  }
  if (directories->crash_log_folder.empty() &&
      !base::GetTempDirectory(&directories->crash_log_folder)) {
    LOG(ERROR) << "No folder for crash logs";
    return false;
  }
  return true;
}

CrashLogDirectories& GetCrashLogDirectories() {
  static CrashLogDirectories* directories = new CrashLogDirectories();
  return *directories;
}

std::wstring MakeCrashLogFileName(DWORD pid, uint32_t sequence, std::wstring_view extension) {
  return base::UTF8ToWide(base::ToLowerASCII(installer::GetProductName())) + L"-crashlog-" +
         std::to_wstring(pid) + L"-" + std::to_wstring(sequence) + std::wstring(extension);
}

base::FilePath GetReportIdFilePath(const CrashLogDirectories& directories, DWORD pid,
                                   uint32_t sequence) {
  if (!directories.folder_from_environment)
    return directories.report_id_file;
  return directories.report_id_file.InsertBeforeExtension(L"-" + std::to_wstring(pid) + L"-" +
                                                          std::to_wstring(sequence));
}

uint32_t NextCrashSequenceNumber() { return g_crash_sequence.fetch_add(1) + 1; }

bool ShouldKeepCrashLogs() {
  const std::wstring name =
      base::UTF8ToWide(base::ToUpperASCII(installer::GetProductName())) + L"_CRASH_KEEP_LOGS";
  // Only short values can mean yes: a longer one does not fit and is no.
  wchar_t value[4];
  const DWORD length = ::GetEnvironmentVariableW(name.c_str(), value, 4);
  if (length == 0 || length >= 4)
    return false;
  const std::wstring_view text(value, length);
  return text == L"1" || base::EqualsCaseInsensitiveASCII(text, L"YES");
}

bool GetParentProcessIdSwitch(const base::CommandLine& command_line, DWORD* pid) {
  if (!command_line.HasSwitch(installer::kCrashReporterParentIdSwitch))
    return false;
  uint64_t value = 0;
  if (!base::StringToUint64(
          command_line.GetSwitchValueASCII(installer::kCrashReporterParentIdSwitch), &value) ||
      value > 0xFFFFFFFFu) {
    return false;
  }
  *pid = static_cast<DWORD>(value);
  return true;
}

bool GetExceptionInfoAddressSwitch(const base::CommandLine& command_line, uint64_t* address) {
  if (!command_line.HasSwitch(installer::kCrashReporterExceptionInfoSwitch))
    return false;
  return base::StringToUint64(
      command_line.GetSwitchValueASCII(installer::kCrashReporterExceptionInfoSwitch), address);
}

bool LookupCustomInfoNumber(const CustomInfo& info, std::wstring_view key, uint64_t* value) {
  std::wstring text;
  if (!GetCrashKeyValue(info, key, &text))
    return false;
  return base::HexStringToUint64(base::WideToUTF8(text), value);
}

}  // namespace crash_reporter
