// Starting crash uploads: queued on the system thread pool (each holding a
// reference on the reporter's work counter until it is done) or run at once
// on the calling thread.
#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_UPLOAD_CRASH_UPLOAD_LAUNCHERS_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_UPLOAD_CRASH_UPLOAD_LAUNCHERS_H_

#include "base/files/file_path.h"
#include "desktop/windows/crash_reporter/crash_log/report_fields.h"

namespace crash_reporter {

// Queues the zipped upload of the crash log at |path|. False when it could
// not be queued (the file is then deleted at once when |delete_file|).
bool PostCrashLogUpload(const base::FilePath& path, const ReportFields& fields, bool delete_file);
// Queues the gzip-compressed upload of the minidump at |path|.
void PostMinidumpUpload(const base::FilePath& path, const ReportFields& fields, bool delete_file);

// Run the upload on the calling thread and always delete the file
// afterwards; the result is whether the server accepted it.
bool RunCrashLogUploadNow(const base::FilePath& path, const ReportFields& fields, bool compress);
bool RunMinidumpUploadNow(const base::FilePath& path, const ReportFields& fields, bool compress);

}  // namespace crash_reporter

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_UPLOAD_CRASH_UPLOAD_LAUNCHERS_H_
