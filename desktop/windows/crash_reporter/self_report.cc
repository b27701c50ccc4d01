#include "desktop/windows/crash_reporter/self_report.h"

#include <psapi.h>

#include <cstdio>
#include <string>
#include <vector>

#include "base/command_line.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/utf_string_conversions.h"
#include "base/win/registry.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/crash_reporter/client_crash_log.h"
#include "desktop/windows/crash_reporter/crash_log/crash_logger.h"
#include "desktop/windows/crash_reporter/crash_log/report_fields.h"
#include "desktop/windows/crash_reporter/crash_log/scoped_stdio_file.h"
#include "desktop/windows/crash_reporter/crash_log/self_report_log.h"
#include "desktop/windows/crash_reporter/crash_log/size_limited_minidump.h"
#include "desktop/windows/crash_reporter/crash_log_directories.h"
#include "desktop/windows/crash_reporter/crash_reporter_flags.h"
#include "desktop/windows/crash_reporter/crash_state_counters.h"
#include "desktop/windows/crash_reporter/reporter_crash_handlers.h"
#include "desktop/windows/crash_reporter/upload/crash_server_urls.h"
#include "desktop/windows/crash_reporter/upload/crash_upload_launchers.h"
#include "desktop/windows/installer/installer_switches.h"
#include "desktop/windows/installer/product_config.h"

