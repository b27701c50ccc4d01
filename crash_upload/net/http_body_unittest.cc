#include "crash_upload/net/http_body.h"

#include <string>
#include <vector>

#include "crash_upload/net/http_body_test_support.h"
#include "crash_upload/net/multipart_body_builder.h"
#include "gtest/gtest.h"
#include "testing/temp_dir_test.h"

namespace crash_upload {
namespace {

std::string BinaryBytes(size_t size) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i)
    bytes[i] = static_cast<char>((i * 131 + i / 256) & 0xFF);
  return bytes;
}

using HttpBodyTest = ::testing::TempDirTest;

TEST_F(HttpBodyTest, StringAndFileStreamsGiveTheirBytesInPiecesThenEnd) {
  std::string text = BinaryBytes(1000);
  HttpStringBody string_body(text);
  std::string out;
  ASSERT_TRUE(ReadAll(&string_body, 7, &out));
  EXPECT_EQ(text, out);
  uint8_t byte = 0;
  EXPECT_EQ(0, string_body.GetBytesBuffer(&byte, 1));

  // Larger than any single read, not a multiple of the chunk.
  std::string file_bytes = BinaryBytes(3 * 65536 + 17);
  HttpFileBody file_body(WriteFile(L"data.bin", file_bytes));
  out.clear();
  ASSERT_TRUE(ReadAll(&file_body, 4096, &out));
  EXPECT_EQ(file_bytes, out);
  EXPECT_EQ(0, file_body.GetBytesBuffer(&byte, 1));

  HttpFileBody empty_file(WriteFile(L"empty.bin", ""));
  EXPECT_EQ(0, empty_file.GetBytesBuffer(&byte, 1));
}

TEST_F(HttpBodyTest, MissingFileFailsOnEveryRead) {
  HttpFileBody body(temp_.GetPath().Append(L"missing.bin"));
  uint8_t buffer[16];
  EXPECT_LT(body.GetBytesBuffer(buffer, sizeof(buffer)), 0);
  EXPECT_LT(body.GetBytesBuffer(buffer, sizeof(buffer)), 0);
}

TEST_F(HttpBodyTest, ConcatenationFillsTheBufferAcrossStreamsAndStopsOnAnError) {
  std::vector<std::unique_ptr<HttpBodyStream>> streams;
  streams.push_back(std::make_unique<HttpStringBody>(""));
  streams.push_back(std::make_unique<HttpStringBody>("abc"));
  streams.push_back(std::make_unique<HttpFileBody>(WriteFile(L"f.bin", "defgh")));
  streams.push_back(std::make_unique<HttpStringBody>(""));
  streams.push_back(std::make_unique<HttpStringBody>("ij"));
  HttpConcatBody body(std::move(streams));
  uint8_t buffer[6];
  // The empty first stream does not end the read: the call goes on with the
  // next streams until the buffer is full.
  ASSERT_EQ(6, body.GetBytesBuffer(buffer, sizeof(buffer)));
  EXPECT_EQ("abcdef", std::string(reinterpret_cast<char*>(buffer), 6));
  ASSERT_EQ(4, body.GetBytesBuffer(buffer, sizeof(buffer)));
  EXPECT_EQ("ghij", std::string(reinterpret_cast<char*>(buffer), 4));
  EXPECT_EQ(0, body.GetBytesBuffer(buffer, sizeof(buffer)));
  EXPECT_EQ(0, body.GetBytesBuffer(buffer, 0));

  std::vector<std::unique_ptr<HttpBodyStream>> failing;
  failing.push_back(std::make_unique<HttpStringBody>("ab"));
  failing.push_back(std::make_unique<HttpFileBody>(temp_.GetPath().Append(L"missing.bin")));
  failing.push_back(std::make_unique<HttpStringBody>("cd"));
  HttpConcatBody failing_body(std::move(failing));
  EXPECT_LT(failing_body.GetBytesBuffer(buffer, sizeof(buffer)), 0);
}

TEST_F(HttpBodyTest, BuilderBoundaryAndEmptyBody) {
  MultipartBodyBuilder builder;
  const std::string& boundary = builder.boundary();
  ASSERT_EQ(56u, boundary.size());
  EXPECT_EQ(0u, boundary.find("---MultipartBoundary-"));
  EXPECT_EQ("---", boundary.substr(53));
  for (size_t i = 21; i < 53; ++i)
    EXPECT_TRUE(isalnum(static_cast<unsigned char>(boundary[i]))) << boundary;
  EXPECT_NE(boundary, MultipartBodyBuilder().boundary());

  std::string out;
  ASSERT_TRUE(ReadAll(builder.GetBodyStream().get(), 4096, &out));
  EXPECT_EQ("--" + boundary + "--\r\n", out);
  auto header = builder.PopulateContentHeaders();
  EXPECT_EQ("Content-Type", header.first);
  EXPECT_EQ("multipart/form-data; boundary=" + boundary, header.second);
}

TEST_F(HttpBodyTest, BuilderBodyLayoutEncodingAndReplacement) {
  EXPECT_EQ("a%0d%0ab%22c%25d", MultipartBodyBuilder::EncodeMimeField("a\r\nb\"c%d"));

  MultipartBodyBuilder builder;
  builder.SetFormData("b", "first");
  builder.SetFormData("a\"q", "v\"1%");
  builder.SetFileAttachment("b", "ignored.txt", temp_.GetPath().Append(L"x"), "");
  // A field of the same key replaces the attachment and the other way round.
  builder.SetFormData("b", "second");
  base::FilePath path = WriteFile(L"dump.dmp", std::string("\0\1\2", 3));
  builder.SetFileAttachment("file", "du\"mp.dmp", path, "");
  std::string out;
  ASSERT_TRUE(ReadAll(builder.GetBodyStream().get(), 5, &out));
  const std::string& b = builder.boundary();
  std::string expected =
      "--" + b + "\r\nContent-Disposition: form-data; name=\"a%22q\"\r\n\r\nv\"1%\r\n" + "--" + b +
      "\r\nContent-Disposition: form-data; name=\"b\"\r\n\r\nsecond\r\n" + "--" + b +
      "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"du%22mp.dmp\"\r\n" +
      "Content-Type: application/octet-stream\r\n\r\n" + std::string("\0\1\2", 3) + "\r\n" + "--" +
      b + "--\r\n";
  EXPECT_EQ(expected, out);
  // The builder stays usable: a second stream gives the same body.
  std::string again;
  ASSERT_TRUE(ReadAll(builder.GetBodyStream().get(), 4096, &again));
  EXPECT_EQ(expected, again);
}

TEST_F(HttpBodyTest, BuilderStopsOnAContentTypeOutsideTheAllowedCharacters) {
  MultipartBodyBuilder builder;
  builder.SetFileAttachment("ok", "f", temp_.GetPath().Append(L"x"), "application/x-dump+v1.2_b");
  EXPECT_DEATH(builder.SetFileAttachment("bad", "f", temp_.GetPath().Append(L"x"),
                                         "text/plain; charset=utf-8"),
               "");
}

}  // namespace
}  // namespace crash_upload
