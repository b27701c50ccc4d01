#include "desktop/windows/crash_reporter/upload/http_gzip_body.h"

#include <zlib.h>

#include <string>
#include <vector>

#include "base/files/scoped_temp_dir.h"
#include "crash_upload/net/http_body_test_support.h"
#include "gtest/gtest.h"

namespace crash_reporter {
namespace {

using crash_upload::HttpBodyStream;
using crash_upload::HttpFileBody;
using crash_upload::HttpStringBody;
using crash_upload::ReadAll;

// Inflates exactly one gzip member that fills |gzip|; false when the data is
// not that.
bool Gunzip(const std::string& gzip, std::string* out) {
  z_stream stream = {};
  if (inflateInit2(&stream, 31) != Z_OK)
    return false;
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(gzip.data()));
  stream.avail_in = static_cast<uInt>(gzip.size());
  int result = Z_OK;
  char buffer[4096];
  while (result == Z_OK) {
    stream.next_out = reinterpret_cast<Bytef*>(buffer);
    stream.avail_out = sizeof(buffer);
    result = inflate(&stream, Z_NO_FLUSH);
    out->append(buffer, sizeof(buffer) - stream.avail_out);
  }
  bool whole = result == Z_STREAM_END && stream.avail_in == 0;
  inflateEnd(&stream);
  return whole;
}

TEST(HttpGzipBodyTest, EmptySourceGivesACompleteEmptyMember) {
  HttpGzipBody body(std::make_unique<HttpStringBody>(""));
  ASSERT_TRUE(body.Init());
  std::string gzip;
  ASSERT_TRUE(ReadAll(&body, 4096, &gzip));
  ASSERT_GE(gzip.size(), 18u);  // header, empty deflate block, CRC and size
  EXPECT_EQ('\x1f', gzip[0]);
  EXPECT_EQ('\x8b', gzip[1]);
  std::string plain = "stale";
  plain.clear();
  EXPECT_TRUE(Gunzip(gzip, &plain));
  EXPECT_EQ("", plain);
}

TEST(HttpGzipBodyTest, LargeSourceRoundTripsThroughSmallReads) {
  // Poorly compressible data larger than several input buffers, so that
  // both the input refill and the full-output path are taken.
  std::string source;
  uint32_t x = 12345;
  for (int i = 0; i < 5 * 16384 + 77; ++i) {
    x = x * 1664525u + 1013904223u;
    source.push_back(static_cast<char>(i % 3 ? (x >> 24) : 'a'));
  }
  HttpGzipBody body(std::make_unique<HttpStringBody>(source));
  ASSERT_TRUE(body.Init());
  std::string gzip;
  ASSERT_TRUE(ReadAll(&body, 100, &gzip));
  std::string plain;
  ASSERT_TRUE(Gunzip(gzip, &plain));
  EXPECT_TRUE(plain == source);
  uint8_t byte;
  EXPECT_EQ(0, body.GetBytesBuffer(&byte, 1));
}

TEST(HttpGzipBodyTest, UninitialisedStreamIsEmptyAndSourceErrorsPassThrough) {
  HttpGzipBody not_started(std::make_unique<HttpStringBody>("data"));
  uint8_t buffer[64];
  EXPECT_EQ(0, not_started.GetBytesBuffer(buffer, sizeof(buffer)));

  base::ScopedTempDir temp;
  ASSERT_TRUE(temp.CreateUniqueTempDir());
  HttpGzipBody failing(std::make_unique<HttpFileBody>(temp.GetPath().Append(L"missing")));
  ASSERT_TRUE(failing.Init());
  EXPECT_LT(failing.GetBytesBuffer(buffer, sizeof(buffer)), 0);
}

}  // namespace
}  // namespace crash_reporter
