// The WinHTTP transport: a synchronous session per request, the whole body
// read from its stream before it is sent.
#ifndef CRASH_UPLOAD_NET_HTTP_TRANSPORT_WIN_H_
#define CRASH_UPLOAD_NET_HTTP_TRANSPORT_WIN_H_

#include <string>

#include "crash_upload/net/http_transport.h"

namespace crash_upload {

class HttpTransportWin : public HttpTransport {
 public:
  HttpTransportWin() = default;
  bool ExecuteRequest(std::string* response_body) override;
};

// Logs the last error of WinHTTP call |function| with its text from
// winhttp.dll or the system.
void LogWinHttpError(const char* function);

}  // namespace crash_upload

#endif  // CRASH_UPLOAD_NET_HTTP_TRANSPORT_WIN_H_
