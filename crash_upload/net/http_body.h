// Request bodies read piece by piece, so that a large file is never copied
// into a second buffer before it is sent: text, a file, and a chain of
// other streams.
#ifndef CRASH_UPLOAD_NET_HTTP_BODY_H_
#define CRASH_UPLOAD_NET_HTTP_BODY_H_

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/scoped_generic.h"

namespace crash_upload {

class HttpBodyStream {
 public:
  virtual ~HttpBodyStream() = default;
  // Above 0: the bytes written into |buffer|; 0: the stream has ended;
  // below 0: an error. A stream is read once, front to back.
  virtual int64_t GetBytesBuffer(uint8_t* buffer, size_t max_length) = 0;
};

class HttpStringBody : public HttpBodyStream {
 public:
  explicit HttpStringBody(std::string bytes) : bytes_(std::move(bytes)) {}
  int64_t GetBytesBuffer(uint8_t* buffer, size_t max_length) override;

 private:
  std::string bytes_;
  size_t position_ = 0;
};

// Closes through LoggingCloseFile, so that a failing close is logged.
struct BodyFileTraits {
  static HANDLE InvalidValue() { return INVALID_HANDLE_VALUE; }
  static void Free(HANDLE& handle);
};
using ScopedBodyFile = base::ScopedGeneric<HANDLE, BodyFileTraits>;

// Opens its file on the first read and closes it at its end.
class HttpFileBody : public HttpBodyStream {
 public:
  enum State { kNotOpened = 0, kError = 1, kFinished = 2, kOpen = 3 };

  explicit HttpFileBody(base::FilePath path) : path_(std::move(path)) {}
  int64_t GetBytesBuffer(uint8_t* buffer, size_t max_length) override;

 private:
  base::FilePath path_;
  ScopedBodyFile file_;
  State state_ = kNotOpened;
};

// Its streams one after the other, as one.
class HttpConcatBody : public HttpBodyStream {
 public:
  explicit HttpConcatBody(std::vector<std::unique_ptr<HttpBodyStream>> streams)
      : streams_(std::move(streams)) {}
  int64_t GetBytesBuffer(uint8_t* buffer, size_t max_length) override;

 private:
  std::vector<std::unique_ptr<HttpBodyStream>> streams_;
  size_t current_ = 0;
};

}  // namespace crash_upload

#endif  // CRASH_UPLOAD_NET_HTTP_BODY_H_
