#include "desktop/windows/crash_reporter/upload/crash_upload_launchers.h"

#include <windows.h>

#include <memory>

#include "base/logging.h"
#include "desktop/windows/crash_reporter/reporter_work_counter.h"
#include "desktop/windows/crash_reporter/upload/crash_upload_task.h"

namespace crash_reporter {
namespace {

DWORD WINAPI RunQueuedUpload(void* parameter) {
  {
    std::unique_ptr<CrashUploadTask> task(static_cast<CrashUploadTask*>(parameter));
    task->Run();
  }  // the job (and, when asked, its file) is gone before the reference is
  ReporterWorkCounter::Get().Release();
  return 0;
}

bool QueueUpload(std::unique_ptr<CrashUploadTask> task) {
  ReporterWorkCounter::Get().AddRef();
  CrashUploadTask* raw = task.release();
  if (!QueueUserWorkItem(RunQueuedUpload, raw, WT_EXECUTELONGFUNCTION)) {
    PLOG(ERROR) << "QueueUserWorkItem for a crash upload";
    task.reset(raw);  // destroyed now, deleting its file when asked
    ReporterWorkCounter::Get().Release();
    return false;
  }
  return true;
}

}  // namespace

bool PostCrashLogUpload(const base::FilePath& path, const ReportFields& fields, bool delete_file) {
  return QueueUpload(std::make_unique<CrashLogUploadTask>(path, delete_file, fields, true));
}

void PostMinidumpUpload(const base::FilePath& path, const ReportFields& fields, bool delete_file) {
  QueueUpload(std::make_unique<MinidumpUploadTask>(path, delete_file, fields, true));
}

bool RunCrashLogUploadNow(const base::FilePath& path, const ReportFields& fields, bool compress) {
  CrashLogUploadTask task(path, true, fields, compress);
  return task.Run();
}

bool RunMinidumpUploadNow(const base::FilePath& path, const ReportFields& fields, bool compress) {
  MinidumpUploadTask task(path, true, fields, compress);
  return task.Run();
}

}  // namespace crash_reporter
