// One HTTP request with a streamed body. HttpTransportWin (over WinHTTP) is
// the only kind; this header stays free of <winhttp.h> so that code which
// needs <wininet.h> can use it.
#ifndef CRASH_UPLOAD_NET_HTTP_TRANSPORT_H_
#define CRASH_UPLOAD_NET_HTTP_TRANSPORT_H_

#include <map>
#include <memory>
#include <string>

#include "crash_upload/net/http_body.h"

namespace crash_upload {

class HttpTransport {
 public:
  static std::unique_ptr<HttpTransport> Create();

  virtual ~HttpTransport() = default;
  // True only on status 200. |response_body|, when given, receives the
  // answer's body.
  virtual bool ExecuteRequest(std::string* response_body) = 0;

  void SetURL(const std::string& url) { url_ = url; }
  void SetMethod(const std::string& method) { method_ = method; }
  // Stores or replaces.
  void SetHeader(const std::string& name, const std::string& value) { headers_[name] = value; }
  void SetBodyStream(std::unique_ptr<HttpBodyStream> stream) { body_stream_ = std::move(stream); }

 protected:
  HttpTransport() = default;

  std::string url_;
  std::string method_ = "POST";
  std::map<std::string, std::string> headers_;
  std::unique_ptr<HttpBodyStream> body_stream_;
  double timeout_seconds_ = 15.0;
};

}  // namespace crash_upload

#endif  // CRASH_UPLOAD_NET_HTTP_TRANSPORT_H_
