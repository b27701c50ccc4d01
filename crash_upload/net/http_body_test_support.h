#ifndef CRASH_UPLOAD_NET_HTTP_BODY_TEST_SUPPORT_H_
#define CRASH_UPLOAD_NET_HTTP_BODY_TEST_SUPPORT_H_

#include <cstdint>
#include <string>
#include <vector>

#include "crash_upload/net/http_body.h"
#include "gtest/gtest.h"

namespace crash_upload {

// Reads |stream| to its end with reads of |chunk| bytes; false on an error.
// A read that returns more than was asked for, or a stream that never ends,
// fails the test.
inline bool ReadAll(HttpBodyStream* stream, size_t chunk, std::string* out) {
  std::vector<uint8_t> buffer(chunk);
  for (int guard = 0; guard < 1000000; ++guard) {
    int64_t got = stream->GetBytesBuffer(buffer.data(), buffer.size());
    if (got < 0)
      return false;
    if (got == 0)
      return true;
    EXPECT_LE(static_cast<size_t>(got), chunk);
    out->append(reinterpret_cast<const char*>(buffer.data()), static_cast<size_t>(got));
  }
  ADD_FAILURE() << "the stream never ended";
  return false;
}

}  // namespace crash_upload

#endif  // CRASH_UPLOAD_NET_HTTP_BODY_TEST_SUPPORT_H_