namespace crash_reporter {
namespace {

bool OpenReporterRegistryKey(base::win::RegistryKey* key) {
  const std::wstring path = L"Software\\" + base::UTF8ToWide(installer::GetCompanyName());
  const LONG result = key->Create(HKEY_CURRENT_USER, path.c_str(), KEY_QUERY_VALUE | KEY_SET_VALUE);
  if (result != ERROR_SUCCESS) {
    ELOG(ERROR, static_cast<unsigned long>(result)) << "Cannot open the reporter's registry key";
    return false;
  }
  return true;
}

uint64_t CurrentFileTime() {
  FILETIME now;
  ::GetSystemTimeAsFileTime(&now);
  return (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

bool ReadRemote(HANDLE process, uint64_t address, void* out, size_t size) {
  SIZE_T read = 0;
  return ::ReadProcessMemory(process, reinterpret_cast<const void*>(address), out, size, &read) &&
         read == size;
}

}  // namespace

bool DaysBetween(uint64_t stored, uint64_t now, uint64_t* days) {
  if (now < stored)
    return false;
  *days = (now - stored) / kFileTimeUnitsPerDay;
  return true;
}

bool GetDaysSinceLastReporterCrash(uint64_t* days) {
  base::win::RegistryKey key;
  if (!OpenReporterRegistryKey(&key))
    return false;
  uint64_t stored = 0;
  if (key.ReadValueQW(kLastReporterCrashValue, &stored) != ERROR_SUCCESS) {
    stored = 0;
    key.WriteValueQW(kLastReporterCrashValue, 0);
  }
  return DaysBetween(stored, CurrentFileTime(), days);
}

void StampLastReporterCrash(uint64_t now) {
  base::win::RegistryKey key;
  if (!OpenReporterRegistryKey(&key))
    return;
  const LONG result = key.WriteValueQW(kLastReporterCrashValue, now);
  if (result != ERROR_SUCCESS)
    ELOG(ERROR, static_cast<unsigned long>(result)) << "Cannot stamp the reporter's crash";
}

bool ReadSelfReportException(HANDLE process, const ExceptionInfoBlock& block, uint32_t* code,
                             uint64_t* address) {
  // The block holds the crashing thread's id first; the address of its
  // EXCEPTION_POINTERS follows, and the record is what that points at.
  EXCEPTION_POINTERS pointers;
  EXCEPTION_RECORD record;
  if (!ReadRemote(process, block.exception_pointers, &pointers, sizeof(pointers)) ||
      !ReadRemote(process, reinterpret_cast<uint64_t>(pointers.ExceptionRecord), &record,
                  sizeof(record))) {
    *code = 0;
    *address = 0;
    return false;
  }
  *code = record.ExceptionCode;
  *address = reinterpret_cast<uint64_t>(record.ExceptionAddress);
  return true;
}

bool WriteSelfReportLogWithMinidump(DWORD pid, uint64_t block_address,
                                    const base::FilePath& log_path, uint64_t size_limit) {
  base::win::ScopedHandle process(
      ::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid));
  if (!process.IsValid()) {
    PLOG(ERROR) << "Cannot open the crashed reporter " << pid;
    return false;
  }
  wchar_t image[MAX_PATH] = {};
  ::GetProcessImageFileNameW(process.Get(), image, MAX_PATH);
  const std::wstring image_name = base::FilePath(image).BaseName().value();

  ExceptionInfoBlock block;
  if (!ReadRemote(process.Get(), block_address, &block, sizeof(block))) {
    PLOG(ERROR) << "Cannot read the crashed reporter's exception block";
    return false;
  }
  base::FilePath dump_path;
  base::FilePath temp;
  if (!base::GetTempDirectory(&temp) || !base::CreateTemporaryFileInDirectory(temp, &dump_path))
    return false;
  std::string minidump;
  const bool dumped = WriteMinidumpFile(process.Get(), pid, block, dump_path, size_limit) &&
                      base::ReadFileToString(dump_path, &minidump);
  base::DeletePath(dump_path, false);
  if (!dumped || minidump.empty())
    return false;

  uint32_t code = 0;
  uint64_t address = 0;
  ReadSelfReportException(process.Get(), block, &code, &address);

  ScopedStdioFile file(_wfopen(log_path.value().c_str(), L"wb"));
  if (!file.IsValid()) {
    PLOG(ERROR) << "Cannot create the self-report log";
    return false;
  }
  bool written =
      WriteSelfReportLog(file.Get(), image_name, code, address,
                         reinterpret_cast<const uint8_t*>(minidump.data()), minidump.size());
  // Closed here, since a failed close loses what the write buffered.
  written = fclose(file.Release()) == 0 && written;
  if (!written)
    base::DeletePath(log_path, false);
  return written;
}

void RunCrashReporterSelfReport() {
  const base::CommandLine& command_line = *base::CommandLine::ForCurrentProcess();
  DWORD crashed_pid = 0;
  if (!GetParentProcessIdSwitch(command_line, &crashed_pid))
    return;
  uint64_t block_address = 0;
  uint64_t days = 0;
  if (!GetExceptionInfoAddressSwitch(command_line, &block_address) ||
      !GetDaysSinceLastReporterCrash(&days) || days < kMinDaysBetweenSelfReports) {
    SignalSelfReportDone(crashed_pid);
    return;
  }
  const bool minidump_mode = command_line.HasSwitch(installer::kCrashReporterMinidumpSwitch);
  if (!minidump_mode) {
    PrepareSelfReportCommandLine(true);
    CrashLogDirectories& directories = GetCrashLogDirectories();
    InitCrashLogDirectories(command_line, &directories);
    InitReporterLogging();
    GetCrashReporterFlags().Load(command_line, directories.flags_file);
    CrashStateCounters counters(directories.counters_file);
    counters.Increment("crash_reporter", 1, true);
  }

  base::FilePath temp;
  base::GetTempDirectory(&temp);
  const uint32_t sequence = NextCrashSequenceNumber();
  const DWORD own_pid = ::GetCurrentProcessId();
  base::FilePath text_log = temp.Append(MakeCrashLogFileName(own_pid, sequence, L".txt"));
  const bool logged = minidump_mode
                          ? WriteSelfReportLogWithMinidump(crashed_pid, block_address, text_log,
                                                           kSelfReportMinidumpLimit)
                          : WriteAttachedSelfCrashLog(crashed_pid, block_address, text_log);
  if (!logged)
    text_log.clear();
  base::FilePath minidump;
  if (GetCrashReporterFlags().IsAlternativeCrashLoggingEnabled()) {
    const base::FilePath path = temp.Append(MakeCrashLogFileName(own_pid, sequence, L".dmp"));
    if (WriteMinidumpFromBlock(crashed_pid, block_address, path, kSelfReportMinidumpLimit))
      minidump = path;
  }
  ReportFields log_fields;
  AddCrashLogEmailField(&log_fields);
  ReportFields minidump_fields;
  BuildSelfReportUploadParameters(crashed_pid, &minidump_fields);

  SignalSelfReportDone(crashed_pid);

  if (text_log.empty() && minidump.empty())
    return;
  InitCrashServerUrls();
  bool sent = false;
  if (!text_log.empty()) {
    sent |= RunCrashLogUploadNow(text_log, log_fields, !minidump_mode);
    base::DeletePath(text_log, false);
  }
  if (!minidump.empty()) {
    sent |= RunMinidumpUploadNow(minidump, minidump_fields, !minidump_mode);
    base::DeletePath(minidump, false);
  }
  if (sent)
    StampLastReporterCrash(CurrentFileTime());
}

}  // namespace crash_reporter
