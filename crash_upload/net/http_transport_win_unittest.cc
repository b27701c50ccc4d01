#include "crash_upload/net/http_transport_win.h"

#include <string>

#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "base/utf_string_conversions.h"
#include "crash_upload/net/multipart_body_builder.h"
#include "gtest/gtest.h"
#include "testing/crash_server/crash_server_client.h"

namespace crash_upload {
namespace {

using testing_crash::CrashServerUrl;
using testing_crash::RecordedRequests;
using testing_crash::UniqueUploadPath;

class HttpTransportWinTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(temp_.CreateUniqueTempDir()); }

  std::unique_ptr<HttpTransport> MakeTransport(const std::string& path,
                                               const MultipartBodyBuilder& builder) {
    std::unique_ptr<HttpTransport> transport = HttpTransport::Create();
    transport->SetURL(base::WideToUTF8(CrashServerUrl(path)));
    transport->SetBodyStream(builder.GetBodyStream());
    auto [name, value] = builder.PopulateContentHeaders();
    transport->SetHeader(name, value);
    return transport;
  }

  base::ScopedTempDir temp_;
};

TEST_F(HttpTransportWinTest, MultipartUploadArrivesWithEveryFieldAndFileByte) {
  // Every byte value, several 4096-byte reads long, with an odd tail.
  std::string dump;
  for (int i = 0; i < 3 * 4096 + 333; ++i)
    dump.push_back(static_cast<char>((i * 7 + i / 256) & 0xFF));
  base::FilePath path = temp_.GetPath().Append(L"file.dmp");
  ASSERT_EQ(static_cast<int>(dump.size()),
            base::WriteFileBytes(path, dump.data(), static_cast<int>(dump.size())));

  MultipartBodyBuilder builder;
  builder.SetFormData("Version", "1.2.3");
  builder.SetFormData("quote\"key", "value with \"quotes\" and 100%");
  builder.SetFormData("Empty", "");
  builder.SetFileAttachment("upload_file_minidump", "file.dmp", path, "application/octet-stream");
  std::string upload_path = UniqueUploadPath("transport");
  std::unique_ptr<HttpTransport> transport = MakeTransport(upload_path, builder);
  std::string response;
  ASSERT_TRUE(transport->ExecuteRequest(&response));
  EXPECT_EQ("received", response);

  auto requests = RecordedRequests(upload_path);
  ASSERT_EQ(1u, requests.size());
  const base::DictValue& request = *requests[0];
  int status = 0;
  request.GetInteger("status", &status);
  ASSERT_EQ(200, status);
  EXPECT_EQ("CrashUploader/0.8.0", testing_crash::RecordedHeader(request, "User-Agent"));
  EXPECT_EQ(3u, testing_crash::RecordedFieldCount(request));
  EXPECT_EQ("1.2.3", testing_crash::RecordedField(request, "Version"));
  EXPECT_EQ("value with \"quotes\" and 100%", testing_crash::RecordedField(request, "quote%22key"));
  bool found = false;
  EXPECT_EQ("", testing_crash::RecordedField(request, "Empty", &found));
  EXPECT_TRUE(found);
  testing_crash::RecordedFile file;
  ASSERT_TRUE(testing_crash::FindRecordedFile(request, "upload_file_minidump", &file));
  EXPECT_EQ("file.dmp", file.filename);
  EXPECT_EQ("application/octet-stream", file.content_type);
  EXPECT_TRUE(file.data == dump) << "sizes " << file.data.size() << " and " << dump.size();
}

TEST_F(HttpTransportWinTest, QueryOfTheAddressReachesTheServer) {
  MultipartBodyBuilder builder;
  builder.SetFormData("Version", "1.2.3");
  const std::string upload_path = UniqueUploadPath("query");
  std::unique_ptr<HttpTransport> transport =
      MakeTransport(upload_path + "?email=user%40example.com&x=1", builder);
  ASSERT_TRUE(transport->ExecuteRequest(nullptr));
  auto requests = RecordedRequests(upload_path);
  ASSERT_EQ(1u, requests.size());
  std::string recorded_path;
  ASSERT_TRUE(requests[0]->GetString("path", &recorded_path));
  EXPECT_EQ(upload_path + "?email=user%40example.com&x=1", recorded_path);
  EXPECT_EQ("1.2.3", testing_crash::RecordedField(*requests[0], "Version"));
}

TEST_F(HttpTransportWinTest, StatusesOtherThan200Fail) {
  for (const char* path : {"/status/201", "/status/204", "/status/500"}) {
    MultipartBodyBuilder builder;
    builder.SetFormData("a", "b");
    std::string response = "untouched";
    EXPECT_FALSE(MakeTransport(path, builder)->ExecuteRequest(&response)) << path;
    EXPECT_EQ("untouched", response) << path;
  }
}

TEST_F(HttpTransportWinTest, MissingAttachmentFailsBeforeAnythingIsSent) {
  MultipartBodyBuilder builder;
  builder.SetFormData("a", "b");
  builder.SetFileAttachment("upload_file_minidump", "gone.dmp", temp_.GetPath().Append(L"gone.dmp"),
                            "");
  std::string upload_path = UniqueUploadPath("missing");
  EXPECT_FALSE(MakeTransport(upload_path, builder)->ExecuteRequest(nullptr));
  // A later request on the same path proves the server was reachable.
  MultipartBodyBuilder good;
  good.SetFormData("a", "b");
  EXPECT_TRUE(MakeTransport(upload_path, good)->ExecuteRequest(nullptr));
  EXPECT_EQ(1u, RecordedRequests(upload_path).size());
}

TEST_F(HttpTransportWinTest, UnreachableServerFails) {
  std::unique_ptr<HttpTransport> transport = HttpTransport::Create();
  // Port 1 on the loopback: nothing listens there.
  transport->SetURL("http://127.0.0.1:1/upload");
  transport->SetBodyStream(std::make_unique<HttpStringBody>("x"));
  EXPECT_FALSE(transport->ExecuteRequest(nullptr));
}

}  // namespace
}  // namespace crash_upload
