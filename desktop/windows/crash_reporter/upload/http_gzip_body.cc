#include "desktop/windows/crash_reporter/upload/http_gzip_body.h"

#include "base/logging.h"

namespace crash_reporter {

HttpGzipBody::HttpGzipBody(std::unique_ptr<crash_upload::HttpBodyStream> source)
    : source_(std::move(source)) {}

HttpGzipBody::~HttpGzipBody() {
  if (active_)
    deflateEnd(&stream_);
}

bool HttpGzipBody::Init() {
  input_ = std::make_unique<uint8_t[]>(kInputBufferSize);
  // Window bits 15 + 16: the gzip wrapper, which the collector expects
  // under "Content-Encoding: gzip".
  int result = deflateInit2(&stream_, 9, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY);
  if (result != Z_OK) {
    LOG(ERROR) << "deflateInit2 failed: " << result;
    return false;
  }
  active_ = true;
  return true;
}

int64_t HttpGzipBody::GetBytesBuffer(uint8_t* buffer, size_t max_length) {
  if (!active_)
    return 0;
  uInt max = static_cast<uInt>(max_length);
  if (max == 0)
    return 0;
  stream_.next_out = buffer;
  stream_.avail_out = max;
  for (;;) {
    if (stream_.avail_in == 0 && flush_ != Z_FINISH) {
      int64_t got = source_->GetBytesBuffer(input_.get(), kInputBufferSize);
      if (got < 0)
        return got;
      if (got == 0)
        flush_ = Z_FINISH;
      stream_.next_in = input_.get();
      stream_.avail_in = static_cast<uInt>(got);
    }
    int result = deflate(&stream_, flush_);
    if (result == Z_STREAM_END) {
      deflateEnd(&stream_);
      active_ = false;
      return max - stream_.avail_out;
    }
    if (result != Z_OK) {
      LOG(ERROR) << "deflate failed: " << result;
      return -1;
    }
    if (stream_.avail_out == 0)
      return max;
  }
}

}  // namespace crash_reporter
