// A body stream that gzip-compresses another one as it is read: the
// minidump upload's body.
#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_UPLOAD_HTTP_GZIP_BODY_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_UPLOAD_HTTP_GZIP_BODY_H_

#include <zlib.h>

#include <memory>

#include "crash_upload/net/http_body.h"

namespace crash_reporter {

class HttpGzipBody : public crash_upload::HttpBodyStream {
 public:
  static constexpr size_t kInputBufferSize = 16384;

  explicit HttpGzipBody(std::unique_ptr<crash_upload::HttpBodyStream> source);
  ~HttpGzipBody() override;
  HttpGzipBody(const HttpGzipBody&) = delete;
  HttpGzipBody& operator=(const HttpGzipBody&) = delete;

  // Starts deflate (level 9, gzip wrapper). Without a successful Init the
  // stream reads as empty.
  bool Init();
  int64_t GetBytesBuffer(uint8_t* buffer, size_t max_length) override;

 private:
  std::unique_ptr<crash_upload::HttpBodyStream> source_;
  std::unique_ptr<uint8_t[]> input_;
  z_stream stream_ = {};
  int flush_ = Z_NO_FLUSH;
  bool active_ = false;
};

}  // namespace crash_reporter

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_UPLOAD_HTTP_GZIP_BODY_H_
