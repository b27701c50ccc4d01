#include "base/trace_event/trace_file_recording.h"

#include <windows.h>

#include "base/logging.h"
#include "base/trace_event/trace_config.h"
#include "base/trace_event/trace_log.h"
#include "base/utf_string_conversions.h"
#include "base/win/scoped_handle.h"

namespace base::trace_event {
namespace {

// False when |name| is not set.
bool ReadEnvironment(const wchar_t* name, std::wstring* value) {
  const DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
  if (size == 0)
    return false;
  value->resize(size);
  const DWORD length = GetEnvironmentVariableW(name, value->data(), size);
  if (length == 0 || length >= size)
    return false;
  value->resize(length);
  return true;
}

}  // namespace

ScopedTraceFileRecording::ScopedTraceFileRecording() {
  std::wstring base_path;
  if (!ReadEnvironment(L"VELMO_TRACE_FILE", &base_path) || base_path.empty())
    return;
  std::wstring categories;
  ReadEnvironment(L"VELMO_TRACE_CATEGORIES", &categories);
  path_ = base_path + L"." + std::to_wstring(GetCurrentProcessId()) + L".json";
  TraceLog::GetInstance()->SetEnabled(TraceConfig(WideToUTF8(categories)),
                                      TraceLog::kRecordUntilFull);
}

ScopedTraceFileRecording::~ScopedTraceFileRecording() {
  if (path_.empty())
    return;
  WriteNewTraceFile(path_, TraceLog::GetInstance()->Flush());
}

bool WriteNewTraceFile(const std::wstring& path, const std::string& contents) {
  win::ScopedHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.IsValid()) {
    PLOG(ERROR) << "Cannot create the trace file " << WideToUTF8(path);
    return false;
  }
  DWORD written = 0;
  if (!WriteFile(file.Get(), contents.data(), static_cast<DWORD>(contents.size()), &written,
                 nullptr) ||
      written != contents.size()) {
    PLOG(ERROR) << "Cannot write the trace file " << WideToUTF8(path);
    return false;
  }
  return true;
}

}  // namespace base::trace_event
