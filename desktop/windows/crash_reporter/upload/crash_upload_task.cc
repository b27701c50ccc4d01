#include "desktop/windows/crash_reporter/upload/crash_upload_task.h"

#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/utf_string_conversions.h"
#include "crash_upload/net/http_transport.h"
#include "crash_upload/net/multipart_body_builder.h"
#include "crash_upload/net/wininet_multipart_upload.h"
#include "desktop/windows/crash_reporter/crash_log/crash_log_zip.h"
#include "desktop/windows/crash_reporter/upload/crash_server_urls.h"
#include "desktop/windows/crash_reporter/upload/http_gzip_body.h"

namespace crash_reporter {

CrashUploadTask::CrashUploadTask(base::FilePath path, bool delete_file, ReportFields fields,
                                 bool compress)
    : path_(std::move(path)),
      delete_file_(delete_file),
      fields_(std::move(fields)),
      compress_(compress) {}

CrashUploadTask::~CrashUploadTask() {
  if (delete_file_)
    base::DeletePath(path_, false);
}

bool CrashLogUploadTask::Run() {
  base::FilePath upload_path = path_;
  if (compress_) {
    upload_path = path_.ReplaceExtension(L".zip");
    if (!ZipCrashLog(path_, upload_path)) {
      LOG(ERROR) << "Could not pack the crash log " << path_.AsUTF8Unsafe();
      return false;
    }
  }
  crash_upload::WinInetMultipartUpload::Files files = {{L"file", upload_path.value()}};
  bool sent = crash_upload::WinInetMultipartUpload::SendRequest(
      UploadUserAgentSuffix(), url_.empty() ? CrashUrl() : url_, fields_, files, nullptr, nullptr,
      nullptr);
  if (compress_)
    base::DeletePath(upload_path, false);
  return sent;
}

bool MinidumpUploadTask::Run() {
  crash_upload::MultipartBodyBuilder builder;
  for (const auto& [name, value] : fields_)
    builder.SetFormData(base::WideToUTF8(name), base::WideToUTF8(value));
  builder.SetFileAttachment("upload_file_minidump", base::WideToUTF8(path_.BaseName().value()),
                            path_, "application/octet-stream");
  std::unique_ptr<crash_upload::HttpBodyStream> body = builder.GetBodyStream();
  if (compress_) {
    auto gzip = std::make_unique<HttpGzipBody>(std::move(body));
    if (!gzip->Init())
      return false;
    body = std::move(gzip);
  }
  std::unique_ptr<crash_upload::HttpTransport> transport = crash_upload::HttpTransport::Create();
  transport->SetMethod("POST");
  transport->SetBodyStream(std::move(body));
  transport->SetURL(base::WideToUTF8(url_.empty() ? CollectorUrl() : url_));
  if (compress_)
    transport->SetHeader("Content-Encoding", "gzip");
  auto [header, value] = builder.PopulateContentHeaders();
  transport->SetHeader(header, value);
  return transport->ExecuteRequest(nullptr);
}

}  // namespace crash_reporter
