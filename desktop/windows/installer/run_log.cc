#include "desktop/windows/installer/run_log.h"

#include <windows.h>

#include <string>

#include "base/logging.h"
#include "base/string_util.h"
#include "base/utf_string_conversions.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/installer_folders.h"
#include "desktop/windows/installer/installer_switches.h"
#include "desktop/windows/installer/product_config.h"

namespace installer {
namespace {

constexpr wchar_t kLogExtension[] = L".log";

// Opens |path| for appending, as the logging does; the system's error when
// that fails, else 0.
DWORD CheckAppendable(const base::FilePath& path) {
  base::win::ScopedHandle file(::CreateFileW(
      path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  return file.IsValid() ? 0 : ::GetLastError();
}

bool StartLogging(const base::FilePath& path) {
  logging::LoggingSettings settings;
  settings.logging_dest = logging::LOG_TO_FILE;
  settings.log_file = path;
  settings.delete_old = logging::APPEND_TO_OLD_LOG_FILE;
  return logging::InitLogging(settings);
}

// Whether |path| is named as the installer names its logs.
bool HasRunLogName(const base::FilePath& path) {
  if (!path.IsAbsolute())
    return false;
  const std::wstring name = base::ToLowerASCII(path.BaseName().value());
  const std::wstring prefix = base::ASCIIToWide(FormatWithProductName("%s_installer_", true));
  return name.starts_with(prefix) && name.ends_with(kLogExtension);
}

// Whether the existing |path| is a file of its own: no folder, and no link
// that would lead the lines into another file.
bool IsPlainFile(const base::FilePath& path) {
  base::win::ScopedHandle file(::CreateFileW(
      path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  BY_HANDLE_FILE_INFORMATION info = {};
  return file.IsValid() && ::GetFileInformationByHandle(file.Get(), &info) &&
         !(info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) &&
         info.nNumberOfLinks == 1;
}

// Why the log that "log-file" names cannot be added to; empty when it can,
// or when none is named.
std::string CheckNamedRunLog(const base::CommandLine& command_line, base::FilePath* named) {
  if (!command_line.HasSwitch(kLogFileSwitch))
    return std::string();
  *named = command_line.GetSwitchValuePath(kLogFileSwitch);
  const std::string shown = named->AsUTF8Unsafe();
  if (!HasRunLogName(*named))
    return "The run's log " + shown + " is no installer log; writing a log of its own";
  if (const DWORD error = CheckAppendable(*named)) {
    return "Cannot add to the run's log " + shown + " (" + logging::SystemErrorCodeToString(error) +
           "); writing a log of its own";
  }
  if (!IsPlainFile(*named))
    return "The run's log " + shown + " is no installer log; writing a log of its own";
  return std::string();
}

}  // namespace

bool IsRunLogFile(const base::FilePath& path) {
  return HasRunLogName(path) && CheckAppendable(path) == 0 && IsPlainFile(path);
}

bool OpenRunLog(const base::CommandLine& command_line) {
  std::string named_unusable;
  if (command_line.HasSwitch(kBackendSwitch)) {
    base::FilePath named;
    named_unusable = CheckNamedRunLog(command_line, &named);
    if (!named.empty() && named_unusable.empty()) {
      if (StartLogging(named))
        return true;
      named_unusable =
          "Cannot open the run's log " + named.AsUTF8Unsafe() + "; writing a log of its own";
    }
  }
  const base::FilePath own = CreateNewLogFile(ComputeLogFilePath());
  const DWORD error = CheckAppendable(own);
  if (error == 0 && StartLogging(own)) {
    if (!named_unusable.empty())
      LOG(WARNING) << named_unusable;
    return true;
  }
  // Nothing of the run would be kept: what it logs goes where whoever
  // started it can see it. Not an error of the run, which goes on.
  logging::LoggingSettings settings;
  settings.logging_dest = logging::LOG_TO_STDERR | logging::LOG_TO_SYSTEM_DEBUG_LOG;
  logging::InitLogging(settings);
  if (!named_unusable.empty())
    LOG(WARNING) << named_unusable;
  LOG(WARNING) << "Cannot write the installer log " << own << " ("
               << logging::SystemErrorCodeToString(error)
               << "); this process logs to its standard error";
  return false;
}

bool AddToNamedRunLog(const base::CommandLine& command_line) {
  base::FilePath named;
  const std::string unusable = CheckNamedRunLog(command_line, &named);
  if (named.empty())
    return false;
  if (!unusable.empty()) {
    // Said on the debugger, where this process's lines go without a log.
    LOG(WARNING) << unusable;
    return false;
  }
  return StartLogging(named);
}

void AppendRunLogSwitch(base::CommandLine* command_line) {
  const base::FilePath log = logging::GetLogFilePath();
  if (!log.empty())
    command_line->AppendSwitchPath(kLogFileSwitch, log);
}

}  // namespace installer
