// One crash upload: a file, the form fields that go with it, and whether the
// file is deleted when the job ends.
#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_UPLOAD_CRASH_UPLOAD_TASK_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_UPLOAD_CRASH_UPLOAD_TASK_H_

#include <string>

#include "base/files/file_path.h"
#include "desktop/windows/crash_reporter/crash_log/report_fields.h"

namespace crash_reporter {

class CrashUploadTask {
 public:
  CrashUploadTask(base::FilePath path, bool delete_file, ReportFields fields, bool compress);
  // Deletes the file when asked to, whether or not Run ran or succeeded.
  virtual ~CrashUploadTask();
  CrashUploadTask(const CrashUploadTask&) = delete;
  CrashUploadTask& operator=(const CrashUploadTask&) = delete;

  // True when the server accepted the upload.
  virtual bool Run() = 0;

  const base::FilePath& path() const { return path_; }
  // The target in place of the configured endpoint.
  void set_url_for_testing(std::wstring url) { url_ = std::move(url); }

 protected:
  base::FilePath path_;
  bool delete_file_;
  ReportFields fields_;
  bool compress_;
  // Empty: the configured endpoint.
  std::wstring url_;
};

// The text crash log, zipped when |compress|, to the crash URL over WinInet.
class CrashLogUploadTask : public CrashUploadTask {
 public:
  using CrashUploadTask::CrashUploadTask;
  bool Run() override;
};

// The minidump, its body gzip-compressed when |compress|, to the collector
// URL over WinHTTP.
class MinidumpUploadTask : public CrashUploadTask {
 public:
  using CrashUploadTask::CrashUploadTask;
  bool Run() override;
};

}  // namespace crash_reporter

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_UPLOAD_CRASH_UPLOAD_TASK_H_
