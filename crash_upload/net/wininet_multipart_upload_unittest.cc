#include "crash_upload/net/wininet_multipart_upload.h"

#include <string>

#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "base/utf_string_conversions.h"
#include "gtest/gtest.h"
#include "testing/crash_server/crash_server_client.h"
#include "testing/temp_dir_test.h"

namespace crash_upload {
namespace {

using testing_crash::CrashServerUrl;
using testing_crash::RecordedRequests;
using testing_crash::UniqueUploadPath;
using Upload = WinInetMultipartUpload;

using WinInetMultipartUploadTest = ::testing::TempDirTest;

TEST_F(WinInetMultipartUploadTest, FieldsAndFilesArriveWhole) {
  std::string zip;
  for (int i = 0; i < 70000; ++i)
    zip.push_back(static_cast<char>((i * 31 + 7) & 0xFF));
  std::wstring zip_path = WriteFile(L"crash \u00e9.zip", zip).value();
  std::wstring empty_path = WriteFile(L"empty.txt", "").value();
  Upload::Parameters parameters = {
      {L"ProductName", L"VelmoDesktop"}, {L"Version", L"1.0 \u00e9\u4e2d"}, {L"line", L"a\r\nb"}};
  Upload::Files files = {{L"file", zip_path}, {L"empty", empty_path}};
  std::string path = UniqueUploadPath("wininet");
  std::wstring response;
  int status = -1;
  DWORD timeout = 10000;
  ASSERT_TRUE(Upload::SendRequest(L" suffix/1", CrashServerUrl(path), parameters, files, &timeout,
                                  &response, &status));
  EXPECT_EQ(200, status);
  EXPECT_EQ(L"received", response);

  auto requests = RecordedRequests(path);
  ASSERT_EQ(1u, requests.size());
  const base::DictValue& request = *requests[0];
  EXPECT_EQ("CrashReporter/1.0 (Windows) suffix/1",
            testing_crash::RecordedHeader(request, "User-Agent"));
  std::string content_type = testing_crash::RecordedHeader(request, "Content-Type");
  EXPECT_EQ(0u, content_type.find("multipart/form-data; boundary=---------------------------"));
  EXPECT_EQ(3u, testing_crash::RecordedFieldCount(request));
  EXPECT_EQ("VelmoDesktop", testing_crash::RecordedField(request, "ProductName"));
  EXPECT_EQ("1.0 \xc3\xa9\xe4\xb8\xad", testing_crash::RecordedField(request, "Version"));
  EXPECT_EQ("a\r\nb", testing_crash::RecordedField(request, "line"));
  ASSERT_EQ(2u, testing_crash::RecordedFileCount(request));
  testing_crash::RecordedFile file;
  ASSERT_TRUE(testing_crash::FindRecordedFile(request, "file", &file));
  // The file name is the whole path.
  EXPECT_EQ(base::WideToUTF8(zip_path), file.filename);
  EXPECT_EQ("application/octet-stream", file.content_type);
  EXPECT_TRUE(file.data == zip);
  ASSERT_TRUE(testing_crash::FindRecordedFile(request, "empty", &file));
  EXPECT_EQ("", file.data);
}

TEST_F(WinInetMultipartUploadTest, BadFieldNamesFailBeforeConnecting) {
  std::string path = UniqueUploadPath("badname");
  for (const wchar_t* name : {L"a\"b", L"caf\u00e9", L"", L"tab\there"}) {
    Upload::Parameters parameters = {{name, L"v"}};
    EXPECT_FALSE(Upload::CheckParameters(parameters));
    int status = -1;
    EXPECT_FALSE(
        Upload::SendRequest(L"", CrashServerUrl(path), parameters, {}, nullptr, nullptr, &status));
    EXPECT_EQ(0, status);
  }
  EXPECT_TRUE(Upload::CheckParameters({{L"Ok name ~!", L"\u00e9"}}));
  EXPECT_TRUE(RecordedRequests(path).empty());
}

TEST_F(WinInetMultipartUploadTest, ServerAnswersOtherThanAWhole200Fail) {
  int status = 0;
  std::wstring response;
  EXPECT_FALSE(Upload::SendRequest(L"", CrashServerUrl("/status/201"), {{L"a", L"b"}}, {}, nullptr,
                                   &response, &status));
  EXPECT_EQ(201, status);
  // The answer announces more bytes than it sends.
  EXPECT_FALSE(Upload::SendRequest(L"", CrashServerUrl("/short"), {{L"a", L"b"}}, {}, nullptr,
                                   &response, &status));
  EXPECT_EQ(200, status);
  EXPECT_FALSE(Upload::SendRequest(L"", L"ftp://127.0.0.1/x", {{L"a", L"b"}}, {}, nullptr, nullptr,
                                   &status));
  EXPECT_EQ(0, status);
}

TEST_F(WinInetMultipartUploadTest, AnAnswerWithoutEndIsCutOffInBytesAndInTime) {
  // The default limits: a server that streams as fast as it can is cut off
  // by the size limit.
  int status = 0;
  EXPECT_FALSE(Upload::SendRequest(L"", CrashServerUrl("/endless"), {{L"a", L"b"}}, {}, nullptr,
                                   nullptr, &status));
  EXPECT_EQ(200, status);
  // One that sends a byte now and then stays within the bytes for long and
  // is cut off by the time limit (short here; a minute by default).
  Upload::SetResponseLimitsForTesting(0, 1500);
  status = 0;
  EXPECT_FALSE(Upload::SendRequest(L"", CrashServerUrl("/trickle"), {{L"a", L"b"}}, {}, nullptr,
                                   nullptr, &status));
  EXPECT_EQ(200, status);
  // A small size limit cuts off an answer that would otherwise pass.
  Upload::SetResponseLimitsForTesting(4, 0);
  EXPECT_FALSE(Upload::SendRequest(L"", CrashServerUrl(UniqueUploadPath("limit")), {{L"a", L"b"}},
                                   {}, nullptr, nullptr, &status));
  Upload::SetResponseLimitsForTesting(0, 0);
  std::wstring response;
  EXPECT_TRUE(Upload::SendRequest(L"", CrashServerUrl(UniqueUploadPath("limit")), {{L"a", L"b"}},
                                  {}, nullptr, &response, &status));
  EXPECT_EQ(L"received", response);
}

TEST_F(WinInetMultipartUploadTest, MissingFileFailsTheUpload) {
  std::string path = UniqueUploadPath("missingfile");
  Upload::Files files = {{L"file", temp_.GetPath().Append(L"gone.zip").value()}};
  EXPECT_FALSE(Upload::SendRequest(L"", CrashServerUrl(path), {{L"a", L"b"}}, files, nullptr,
                                   nullptr, nullptr));
  EXPECT_TRUE(RecordedRequests(path).empty());
}

TEST_F(WinInetMultipartUploadTest, BoundaryAndBodyLayout) {
  std::wstring boundary = Upload::GenerateBoundary();
  ASSERT_EQ(43u, boundary.size());
  EXPECT_EQ(std::wstring(27, L'-'), boundary.substr(0, 27));
  for (size_t i = 27; i < 43; ++i)
    EXPECT_TRUE(iswxdigit(boundary[i]) && !iswlower(boundary[i])) << boundary;
  EXPECT_EQ(L"Content-Type: multipart/form-data; boundary=" + boundary,
            Upload::ContentTypeHeader(boundary));

  std::string body = "stale";
  ASSERT_TRUE(Upload::GenerateBody({}, {}, L"BND", &body));
  EXPECT_EQ("--BND--\r\n", body);

  std::wstring path = WriteFile(L"f.bin", std::string("x\0y", 3)).value();
  ASSERT_TRUE(Upload::GenerateBody({{L"k", L"v"}}, {{L"file", path}}, L"BND", &body));
  EXPECT_EQ(
      "--BND\r\nContent-Disposition: form-data; name=\"k\"\r\n\r\nv\r\n"
      "--BND\r\nContent-Disposition: form-data; name=\"file\"; filename=\"" +
          base::WideToUTF8(path) + "\"\r\nContent-Type: application/octet-stream\r\n\r\n" +
          std::string("x\0y", 3) + "\r\n--BND--\r\n",
      body);
  EXPECT_FALSE(Upload::GenerateBody({}, {}, L"", &body));
}

}  // namespace
}  // namespace crash_upload
