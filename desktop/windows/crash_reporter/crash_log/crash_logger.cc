#include "desktop/windows/crash_reporter/crash_log/crash_logger.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

#include "base/lazy_instance.h"
#include "base/logging.h"
#include "base/string_util.h"
#include "base/threading/lock.h"
#include "base/threading/thread_local_slot.h"
#include "base/utf_string_conversions.h"
#include "desktop/windows/installer/product_config.h"
#include "desktop/windows/crash_reporter/crash_log/scoped_stdio_file.h"

namespace crash_reporter {
namespace {

constexpr DWORD kMaxLogPath = 261;

base::LazyInstance<base::Lock> g_slot_lock;
base::ThreadLocalSlot g_logger_slot;

void ReserveLoggerSlot() {
  base::AutoLock lock(g_slot_lock.Get());
  if (!g_logger_slot.initialized())
    g_logger_slot.Initialize(nullptr);
}

}  // namespace

CrashLogger::CrashLogger() {
  ReserveLoggerSlot();
  previous_ = Current();
  g_logger_slot.Set(this);
}

CrashLogger::~CrashLogger() { g_logger_slot.Set(previous_); }

// static
CrashLogger* CrashLogger::Current() {
  return g_logger_slot.initialized() ? static_cast<CrashLogger*>(g_logger_slot.Get()) : nullptr;
}

bool CrashLogger::AppendToCrashLog(const base::FilePath& path) {
  if (text_.empty())
    return true;
  bool ok = false;
  {
    ScopedStdioFile file(_wfopen(path.c_str(), L"a"));
    if (!file.IsValid()) {
      LOG(ERROR) << "Cannot open the crash log " << path.value() << " to append to it";
      return false;
    }
    ok = fputs("\nCrash Logger:\n", file.Get()) >= 0 &&
         fwrite(text_.data(), 1, text_.size(), file.Get()) == text_.size() &&
         fflush(file.Get()) == 0;
    if (!ok)
      LOG(ERROR) << "Cannot append to the crash log " << path.value();
  }
  text_.clear();
  return ok;
}

base::FilePath GetReporterLogPath() {
  wchar_t temp[kMaxLogPath];
  DWORD length = ::GetTempPathW(kMaxLogPath, temp);
  if (length == 0 || length >= kMaxLogPath)
    return base::FilePath();
  std::wstring path(temp, length);
  path += base::UTF8ToWide(base::ToLowerASCII(installer::GetProductName()));
  path += L"_crashreporter.log";
  if (path.size() > kMaxLogPath)
    return base::FilePath();
  return base::FilePath(path);
}

bool RotateReporterLog(const base::FilePath& path, int64_t max_size) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (path.empty() || !::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
    return false;
  const int64_t size = (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  if (size <= max_size)
    return false;
  const base::FilePath previous = GetPreviousReporterLogPath(path);
  // Another reporter starting at the same moment may have moved it first.
  return ::MoveFileExW(path.c_str(), previous.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
}

base::FilePath GetPreviousReporterLogPath(const base::FilePath& path) {
  return path.ReplaceExtension(L".old.log");
}

void InitReporterLogging() {
  ReserveLoggerSlot();
  logging::LoggingSettings settings;
  settings.log_file = GetReporterLogPath();
  // Every reporter adds to the same file: past its bound it becomes the
  // previous log (replacing the one before) and a new one starts.
  RotateReporterLog(settings.log_file, kMaxReporterLogSize);
  settings.logging_dest =
      settings.log_file.empty() ? logging::LOG_TO_SYSTEM_DEBUG_LOG : logging::LOG_TO_FILE;
  settings.delete_old = logging::APPEND_TO_OLD_LOG_FILE;
  logging::InitLogging(settings);
  logging::SetLogItems(true, true, true, true);
  logging::SetLogMessageHandler(&ReporterLogMessageHandler);
  logging::SetMinLogLevel(logging::LOG_INFO);
}

bool ReporterLogMessageHandler(int /*severity*/, const char* file, int line, size_t message_start,
                               const std::string& text) {
  CrashLogger* logger = CrashLogger::Current();
  if (!logger)
    return false;
  // Source paths of this build use either separator.
  const char* base_name = file;
  for (const char* c = file; *c; ++c) {
    if (*c == '\\' || *c == '/')
      base_name = c + 1;
  }
  logger->Append(std::string(base_name) + ":" + std::to_string(line) + ":" +
                 text.substr(message_start < text.size() ? message_start : text.size()));
  return true;
}

}  // namespace crash_reporter
